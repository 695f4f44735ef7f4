// The type manager against real type services: in-process servers at chosen positions, and tarnd.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ostrel/api/middleware/kxNaming_Client.h"
#include "ostrel/data/record.h"
#include "ostrel/data/type_mgr.h"
#include "tarn/server/host.h"
#include "tarn/server/type_service.h"
#include "tests/data/type_fixture.h"
#include "tests/support/tarn_fixture.h"

namespace {

using data_test::elementNames;
const char* const kPlantTypes = R"(<types>
  <type name="Valve" size="12">
    <element name="open" type="byte" offset="0"/>
    <element name="position" type="float" offset="4"/>
    <element name="travel" type="unsigned_int" offset="8"/>
  </type>
  <type name="Line" size="28">
    <element name="id" type="word" offset="0"/>
    <element name="valves" type="Valve" offset="4" count="2"/>
  </type>
</types>)";

// The parent's types: Valve again (with another layout) and one of its own.
const char* const kParentTypes = R"(<types>
  <type name="Valve" size="4"><element name="other" type="unsigned_int" offset="0"/></type>
  <type name="Tank" size="8"><element name="level" type="double" offset="0"/></type>
</types>)";

const char* const kExtraTypes = R"(<types>
  <type name="Meter" size="8"><element name="count" type="kx_time2" offset="0"/></type>
</types>)";

std::string writeFile(const std::string& tag, const std::string& text) {
  std::string path = "/tmp/ostrel_types_test_" + std::to_string(::getpid()) + "_" + tag + ".xml";
  std::ofstream(path) << text;
  return path;
}

// One in-process server with its own object keys.
std::unique_ptr<tarn::ServerHost> makeHost(const std::string& tag,
                                           std::vector<std::pair<std::string, std::string>> files,
                                           bool refuseStream = false) {
  tarn::HostOptions options;
  options.name = tag;
  options.managerKey = tag + "ServiceManager";
  options.typeFiles = std::move(files);
  options.refuseTypeStream = refuseStream;
  return std::unique_ptr<tarn::ServerHost>(new tarn::ServerHost(options));
}

// A manager of its own whose positions are the given hosts.
class PlacedTypes : public TarnTypeMgr {
 public:
  explicit PlacedTypes(std::map<std::string, tarn::ServerHost*> hosts) : hosts_(std::move(hosts)) {
    setReferenceResolver([this](const char* position, const char* key) -> CORBA::Object* {
      auto host = hosts_.find(position);
      if (host == hosts_.end()) return CORBA::Object::_nil();
      std::string k = key;
      if (k == KX_SERVICE_MANAGER_KEY) return host->second->manager();
      std::string kind = k == KX_TYPE_SERVICE_KEY ? "dt" : "dt/" + k.substr(1, k.find('/', 1) - 1);
      return host->second->service(kind, "");
    });
  }

 private:
  std::map<std::string, tarn::ServerHost*> hosts_;
};

void planFault(tarn::ServerHost& host, const char* operation, int count) {
  kxTarn::FaultPlan plan;
  plan.operation = operation;
  plan.mode = tarn::FaultBook::kRaise;
  plan.skip = 0;
  plan.count = count;
  plan.exceptionName = "TRANSIENT";
  plan.code = 0;
  plan.stallMs = 0;
  host.faults().plan(plan);
}

TEST(TypesTest, TypesKnownFromOwnAreMarkedLoadedAtLaterPositions) {
  auto own = makeHost("typesOwn", {{"", writeFile("own", kPlantTypes)}}, true);
  auto parent = makeHost("typesParent", {{"", writeFile("parent", kParentTypes)},
                                         {"extra", writeFile("extra", kExtraTypes)}}, true);
  PlacedTypes types({{"own", own.get()}, {"parent", parent.get()}});
  types.BuildTarnDataType();
  ASSERT_TRUE(types.isBuilt());

  TarnDataType* valve = types.CheckDataType("Valve");
  EXPECT_EQ(valve->GetTypeSize(), 12) << "the first position's definition wins";
  EXPECT_EQ(valve->loaded, 1) << "listed again at parent: not fetched again";
  EXPECT_EQ(valve->GetElement("other"), nullptr);
  EXPECT_EQ(types.CheckDataType("Line")->loaded, 0);
  ASSERT_NE(types.CheckDataType("Tank"), nullptr);
  EXPECT_EQ(types.CheckDataType("Tank")->GetElement("level")->offset, 0);
  ASSERT_NE(types.CheckDataType("Meter"), nullptr) << "every type service instance is read";
  EXPECT_EQ(types.CheckDataType("Meter")->GetAllElement().size(), 1u);

  // A build from one position fetches every type there; elements already present stay.
  types.BuildTarnDataType("parent");
  EXPECT_EQ(elementNames(valve), (std::vector<std::string>{"open", "position", "travel", "other"}));
}

