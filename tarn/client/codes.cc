// The text table of result codes: the middleware's own and every code the client library
// produces, so that one function answers for any code an application sees.
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include "ostrel/api/middleware/kxTarn_API.h"
#include "tarn/client/codes.h"
#include "tarn/client/directory.h"

namespace {

const std::map<int, const wchar_t*>& texts() {
  static const std::map<int, const wchar_t*> table = {
      {0, L"success"},
      {-1, L"the server has no recorded connection state"},
      {-2, L"the record has no name"},
      {99, L"no remote service reference could be obtained for the server and position"},
      {100, L"the contender listing call raised an exception"},
      {103, L"the partial batch write raised an exception"},
      {104, L"the type read or query raised an exception"},
      {123, L"the remote call raised an exception"},
      {137, L"the master switch call raised an exception"},
      {142, L"a CORBA system exception while the creation batch was built or sent"},
      {2001, L"no such server in the settings"},
      {2002, L"the server does not answer"},
      {2003, L"no such data point, port or event box"},
      {2004, L"the receive connection was refused for a passing reason; try again"},
      {2005, L"an object of that name exists already"},
      {2006, L"the value's size differs from its type's size"},
      {2007, L"unknown data type"},
      {2008, L"nothing was received before the wait ended"},
      {2009, L"the settings file cannot be written"},
      {2010, L"a null or malformed argument"},
      {2011, L"no such connection handle"},
      {2012, L"an event's size differs from its type's size"},
      {2013, L"no such snapshot"},
      {2014, L"the file cannot be read or written"},
      {2015, L"the server is not connected"},
      {2016, L"the remote call raised an exception"},
      {2017, L"the buffer is too small for the value"},
      {2018, L"the event box does not take that event code"},
      {2019, L"the event box or port is full"},
      {2020, L"no server was named and none holds position \"own\""},
      {2021, L"no such field in the data type"},
      {2022, L"the server holds as many of these as its budget allows (see tarnd --help)"},
      {2023, L"the realm still holds data points, ports or event boxes"},
      {2024, L"no received packet of that connection awaits a reply"},
      {2025, L"the middleware client has ended"},
      {2026, L"not permitted: the server's rights file does not grant this client that right in this realm (tarnd --rights)"},
      {2030, L"this server does not offer the operation"},
      {2035, L"the change is in effect but not on the server's disk yet: it is lost if the server stops before its disk takes writes again"},
      {2040, L"the script interpreter was given nothing to run"},
      {2041, L"the script has a line that cannot be read"},
      {2042, L"no script is running"},
      {2043, L"the script was stopped"},
      {2050, L"the snapshot file name is empty, absolute or leaves the server's data folder"},
      {2051, L"the snapshot file is cut short or corrupt; nothing was loaded"},
      {2052, L"the snapshot file was written by a newer format version; nothing was loaded"},
      {3000, L"no server name was given and the middleware names no default server"},
      {3007, L"the array index is out of range"},
      {3014, L"the record is not valid: it has no value block, or fewer bytes than its type or the field needs"},
      {3015, L"a count below zero"},
      {3016, L"a null array with a count above zero"},
      {3020, L"the contender name is null"},
      {4000, L"the record has no data type, or the type name is not registered"},
      {4001, L"the record's block is smaller than the value"},
      {4002, L"the path names an element that the data type does not have"},
      {4003, L"no server name was given and the middleware names no default server"},
      {4004, L"the path goes through an element whose data type is unknown"},
  };
  return table;
}

// The settings error as wide text (UTF-8 decoded; a broken sequence becomes U+FFFD).
std::wstring widen(const std::string& text) {
  std::wstring wide;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    const int extra = lead < 0x80 ? 0 : (lead >> 5) == 6 ? 1 : (lead >> 4) == 14 ? 2 : (lead >> 3) == 30 ? 3 : -1;
    // Decoded in 32 bits: a 16-bit wchar_t (Windows) cannot hold a code point past U+FFFF.
    char32_t c = extra == 0 ? lead : extra == 1 ? (lead & 0x1F) : extra == 2 ? (lead & 0x0F) : (lead & 0x07);
    bool whole = extra >= 0 && i + extra < text.size();
    for (int k = 1; whole && k <= extra; ++k) {
      const unsigned char next = static_cast<unsigned char>(text[i + k]);
      whole = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    if (!whole || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      wide.push_back(L'\uFFFD');
    } else if (sizeof(wchar_t) == 2 && c > 0xFFFF) {
      wide.push_back(static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10)));
      wide.push_back(static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      wide.push_back(static_cast<wchar_t>(c));
    }
    i += whole ? extra + 1 : 1;
  }
  return wide;
}

}  // namespace

const wchar_t* get_error_string(int code) {
  if (code == tarn::kSettingsUnusable) {
    // The text names the file and the cause, so it is made for each distinct cause and kept.
    static std::mutex mutex;
    static std::map<std::string, std::wstring> made;
    const std::string cause = tarn::Directory::get().settingsError();
    std::lock_guard<std::mutex> hold(mutex);
    std::wstring& text = made[cause];
    if (text.empty()) text = L"the settings file cannot be used: " + widen(cause.empty() ? "(it can be now)" : cause);
    return text.c_str();
  }
  const auto& table = texts();
  auto it = table.find(code);
  if (it != table.end()) return it->second;
  // Unknown codes get a text of their own that stays valid for the life of the process.
  static std::mutex mutex;
  static std::map<int, std::wstring> unknown;
  std::lock_guard<std::mutex> hold(mutex);
  std::wstring& text = unknown[code];
  if (text.empty()) text = L"unknown result code " + std::to_wstring(code);
  return text.c_str();
}

void kx_free_buffer(char* buffer) { ::operator delete(buffer); }
