// A small application built against the installed library: it replaces and restores a slot,
// builds a typed record, reads the type's layout, and writes and reads a data point on the
// embedded server, as an application would.
#include <cstdio>
#include <cwchar>

#include <ostrel/api/ostrel.h>
#include <ostrel/data/record.h>
#include <ostrel/data/type_mgr.h>

int main() {
  const wchar_t* text = Ostrel::GetErrorString(2015);
  if (!text || std::wcslen(text) == 0) return 1;
  OstrelFunc::Interprete = [](const char*, const char*) { return 7; };
  if (Ostrel::Interprete("x", "y") != 7) return 2;
  OstrelFunc::loadDefault();

  Ostrel::BuildOstrel();
  TarnDataType* type = TarnTypeMgr::GetInstance()->GetDataType("AnalogPoint");
  if (!type) return 3;
  for (const auto& element : type->GetAllElement())
    std::printf("  %-8s offset %u\n", element.first.c_str(), element.second->offset);

  if (Ostrel::ConnectTarn(nullptr) != 0) return 4;
  BrennicData flow("AnalogPoint", 0);
  flow.PutValue("value", 12.5);
  if (Ostrel::CreateDataPoint("consumer.flow", flow, nullptr, nullptr) != 0) return 5;
  BrennicData back;
  if (Ostrel::GetDataPoint("consumer.flow", back, nullptr, nullptr) != 0) return 6;
  if (back.GetDoubleValue("value") != 12.5) return 7;
  std::printf("consumer: %ls; consumer.flow = %g\n", text, back.GetDoubleValue("value"));
  Ostrel::ExitOstrel();
  return 0;
}