TEST(TypesTest, ARemoteFailureStopsTheBuildAndKeepsWhatWasFound) {
  auto own = makeHost("typesFault", {{"", writeFile("fault", kPlantTypes)}}, true);
  PlacedTypes types({{"own", own.get()}});

  // Names and sizes arrive; the first element fetch raises.
  planFault(*own, "get_type_elements", 1);
  types.BuildType();
  EXPECT_FALSE(types.isBuilt());
  ASSERT_NE(types.CheckDataType("Valve"), nullptr) << "types registered before the failure stay";
  EXPECT_TRUE(types.CheckDataType("Line")->GetAllElement().empty());

  types.BuildType();  // not built yet: BuildType runs the build again
  EXPECT_TRUE(types.isBuilt());
  EXPECT_EQ(types.CheckDataType("Line")->GetAllElement().size(), 2u);

  planFault(*own, "get_type_names", 1);
  types.BuildType();  // built: nothing is asked, so the planned fault stays unused
  EXPECT_TRUE(types.isBuilt());
  types.BuildTarnDataType();
  EXPECT_FALSE(types.isBuilt()) << "the fault was still planned: this build met it";
  own->faults().clear();
}

TEST(TypesTest, AFailedStreamFallsBackToTypeByType) {
  const std::string file = writeFile("sf", kPlantTypes);
  auto streaming = makeHost("typesStream", {{"", file}});
  auto own = makeHost("typesStreamFault", {{"", file}});
  planFault(*own, "get_type_stream", 1);
  PlacedTypes fromStream({{"own", streaming.get()}});
  PlacedTypes types({{"own", own.get()}});
  for (PlacedTypes* built : {&fromStream, &types}) {
    built->BuildTarnDataType();
    EXPECT_TRUE(built->isBuilt());
    DataVariable* valves = built->CheckDataType("Line")->GetElement("valves");
    ASSERT_NE(valves, nullptr);
    EXPECT_EQ(valves->type, built->CheckDataType("Valve"));
    EXPECT_EQ(valves->offset, 4);
    EXPECT_EQ(valves->count, 2);
  }
  EXPECT_EQ(elementNames(fromStream.CheckDataType("Valve")), (std::vector<std::string>{"travel", "position", "open"}));
  EXPECT_EQ(elementNames(types.CheckDataType("Valve")), (std::vector<std::string>{"open", "position", "travel"}));
}

// A chain of `depth` types, each holding the next at offset 0 and the last a byte; `loop` makes
// the last hold the first instead. Outermost first, or innermost first.
std::string chainOfTypes(int depth, bool innermostFirst, bool loop) {
  std::string xml = "<types>\n";
  for (int n = 0; n < depth; ++n) {
    const int i = innermostFirst ? depth - 1 - n : n;
    const std::string inner = i + 1 < depth ? "T" + std::to_string(i + 1) : loop ? "T0" : "byte";
    xml += "<type name=\"T" + std::to_string(i) + "\" size=\"1\"><element name=\"e\" type=\"" + inner +
           "\" offset=\"0\"/></type>\n";
  }
  return xml + "</types>\n";
}

