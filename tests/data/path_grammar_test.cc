// One table of field paths, placed by the record's path walk and by the server's locator: both
// must accept the same paths and place them at the same bytes, or a partial write or query of a
// path the record took would be refused (or land elsewhere) on the server.
#include <optional>
#include <utility>
#include <vector>

#include <boost/lexical_cast/bad_lexical_cast.hpp>
#include <gtest/gtest.h>

#include "ostrel/data/field_path.h"
#include "ostrel/data/type_mgr.h"
#include "tarn/client/codes.h"
#include "tarn/server/field_locator.h"
#include "tarn/server/type_service.h"

namespace {

using Place = std::optional<std::pair<unsigned, unsigned>>;  // offset and size; none: refused

// A type manager of its own holding the stand-in's built-in types, cut off from servers.
class BuiltInTypes : public TarnTypeMgr {
 public:
  explicit BuiltInTypes(const tarn::TypeBook& book) {
    setReferenceResolver([](const char*, const char*) { return CORBA::Object::_nil(); });
    const std::vector<char>& stream = book.stream();
    loadFromStream(stream.data(), stream.size());
  }
};

Place recordPlace(const TarnDataType* type, const char* path) {
  ostrel::data::FieldLocation where;
  try {
    if (ostrel::data::locateField(type, path, where) != 0) return std::nullopt;
  } catch (const boost::bad_lexical_cast&) {
    return std::nullopt;
  }
  return std::make_pair(where.offset, where.size);
}

Place serverPlace(const tarn::TypeBook& book, const char* type, const char* path) {
  tarn::FieldPlace place;
  const int rc = tarn::locateField(book, type, path, place);
  if (rc != tarn::kOk) {
    EXPECT_EQ(tarn::kNoSuchField, rc) << path;
    return std::nullopt;
  }
  return std::make_pair(place.offset, place.size);
}

TEST(PathGrammar, RecordAndServerPlaceEveryPathAlike) {
  auto book = tarn::TypeBook::fromXml(tarn::defaultTypesXml());
  BuiltInTypes types(*book);
  const TarnDataType* station = types.CheckDataType("Station");
  ASSERT_NE(nullptr, station);
  // Station: name char[32] at 0, pumps PumpState[4] (80 bytes each) at 32, levels float[8] at 352.
  const std::pair<const char*, Place> rows[] = {
      {"name", std::make_pair(0u, 32u)},
      {"pumps", std::make_pair(32u, 320u)},
      {"pumps[2]", std::make_pair(192u, 80u)},
      {"pumps[2].speed.value", std::make_pair(200u, 8u)},
      {"pumps[3].pressure.unit[15]", std::make_pair(343u, 1u)},
      {"pumps..speed", std::make_pair(40u, 32u)},
      {".name", std::make_pair(0u, 32u)},
      {"name.", std::make_pair(0u, 32u)},
      {"levels[]", std::make_pair(352u, 32u)},
      {"levels[+1]", std::make_pair(356u, 4u)},
      {"levels[-0]", std::make_pair(352u, 4u)},
      {"levels[0000000007]", std::make_pair(380u, 4u)},
      {"levels]3[", std::make_pair(364u, 4u)},
      {"pumps[1].mode]", std::make_pair(114u, 2u)},
  };
  for (const auto& [path, expected] : rows) {
    EXPECT_EQ(expected, recordPlace(station, path)) << "record: " << path;
    EXPECT_EQ(expected, serverPlace(*book, "Station", path)) << "server: " << path;
  }
  // Refused by both. "name]" has no '.' or '[': it is looked up whole, as one name.
  for (const char* path : {"levels[8]", "levels[-1]", "levels[2147483648]", "levels[x]", "levels[+]", "levels[ 1]",
                           "levels[1][2]", "Name", "nosuch", "name.x", "pumps[1].speed.value.x", "name]", "", ".."}) {
    EXPECT_EQ(std::nullopt, recordPlace(station, path)) << "record: " << path;
    EXPECT_EQ(std::nullopt, serverPlace(*book, "Station", path)) << "server: " << path;
  }
}

}  // namespace
