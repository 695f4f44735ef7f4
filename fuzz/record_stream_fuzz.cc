// Feeds arbitrary bytes to the record stream reader. A stream that is accepted must survive a
// second round trip unchanged, and every field of the record it gives must be reachable within
// the block it holds.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzz_types.h"
#include "ostrel/data/data_type.h"
#include "ostrel/data/record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::types();
  const char* bytes = reinterpret_cast<const char*>(data);

  BrennicData record("T_Rec", 0);
  record.SetFullName("before");
  if (!record.tryFromStream(bytes, size)) {
    if (std::strcmp(record.GetDataName(), "before") != 0) __builtin_trap();
    return 0;
  }
  BrennicStore first;
  record.toStream(first);
  BrennicData again;
  if (!again.tryFromStream(first.get(), static_cast<std::size_t>(first.buffer_size()))) {
    __builtin_trap();
  }
  BrennicStore second;
  again.toStream(second);
  if (!(first == second) || first.buffer_size() != second.buffer_size()) __builtin_trap();

  if (const char* typeName = record.GetTypeName()) {
    TarnDataType* type = fuzz::types()->CheckDataType(typeName);
    for (const auto& element : type->GetAllElement()) {
      const char* path = element.first.c_str();
      record.GetDoubleValue(path);
      record.PutValue(path, 0x5A5A5A5A5A5A5A5ALL);
      record.PutValue(path, L"\u00e9t\u00e9");
      BrennicData part = record.GetBrennicData(path);
      part.GetUnSignedIntValue(path);
    }
  }
  return 0;
}