// Nesting is checked without recursion and limited to TypeBook::kMaxNesting levels: a file at the
// limit loads, one past it is refused with the file and the limit named, whatever its depth or
// order, by the host and by tarnd at start alike; no file crashes the server.
TEST(TypesTest, NestingPastTheLimitIsRefusedAtAnyDepth) {
  const int limit = tarn::TypeBook::kMaxNesting;
  const std::string tooDeep = "nests types more than " + std::to_string(limit) + " levels deep";
  std::string deepXml = R"(<types><type name="Odd" size="1"><element name="b" type="byte" offset="0">)";
  for (int i = 0; i < 100000; ++i) deepXml += "<x>";
  for (int i = 0; i < 100000; ++i) deepXml += "</x>";
  deepXml += "</element></type></types>";
  struct Case {
    const char* what;
    std::string xml;
    std::string refusal;  // empty: loads
  };
  const std::vector<Case> cases = {
      {"at the limit, outermost first", chainOfTypes(limit, false, false), ""},
      {"at the limit, innermost first", chainOfTypes(limit, true, false), ""},
      {"one past, outermost first", chainOfTypes(limit + 1, false, false), tooDeep},
      {"one past, innermost first", chainOfTypes(limit + 1, true, false), tooDeep},
      {"100,000 levels", chainOfTypes(100000, false, false), tooDeep},
      {"100,000 levels, innermost first", chainOfTypes(100000, true, false), tooDeep},
      {"a loop of 100,000", chainOfTypes(100000, false, true), tooDeep},
      {"a loop within the limit", chainOfTypes(10, false, true), "type 'T0' contains itself"},
      {"XML 100,000 elements deep inside an element", deepXml, ""},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string file = writeFile("deep" + std::to_string(n++), c.xml);
    if (c.refusal.empty()) {
      std::unique_ptr<tarn::ServerHost> host;
      ASSERT_NO_THROW(host = makeHost("typesDeep" + std::to_string(n), {{"", file}}));
      EXPECT_EQ(host->types().typeSize(host->types().typeNames().front()), 1);
      std::remove(file.c_str());
      continue;
    }
    try {
      makeHost("typesDeep" + std::to_string(n), {{"", file}});
      ADD_FAILURE() << "loaded";
    } catch (const std::runtime_error& e) {
      const std::string what = e.what();
      EXPECT_EQ(what.rfind(file + ": ", 0), 0u) << what;
      EXPECT_NE(what.find(c.refusal), std::string::npos) << what;
    }
    std::remove(file.c_str());
  }

  // tarnd refuses such a file at start: status 1 and the reason, not a signal.
  const std::string file = writeFile("deep_tarnd", chainOfTypes(100000, false, false));
  const std::string command = "timeout 30 " + std::string(TARND_PATH) + " --port " +
                              std::to_string(testing_support::freePort()) + " --types " + file +
                              " 2>&1; echo \"status=$?\"";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char chunk[4096];
  for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) output.append(chunk, got);
  ::pclose(pipe);
  EXPECT_NE(output.find("status=1"), std::string::npos) << output;
  EXPECT_NE(output.find(file + ": type 'T0' " + tooDeep), std::string::npos) << output;
  std::remove(file.c_str());
}

TEST(TypesTest, RecordsOfTypesFromATarndAtParent) {
  using testing_support::ScopedSettings;
  using testing_support::TarndProcess;
  TarndProcess parent("far", testing_support::freePort(),
                      {"--types", writeFile("tarnd", kParentTypes)});
  ASSERT_TRUE(parent.start());
  ScopedSettings settings({{"local", "own", {}, true}, {"far", "parent", {parent.address()}}});

  // The process's own manager, through the naming client.
  TarnTypeMgr* types = TarnTypeMgr::GetInstance();
  BrennicData tank("Tank", 0);
  ASSERT_TRUE(tank.IsGood()) << "a miss builds over every position";
  EXPECT_EQ(tank.PutValue("level", 3.5), 0);
  EXPECT_EQ(tank.GetDoubleValue("level"), 3.5);
  ASSERT_NE(types->CheckDataType("PumpState"), nullptr) << "the embedded own server's types too";
  ASSERT_NE(types->CheckDataType("Valve"), nullptr);
  EXPECT_NE(types->CheckDataType("Valve")->GetElement("other"), nullptr);
}

}  // namespace
