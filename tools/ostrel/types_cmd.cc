// Type commands: `types [POSITION]` lists the data types the type services define, `type NAME`
// shows one type's layout, nested types indented beneath their element.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "ostrel/api/middleware/kxTarn_API.h"
#include "ostrel/api/ostrel.h"
#include "ostrel/data/data_type.h"
#include "ostrel/data/record.h"
#include "ostrel/data/type_mgr.h"
#include "tools/ostrel/records.h"
#include "tools/ostrel/tool.h"

namespace tool {
namespace {

// Nesting deeper than this is shown as "..." (type services of other servers may define a
// type that contains itself).
constexpr int kMaxDepth = 12;

struct Row {
  std::string element;
  std::string type;
  std::string offset;
  std::string size;
  std::string items;
  std::string note;
};

// Elements in layout order: by offset, then as the type lists them.
std::vector<DataVariable*> layoutOrder(const TarnDataType* type) {
  std::vector<DataVariable*> elements;
  for (const auto& entry : type->GetAllElement()) elements.push_back(entry.second);
  std::stable_sort(elements.begin(), elements.end(),
                   [](const DataVariable* a, const DataVariable* b) { return a->offset < b->offset; });
  return elements;
}

void addRows(const TarnDataType* type, unsigned long base, int depth, std::vector<Row>& rows) {
  const std::string indent(2 * depth, ' ');
  if (depth >= kMaxDepth) {
    rows.push_back({indent + "...", "", "", "", "", "nested too deep"});
    return;
  }
  for (const DataVariable* e : layoutOrder(type)) {
    Row row;
    row.element = indent + e->name;
    row.offset = std::to_string(base + e->offset);
    row.items = std::to_string(e->count);
    if (e->type == nullptr) {
      row.type = "?";
      row.size = "?";
      row.note = "type unknown: not reachable by path";
      rows.push_back(row);
      continue;
    }
    const unsigned long itemSize = e->type->GetTypeSize();
    row.type = e->type->GetTypeName();
    row.size = std::to_string(itemSize * e->count);
    const bool nested = !e->type->GetAllElement().empty();
    if (nested && e->count > 1) {
      row.note = "item i at " + row.offset + " + " + std::to_string(itemSize) + " x i; item 0 below";
    } else if ((row.type == "char" || row.type == "wchar") && e->count > 1) {
      row.note = "text";
    }
    rows.push_back(row);
    if (nested) addRows(e->type, base + e->offset, depth + 1, rows);
  }
}

void printTable(std::ostream& out, const std::vector<Row>& rows) {
  Row header{"ELEMENT", "TYPE", "OFFSET", "SIZE", "ITEMS", ""};
  std::size_t w[5] = {0, 0, 0, 0, 0};
  auto widen = [&](const Row& r) {
    w[0] = std::max(w[0], r.element.size());
    w[1] = std::max(w[1], r.type.size());
    w[2] = std::max(w[2], r.offset.size());
    w[3] = std::max(w[3], r.size.size());
    w[4] = std::max(w[4], r.items.size());
  };
  widen(header);
  for (const Row& r : rows) widen(r);
  auto left = [](const std::string& s, std::size_t n) { return s + std::string(n - s.size(), ' '); };
  auto right = [](const std::string& s, std::size_t n) { return std::string(n - s.size(), ' ') + s; };
  auto print = [&](const Row& r) {
    std::string line = left(r.element, w[0]) + "  " + left(r.type, w[1]) + "  " +
                       right(r.offset, w[2]) + "  " + right(r.size, w[3]) + "  " +
                       right(r.items, w[4]);
    if (!r.note.empty()) line += "  " + r.note;
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << "\n";
  };
  print(header);
  for (const Row& r : rows) print(r);
}

// The type services a build reads are those of the first server at each position. Says on
// standard error which of them (at `position`, or at every position) do not answer, or that the
// settings cannot be used, and returns how many failed: their types are missing from the list.
int silentTypeServers(Tool& tool, const std::string& position) {
  const int settings = kx_tarn_connect(nullptr);
  if (settings == KX_SETTINGS_UNUSABLE) {
    tool.err << "ostrel: types: " << settings << " " << codeText(settings) << "\n";
    return 1;
  }
  int failed = 0;
  for (const char* at : {"own", "parent", "child", "others"}) {
    if (!position.empty() && position != at) continue;
    const kxServerName server = kx_get_servername(at);
    if (!server.found) continue;
    const int rc = kx_tarn_connect(server.name);
    if (rc == 0) continue;
    tool.err << "ostrel: types of " << server.name << " (" << at << "): " << rc << " " << codeText(rc) << "\n";
    ++failed;
  }
  return failed;
}

int listTypes(Tool& tool, const std::string& position, bool json) {
  TarnTypeMgr* types = TarnTypeMgr::GetInstance();
  if (position.empty()) {
    Ostrel::BuildOstrel();
  } else {
    types->BuildTarnDataType(position.c_str());
  }
  std::vector<Row> rows;
  for (const std::string& name : types->typeList()) {
    TarnDataType* type = types->CheckDataType(name.c_str());
    if (type == nullptr) continue;
    Row row;
    row.element = name;
    row.size = std::to_string(type->GetTypeSize());
    row.items = std::to_string(type->GetAllElement().size());
    if (type->GetAllElement().empty()) row.note = "base type";
    rows.push_back(row);
  }
  if (json) {
    tool.out << "[";
    for (std::size_t i = 0; i < rows.size(); ++i)
      tool.out << (i ? ",\n " : "") << "{\"name\": " << jsonString(rows[i].element) << ", \"size\": " << rows[i].size
               << ", \"elements\": " << rows[i].items << "}";
    tool.out << "]\n";
  }
  std::size_t w0 = 4, w1 = 4;
  for (const Row& r : rows) {
    w0 = std::max(w0, r.element.size());
    w1 = std::max(w1, r.size.size());
  }
  auto pad = [](const std::string& s, std::size_t n) { return s + std::string(n - s.size(), ' '); };
  auto padLeft = [](const std::string& s, std::size_t n) { return std::string(n - s.size(), ' ') + s; };
  if (!json) tool.out << pad("TYPE", w0) << "  " << padLeft("SIZE", w1) << "  ELEMENTS\n";
  for (const Row& r : rows) {
    if (json) break;
    std::string line = pad(r.element, w0) + "  " + padLeft(r.size, w1) + "  " + padLeft(r.items, 8);
    if (!r.note.empty()) line += "  " + r.note;
    tool.out << line << "\n";
  }
  if (!types->isBuilt()) {
    tool.err << "ostrel: a type service failed during the build; the list may be incomplete\n";
    return 1;
  }
  if (silentTypeServers(tool, position) > 0) {
    tool.err << "ostrel: types: the list lacks the types of the servers above\n";
    return 1;
  }
  return 0;
}

// One type as JSON: name, size and its elements with nested types' elements inside.
std::string typeJson(const TarnDataType* type, int depth) {
  std::string out = "{\"name\": " + jsonString(type->GetTypeName()) + ", \"size\": " + std::to_string(type->GetTypeSize());
  if (type->GetAllElement().empty() || depth >= kMaxDepth) return out + "}";
  out += ", \"elements\": [";
  bool first = true;
  for (const DataVariable* e : layoutOrder(type)) {
    out += std::string(first ? "" : ", ") + "{\"name\": " + jsonString(e->name) + ", \"offset\": " +
           std::to_string(e->offset) + ", \"items\": " + std::to_string(e->count) + ", \"type\": " +
           (e->type ? typeJson(e->type, depth + 1) : std::string("null")) + "}";
    first = false;
  }
  return out + "]}";
}

int showType(Tool& tool, const std::string& name, bool json) {
  TarnDataType* type = TarnTypeMgr::GetInstance()->GetDataType(name.c_str());
  if (type == nullptr) {
    // A server that does not answer may be the one that defines it.
    if (silentTypeServers(tool, "") > 0) {
      tool.err << "ostrel: no data type named '" << name << "' among the types of the servers that answer\n";
    } else {
      tool.err << "ostrel: no data type named '" << name << "' at any position\n";
    }
    return 1;
  }
  if (json) {
    tool.out << typeJson(type, 0) << "\n";
    return 0;
  }
  tool.out << type->GetTypeName() << "  (" << type->GetTypeSize() << " bytes";
  if (type->GetAllElement().empty()) tool.out << ", base type";
  tool.out << ")\n";
  if (type->GetAllElement().empty()) return 0;
  std::vector<Row> rows;
  addRows(type, 0, 0, rows);
  printTable(tool.out, rows);
  return 0;
}

void addTypeCommands(CLI::App& app, Tool& tool) {
  auto* typesCommand =
      app.add_subcommand("types", "List the data types of the type services (default: all positions)");
  auto position = std::make_shared<std::string>();
  typesCommand->add_option("POSITION", *position, "own, parent, child or others")
      ->check(CLI::IsMember({"own", "parent", "child", "others"}));
  auto json = std::make_shared<bool>(false);
  typesCommand->add_flag("--json", *json, "print one JSON array of {name, size, elements}");
  typesCommand->callback([&tool, position, json] { tool.rc = listTypes(tool, *position, *json); });

  auto* typeCommand =
      app.add_subcommand("type", "Show a data type's layout: elements, types, offsets, sizes, items");
  auto name = std::make_shared<std::string>();
  typeCommand->add_option("NAME", *name, "type name, e.g. PumpState")->required();
  typeCommand->add_flag("--json", *json, "print the layout as one JSON object, nested types inside");
  typeCommand->callback([&tool, name, json] { tool.rc = showType(tool, *name, *json); });
}

OSTREL_TOOL_COMMANDS(addTypeCommands);

OSTREL_TOOL_DEMO(20, "typed records: fields by path, and the stream form", [](Tool& tool) {
  Ostrel::BuildOstrel();
  BrennicData pump("PumpState", 0);
  if (!pump.IsGood()) {
    tool.out << "  the type PumpState is not defined by the own server\n";
    return false;
  }
  pump.SetFullName("plant.pump1");
  const int rc = pump.PutValue("speed.value", 1480.5);
  pump.PutValue("speed.unit", "rpm");
  BrennicVariable where;
  pump.VariableInfo("speed.value", where);
  BrennicStore stream;
  pump.toStream(stream);
  BrennicData back;
  back.fromStream(stream.get(), static_cast<int>(stream.buffer_size()));
  tool.out << "  PutValue(\"speed.value\", 1480.5) = " << rc << " at offset " << where.offset
           << ", " << where.size << " bytes; read back " << back.GetDoubleValue("speed.value")
           << " " << back.GetStringValue("speed.unit") << " from a " << stream.buffer_size()
           << "-byte stream of " << back.GetDataName() << "\n";
  return rc == 0 && back.GetDoubleValue("speed.value") == 1480.5;
});

}  // namespace
}  // namespace tool
