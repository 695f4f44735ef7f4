// Data point commands: points, get, put, create, delete, query. Each takes --server and --realm
// (default: the own server and its default realm) and connects the server first.
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "ostrel/api/ostrel.h"
#include "ostrel/api/record_lists.h"
#include "ostrel/data/partial_record.h"
#include "ostrel/data/record.h"
#include "tools/ostrel/records.h"
#include "tools/ostrel/tool.h"

namespace tool {
namespace {

// Writes the `path=value` assignments of `args` into `partial`, which lists their paths: the
// partial record then sends exactly those fields. A usage error exits 2.
bool partialFrom(Tool& tool, const std::vector<std::string>& args, BrennicPartialData& partial) {
  std::string error;
  if (parseAssignments(partial, args, error)) return true;
  tool.err << "ostrel: " << error << "\n";
  tool.rc = 2;
  return false;
}

// The type name of point `name`, read from the server (empty when the read failed).
// `what` names the command in messages ("put NAME").
std::string pointType(Tool& tool, const std::string& what, const std::string& name, const ServerTarget& target) {
  BrennicData probe;
  if (!check(tool, what, Ostrel::GetDataPoint(name.c_str(), probe, target.serverOrNull(), target.realmOrNull())))
    return std::string();
  if (probe.GetTypeName() == nullptr) {
    tool.err << "ostrel: " << what << ": its type is not known here\n";
    tool.rc = 1;
    return std::string();
  }
  return probe.GetTypeName();
}

void addPointCommands(CLI::App& app, Tool& tool) {
  auto target = std::make_shared<ServerTarget>();
  auto names = std::make_shared<std::vector<std::string>>();
  auto type = std::make_shared<std::string>();
  auto args = std::make_shared<std::vector<std::string>>();
  auto point = std::make_shared<std::string>();

  auto* points = app.add_subcommand("points", "List the data points (of one type)");
  points->add_option("TYPE", *type, "only points of this type");
  addServerOptions(points, *target);
  points->callback([&tool, target, type] {
    if (!connectServer(tool, *target)) return;
    ObjectNames list;
    const int rc = type->empty()
        ? Ostrel::GetAllPointName(&list, target->serverOrNull(), target->realmOrNull())
        : Ostrel::GetAllPointNameByType(&list, type->c_str(), target->serverOrNull(), target->realmOrNull());
    if (!check(tool, "points", rc)) return;
    for (int i = 0; i < list.count; ++i) tool.out << list.names[i] << "\n";
    Ostrel::DeatoryNameSeq(&list);
  });

  auto* nulls = app.add_subcommand("nulls", "List the data points that were never written");
  addServerOptions(nulls, *target);
  nulls->callback([&tool, target] {
    ObjectNames list;  // the null-data check needs no connection
    if (!check(tool, "nulls", Ostrel::CheckNullData(&list, target->serverOrNull(), target->realmOrNull()))) return;
    for (int i = 0; i < list.count; ++i) tool.out << list.names[i] << "\n";
    Ostrel::DeatoryNameSeq(&list);
  });

  auto* divert = app.add_subcommand("divert", "Make REALM the default realm of a server (in this process: use it in the shell)");
  auto realmName = std::make_shared<std::string>();
  divert->add_option("REALM", *realmName, "the realm; an empty text is the server's default realm")->required();
  divert->add_option("-s,--server", target->server, "server name (default: the own server)");
  divert->callback([&tool, target, realmName] {
    Ostrel::DivertReleam(target->serverOrNull(), realmName->c_str());
    tool.out << "operations on " << (target->server.empty() ? std::string("the own server") : target->server)
             << " without a realm now use '" << *realmName << "'\n";
  });

  auto* get = app.add_subcommand("get", "Show data points as element, type and value");
  get->add_option("NAME", *names, "point names")->required();
  addServerOptions(get, *target);
  get->callback([&tool, target, names] {
    if (!connectServer(tool, *target)) return;
    for (const std::string& name : *names) {
      BrennicData record;
      if (!check(tool, "get " + name, Ostrel::GetDataPoint(name.c_str(), record, target->serverOrNull(), target->realmOrNull())))
        continue;
      tool.out << name << "  (" << (record.GetTypeName() ? record.GetTypeName() : "type unknown here") << ")\n";
      printRecord(tool.out, record);
    }
  });

  auto* put = app.add_subcommand("put", "Write fields of a data point: path=value...");
  put->add_option("NAME", *point, "point name")->required();
  put->add_option("ASSIGNMENTS", *args, "path=value ...")->required();
  addServerOptions(put, *target);
  put->callback([&tool, target, point, args] {
    if (!connectServer(tool, *target, true)) return;
    const std::string pointTypeName = pointType(tool, "put " + *point, *point, *target);
    if (pointTypeName.empty()) return;
    BrennicPartialData partial(pointTypeName.c_str(), 0);
    if (!partialFrom(tool, *args, partial)) return;
    if (check(tool, "put " + *point,
              Ostrel::PutPartialDataPoint(point->c_str(), partial, target->serverOrNull(), target->realmOrNull())))
      tool.out << "put " << *point << ": " << args->size() << " field" << (args->size() == 1 ? "" : "s") << " written\n";
  });

  auto* create = app.add_subcommand("create", "Create a data point of a type, with optional path=value...");
  create->add_option("NAME", *point, "point name")->required();
  create->add_option("TYPE", *type, "type name")->required();
  create->add_option("ASSIGNMENTS", *args, "path=value ...");
  addServerOptions(create, *target);
  create->callback([&tool, target, point, type, args] {
    if (!connectServer(tool, *target, true)) return;
    BrennicData record(type->c_str(), 0);
    if (record.GetTypeName() == nullptr) {
      tool.err << "ostrel: create: unknown type '" << *type << "'\n";
      tool.rc = 1;
      return;
    }
    std::string error;
    if (!parseAssignments(record, *args, error)) {
      tool.err << "ostrel: " << error << "\n";
      tool.rc = 2;
      return;
    }
    const std::string& name = *point;
    if (check(tool, "create " + name,
              Ostrel::CreateDataPoint(name.c_str(), record, target->serverOrNull(), target->realmOrNull())))
      tool.out << "created " << name << " (" << *type << ")\n";
  });

  auto* remove = app.add_subcommand("delete", "Delete data points");
  remove->add_option("NAME", *names, "point names")->required();
  addServerOptions(remove, *target);
  remove->callback([&tool, target, names] {
    if (!connectServer(tool, *target, true)) return;
    for (const std::string& name : *names)
      if (check(tool, "delete " + name, Ostrel::DeleteDataPoint(name.c_str(), target->serverOrNull(), target->realmOrNull())))
        tool.out << "deleted " << name << "\n";
  });

  auto* query = app.add_subcommand("query", "Show the points of a type whose fields equal path=value...");
  query->add_option("TYPE", *type, "type name")->required();
  query->add_option("ASSIGNMENTS", *args, "path=value ...")->required();
  addServerOptions(query, *target);
  query->callback([&tool, target, type, args] {
    if (!connectServer(tool, *target)) return;
    BrennicPartialData filter(type->c_str(), 0);
    if (filter.GetTypeName() == nullptr) {
      tool.err << "ostrel: query: unknown type '" << *type << "'\n";
      tool.rc = 1;
      return;
    }
    if (!partialFrom(tool, *args, filter)) return;
    BrennicDataList list;
    std::vector<char> typeText(type->begin(), type->end());
    typeText.push_back('\0');
    const int rc = Ostrel::QueryDataPoint(filter, typeText.data(), list, target->serverOrNull(), target->realmOrNull());
    if (check(tool, "query " + *type, rc)) {
      tool.out << list.count << " point" << (list.count == 1 ? "" : "s") << " match\n";
      for (int i = 0; i < list.count; ++i) {
        tool.out << "-- " << i + 1 << "\n";
        printRecord(tool.out, *list.items[i]);
      }
    }
    Ostrel::DestoryBrennicDataList(&list);
  });
}

OSTREL_TOOL_COMMANDS(addPointCommands);

OSTREL_TOOL_DEMO(50, "data points: create, write fields, read back, query", [](Tool& tool) {
  const std::vector<std::vector<std::string>> steps = {
      {"create", "demo.flow", "AnalogPoint", "value=12.5", "unit=m3/h"},
      {"put", "demo.flow", "value=13.75", "quality=192"},
      {"get", "demo.flow"},
      {"query", "AnalogPoint", "quality=192"},
      {"points"},
      {"delete", "demo.flow"}};
  for (const std::vector<std::string>& step : steps) {
    tool.out << "$ ostrel";
    for (const std::string& word : step) tool.out << " " << word;
    tool.out << "\n";
    Tool inner{tool.out, tool.err};
    if (run(step, inner) != 0) return false;
  }
  return true;
});

}  // namespace
}  // namespace tool
