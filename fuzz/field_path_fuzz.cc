// Feeds arbitrary path texts to the field walk of records of every test type, with full blocks
// and with blocks cut short. A located field of a well-formed type lies inside the type; no
// access may leave the block; a non-numeric index may only throw boost::bad_lexical_cast. For
// the plant types the stand-in's locator must place every path exactly as the record does.
#include <cstdint>
#include <string>

#include <boost/lexical_cast.hpp>

#include "fuzz/fuzz_types.h"
#include "ostrel/data/record.h"
#include "tarn/server/field_locator.h"
#include "tarn/server/type_service.h"

namespace {

const char* const kTypes[] = {"T_Rec", "T_Outer", "T_Broken", "T_Inner", "Station", "Alarm"};

void exercise(BrennicData& record, const char* path) {
  try {
    BrennicVariable info;
    unsigned int size = record.GetBufferSize();
    if (record.VariableInfo(path, info) == 0 &&
        static_cast<unsigned long long>(info.offset) + info.size > size) {
      __builtin_trap();
    }
    record.GetDoubleValue(path);
    record.GetCharValue(path);
    record.PutValue(path, -1LL);
    record.PutValue(path, "text");
    record.PutValue(path, L"wide");
    int four = 4;
    record.compare(path, &four, 4);
    BrennicData part = record.GetBrennicData(path);
    part.GetSignedIntValue("x");
  } catch (const boost::bad_lexical_cast&) {
  }
}

// The record and the server accept the same paths and place them at the same bytes.
void compareWithServer(BrennicData& record, const char* typeName, const char* path) {
  static const auto book = tarn::TypeBook::fromXml(tarn::defaultTypesXml());
  if (book->find(typeName) == nullptr) return;
  unsigned int offset = 0, size = 0;
  bool located = false;
  try {
    located = record.LocateField(path, offset, size) == 0;
  } catch (const boost::bad_lexical_cast&) {
  }
  tarn::FieldPlace place;
  const bool placed = tarn::locateField(*book, typeName, path, place) == 0;
  if (located != placed || (located && (offset != place.offset || size != place.size))) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::types();
  if (size == 0) return 0;
  const char* typeName = kTypes[data[0] % (sizeof(kTypes) / sizeof(kTypes[0]))];
  std::string path(reinterpret_cast<const char*>(data + 1), size - 1);

  BrennicData full(typeName, 0);
  exercise(full, path.c_str());
  compareWithServer(full, typeName, path.c_str());

  BrennicData cut(typeName, 0);
  cut.Destory();
  cut.CastType(typeName);
  std::string shortBlock(data[0] % 40, 'x');
  cut.SetRawValue(&shortBlock[0], static_cast<int>(shortBlock.size()));
  exercise(cut, path.c_str());
  return 0;
}
