// An application of ostrel.dll as a Windows developer builds one: the library's headers, linked
// with the import library libostrel.dll.a, against the Linux tarnd that the test driver names
// as server "plant" in TARN_SETTINGS. Wide texts are 16-bit here: a wchar field keeps UTF-16
// units, a char field keeps text in the process's ANSI code page.
#include <windows.h>

#include <cwchar>
#include <string>

#include <gtest/gtest.h>

#include "ostrel/api/ostrel.h"
#include "ostrel/data/meta_data.h"
#include "ostrel/data/record.h"

namespace {

std::string systemToAnsi(const std::wstring& text) {
  const int n = ::WideCharToMultiByte(::GetACP(), 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                      nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(::GetACP(), 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
  return out;
}

class DllClient : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(0, Ostrel::ConnectTarn("plant")) << "tarnd named in TARN_SETTINGS"; }
  void TearDown() override { Ostrel::DisConnectTarn("plant"); }
};

TEST_F(DllClient, WideAndAnsiTextsCrossTheServerAndComeBackAsMetaData) {
  ASSERT_EQ(2u, sizeof(wchar_t));
  const std::string name = "dll.alarm." + std::to_string(::GetCurrentProcessId());
  const std::wstring wide = L"\u00fcn\u00ef \u20ac\U0001F600\u03a9";  // a surrogate pair inside
  const std::wstring ansiText = L"Gr\u00fc\u00dfe \u20ac";

  BrennicData alarm("Alarm", 0);
  ASSERT_EQ(0, alarm.PutValue("code", 7));
  ASSERT_EQ(0, alarm.PutValue("wtext", wide.c_str()));
  ASSERT_EQ(0, alarm.PutValue("text", systemToAnsi(ansiText).c_str())) << "an application's ANSI text";
  ASSERT_EQ(0, Ostrel::CreateDataPoint(name.c_str(), alarm, "plant", nullptr));

  BrennicData back("Alarm", 0);
  ASSERT_EQ(0, Ostrel::GetDataPoint(name.c_str(), back, "plant", nullptr));
  EXPECT_EQ(7, back.GetSignedIntValue("code"));

  const unsigned short* units = back.GetWStringValue("wtext");
  ASSERT_NE(nullptr, units);
  EXPECT_EQ(wide, std::wstring(reinterpret_cast<const wchar_t*>(units))) << "UTF-16 units, unchanged";

  BrennicMetaData meta;
  ASSERT_EQ(0, back.GetMetaData("wtext", meta));
  EXPECT_EQ(wide, std::wstring(meta.value));
  ASSERT_EQ(0, back.GetMetaData("text", meta));
  EXPECT_EQ(ansiText, std::wstring(meta.value)) << "the char field holds the text in code page " << ::GetACP();

  // Written back as meta data, a character outside the code page becomes what the system's
  // conversion makes of it; the wide field keeps every character.
  std::wcscpy(meta.value, L"Gr\u00fc\u00dfe \u03a9");
  ASSERT_EQ(0, back.PutMetaData(meta));
  EXPECT_EQ(systemToAnsi(meta.value), std::string(back.GetRawValue() + 16)) << "code page " << ::GetACP();
  ASSERT_EQ(0, back.GetMetaData("wtext", meta));
  std::wcscpy(meta.value, L"\u03a9\U0001F600");
  ASSERT_EQ(0, back.PutMetaData(meta));
  EXPECT_EQ(std::wstring(L"\u03a9\U0001F600"), reinterpret_cast<const wchar_t*>(back.GetWStringValue("wtext")));

  EXPECT_EQ(0, Ostrel::DeleteDataPoint(name.c_str(), "plant", nullptr));
}

TEST_F(DllClient, ErrorTextsAreWide) {
  EXPECT_EQ(std::wstring(L"success"), Ostrel::GetErrorString(0));
  EXPECT_EQ(std::wstring(L"unknown result code 424242"), Ostrel::GetErrorString(424242));
  BrennicData missing("Alarm", 0);
  const int rc = Ostrel::GetDataPoint("dll.no.such.point", missing, "plant", nullptr);
  EXPECT_NE(0, rc);
  EXPECT_EQ(std::wstring::npos, std::wstring(Ostrel::GetErrorString(rc)).find(L"unknown result")) << rc;
}

}  // namespace
