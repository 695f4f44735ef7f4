// Data point commands: points, get, put, create, delete, query. Each takes --server and --realm
// (default: the own server and its default realm) and connects the server first.
#include <algorithm>
#include <cstring>
#include <ctime>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "ostrel/api/ostrel.h"
#include "ostrel/api/record_lists.h"
#include "ostrel/data/partial_record.h"
#include "ostrel/data/data_type.h"
#include "ostrel/data/meta_data.h"
#include "ostrel/data/record.h"
#include "ostrel/data/type_mgr.h"
#include "ostrel/datapoints/query_names.h"
#include "tools/ostrel/records.h"
#include "tools/ostrel/tool.h"
#include "tools/ostrel/views.h"

namespace tool {

bool globMatch(const char* pattern, const char* name) {
  const char* starAt = nullptr;
  const char* resumeAt = nullptr;
  while (*name) {
    bool matched = false;
    const char* next = pattern + 1;
    if (*pattern == '*') {
      starAt = pattern++;
      resumeAt = name;
      continue;
    }
    if (*pattern == '?') {
      matched = true;
    } else if (*pattern == '[') {
      const char* p = pattern + 1;
      const bool negate = *p == '!' || *p == '^';
      if (negate) ++p;
      bool inSet = false;
      for (bool first = true; *p && (first || *p != ']'); first = false, ++p) {
        if (p[1] == '-' && p[2] && p[2] != ']') {
          inSet |= *name >= p[0] && *name <= p[2];
          p += 2;
        } else {
          inSet |= *name == *p;
        }
      }
      if (*p == ']') {
        matched = inSet != negate;
        next = p + 1;
      } else {
        matched = *name == '[';  // no closing bracket: a plain '['
      }
    } else {
      matched = *pattern != '\0' && *pattern == *name;
    }
    if (matched) {
      pattern = next;
      ++name;
    } else if (starAt) {
      pattern = starAt + 1;
      name = ++resumeAt;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

int writeFields(const std::string& name, const std::vector<std::string>& assignments, const ServerTarget& target,
                BrennicData& before, BrennicData& after, std::string& error) {
  const int rc = Ostrel::GetDataPoint(name.c_str(), before, target.serverOrNull(), target.realmOrNull());
  if (rc != 0) return rc;
  if (before.GetTypeName() == nullptr) {
    error = "its type is not known here";
    return kTypeUnknownHere;
  }
  BrennicPartialData partial(before.GetTypeName(), 0);
  if (!parseAssignments(partial, assignments, error)) return kBadAssignment;
  const int written = Ostrel::PutPartialDataPoint(name.c_str(), partial, target.serverOrNull(), target.realmOrNull());
  if (written != 0) return written;
  Ostrel::GetDataPoint(name.c_str(), after, target.serverOrNull(), target.realmOrNull());
  return 0;
}

namespace {

// The middleware's code for a data point name it does not hold.
constexpr int kNoSuchPoint = 2003;

// `names` with each pattern (a word with * ? or [) replaced by the realm's points it matches,
// sorted, as `points` lists them. False, after a message, when the listing fails or a pattern
// matches no point.
bool expandPatterns(Tool& tool, const std::string& what, const std::vector<std::string>& names,
                    const ServerTarget& target, std::vector<std::string>& out) {
  std::vector<std::string> all;
  bool listed = false;
  for (const std::string& name : names) {
    if (name.find_first_of("*?[") == std::string::npos) {
      out.push_back(name);
      continue;
    }
    if (!listed) {
      ObjectNames list;
      if (!check(tool, what, Ostrel::GetAllPointName(&list, target.serverOrNull(), target.realmOrNull()))) return false;
      all.assign(list.names, list.names + list.count);
      Ostrel::DeatoryNameSeq(&list);
      std::sort(all.begin(), all.end());
      listed = true;
    }
    const std::size_t before = out.size();
    for (const std::string& point : all)
      if (globMatch(name.c_str(), point.c_str())) out.push_back(point);
    if (out.size() == before) {
      tool.err << "ostrel: " << what << ": no point matches '" << shortened(name) << "'\n";
      tool.rc = 1;
      return false;
    }
  }
  return true;
}

// Writes the `path=value` assignments of `args` into `partial`, which lists their paths: the
// partial record then sends exactly those fields. A usage error exits 2.
bool partialFrom(Tool& tool, const std::vector<std::string>& args, BrennicPartialData& partial) {
  std::string error;
  if (parseAssignments(partial, args, error)) return true;
  tool.err << "ostrel: " << error << "\n";
  tool.rc = 2;
  return false;
}

// Reads point `name` into `record`; false (with a message, rc 1) when the read failed or the
// point's type is not known here. `what` names the command in messages ("put NAME").
bool readPoint(Tool& tool, const std::string& what, const std::string& name, const ServerTarget& target,
               BrennicData& record) {
  if (!check(tool, what, Ostrel::GetDataPoint(name.c_str(), record, target.serverOrNull(), target.realmOrNull())))
    return false;
  if (record.GetTypeName() == nullptr) {
    tool.err << "ostrel: " << what << ": its type is not known here\n";
    tool.rc = 1;
    return false;
  }
  return true;
}

// Prints "PATH  OLD -> NEW" for each assigned path whose text differs, "PATH  VALUE (unchanged)"
// otherwise: what a put changed, as the server holds it before and after.
void printChanges(Tool& tool, BrennicData& before, BrennicData& after, const std::vector<std::string>& args) {
  std::vector<std::pair<std::string, std::string>> rows;
  std::size_t width = 0;
  for (const std::string& arg : args) {
    const std::string path = arg.substr(0, arg.find('='));
    std::string old, now, error;
    fieldText(before, path, old, error);
    fieldText(after, path, now, error);
    width = std::max(width, path.size());
    rows.emplace_back(path, old == now ? now + "  (unchanged)" : old + " -> " + now);
  }
  for (const auto& [path, change] : rows) tool.out << "  " << path << std::string(width - path.size() + 2, ' ') << change << "\n";
}

void addPointCommands(CLI::App& app, Tool& tool) {
  auto target = std::make_shared<ServerTarget>();
  auto names = std::make_shared<std::vector<std::string>>();
  auto type = std::make_shared<std::string>();
  auto args = std::make_shared<std::vector<std::string>>();
  auto point = std::make_shared<std::string>();

  auto* points = app.add_subcommand("points", "List the data points: all, those matching a pattern, or of --type");
  auto pattern = std::make_shared<std::string>();
  auto json = std::make_shared<bool>(false);
  points->add_option("PATTERN", *pattern, "names matching this pattern: * any text, ? one character, [...] a set "
                                           "(quote it: 'tank.*'); a type name lists the points of that type");
  points->add_option("-t,--type", *type, "only points of this type");
  points->add_flag("--json", *json, "print one JSON array of names");
  addServerOptions(points, *target);
  points->callback([&tool, target, type, pattern, json] {
    if (!connectServer(tool, *target)) return;
    // A word without pattern characters that names a type keeps its old meaning: that type's points.
    std::string byType = *type;
    std::string glob = *pattern;
    if (byType.empty() && !glob.empty() && glob.find_first_of("*?[") == std::string::npos &&
        TarnTypeMgr::GetInstance()->GetDataType(glob.c_str()) != nullptr) {
      byType = glob;
      glob.clear();
    }
    ObjectNames list;
    const int rc = byType.empty()
        ? Ostrel::GetAllPointName(&list, target->serverOrNull(), target->realmOrNull())
        : Ostrel::GetAllPointNameByType(&list, byType.c_str(), target->serverOrNull(), target->realmOrNull());
    if (!check(tool, "points", rc)) return;
    std::vector<std::string> shown;
    for (int i = 0; i < list.count; ++i)
      if (glob.empty() || globMatch(glob.c_str(), list.names[i])) shown.push_back(list.names[i]);
    Ostrel::DeatoryNameSeq(&list);
    std::sort(shown.begin(), shown.end());
    if (*json) {
      tool.out << "[";
      for (std::size_t i = 0; i < shown.size(); ++i) tool.out << (i ? ", " : "") << jsonString(shown[i]);
      tool.out << "]\n";
      return;
    }
    for (const std::string& name : shown) tool.out << name << "\n";
  });

  auto* nulls = app.add_subcommand("nulls", "List the data points that were never written");
  addServerOptions(nulls, *target);
  nulls->add_flag("--json", *json, "print one JSON array of names");
  nulls->callback([&tool, target, json] {
    tool.server = target->server;
    ObjectNames list;  // the null-data check needs no connection
    if (!check(tool, "nulls", Ostrel::CheckNullData(&list, target->serverOrNull(), target->realmOrNull()))) return;
    if (*json) tool.out << "[";
    for (int i = 0; i < list.count; ++i) {
      if (*json) tool.out << (i ? ", " : "") << jsonString(list.names[i]);
      else tool.out << list.names[i] << "\n";
    }
    if (*json) tool.out << "]\n";
    Ostrel::DeatoryNameSeq(&list);
  });

  auto* divert = app.add_subcommand("divert", "Make REALM the default realm of a server (in this process: use it in the shell)");
  auto realmName = std::make_shared<std::string>();
  divert->add_option("REALM", *realmName, "the realm; an empty text is the server's default realm")->required();
  divert->add_option("-s,--server", target->server, "server name (default: the own server)");
  divert->callback([&tool, target, realmName] {
    Ostrel::DivertReleam(target->serverOrNull(), realmName->c_str());
    tool.out << "operations on " << (target->server.empty() ? std::string("the own server") : target->server)
             << " without a realm now use '" << *realmName << "'";
    // The diversion belongs to this process: as a command of its own it ends right here.
    tool.out << (tool.inShell ? "\n" : " (in this process only: it ends with this command; use it in `ostrel shell`)\n");
  });

  auto* get = app.add_subcommand("get", "Show data points as element, type and value (--field: one value)");
  auto field = std::make_shared<std::string>();
  get->add_option("NAME", *names, "point names or patterns (* ? [...], as points takes them)")->required();
  get->add_option("-f,--field", *field, "print only this field's value, one line per point (e.g. speed.value)");
  get->add_flag("--json", *json, "print one JSON array of the points ({name, type, fields})");
  addServerOptions(get, *target);
  get->callback([&tool, target, names, field, json] {
    if (!connectServer(tool, *target)) return;
    std::vector<std::string> objects, wanted;
    if (!expandPatterns(tool, "get", *names, *target, wanted)) return;
    for (const std::string& name : wanted) {
      BrennicData record;
      if (!check(tool, "get " + name, Ostrel::GetDataPoint(name.c_str(), record, target->serverOrNull(), target->realmOrNull())))
        continue;
      if (record.GetDataName() == nullptr || *record.GetDataName() == '\0') record.SetFullName(name.c_str());
      if (*json && field->empty()) {
        objects.push_back(recordJson(record));
        continue;
      }
      if (!field->empty()) {
        std::string value, error;
        if (fieldText(record, *field, value, error)) {
          tool.out << (*json ? jsonString(value) : value) << "\n";
        } else {
          tool.err << "ostrel: get " << shortened(name) << ": " << error << "\n";
          tool.rc = 1;
        }
        continue;
      }
      tool.out << name << "  (" << (record.GetTypeName() ? record.GetTypeName() : "type unknown here") << ")\n";
      printRecord(tool.out, record);
    }
    if (*json && field->empty()) {
      tool.out << "[";
      for (std::size_t i = 0; i < objects.size(); ++i) tool.out << (i ? ",\n " : "") << objects[i];
      tool.out << "]\n";
    }
  });

  auto* put = app.add_subcommand("put", "Write fields of a data point: path=value...");
  put->add_option("NAME", *point, "point name")->required();
  put->add_option("ASSIGNMENTS", *args, "path=value ...")->required();
  put->add_flag("--json", *json, "print one JSON object: {name, fields: {PATH: {old, new}}}");
  addServerOptions(put, *target);
  put->callback([&tool, target, point, args, json] {
    if (!connectServer(tool, *target, true)) return;
    BrennicData before, after;
    std::string error;
    const std::string what = "put " + *point;
    const int rc = writeFields(*point, *args, *target, before, after, error);
    if (rc == kTypeUnknownHere || rc == kBadAssignment) {
      tool.err << "ostrel: " << (rc == kTypeUnknownHere ? what + ": " : std::string()) << error << "\n";
      tool.rc = rc == kBadAssignment ? 2 : 1;
      return;
    }
    if (!check(tool, what, rc)) return;
    if (*json) {
      std::string fields;
      for (const std::string& arg : *args) {
        const std::string path = arg.substr(0, arg.find('='));
        std::string old, now, ignored;
        fieldText(before, path, old, ignored);
        fieldText(after, path, now, ignored);
        fields += (fields.empty() ? "" : ", ") + jsonString(path) + ": {\"old\": " + jsonString(old) +
                  ", \"new\": " + jsonString(now) + "}";
      }
      tool.out << "{\"name\": " << jsonString(*point) << ", \"fields\": {" << fields << "}}\n";
      return;
    }
    tool.out << "put " << *point << ": " << args->size() << " field" << (args->size() == 1 ? "" : "s") << " written\n";
    if (after.GetTypeName() != nullptr) printChanges(tool, before, after, *args);
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
  query->add_flag("--json", *json, "print one JSON array of the matching points ({name, type, fields})");
  addServerOptions(query, *target);
  query->callback([&tool, target, type, args, json] {
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
      OstrelExt::nameQueryAnswer(list, type->c_str(), target->serverOrNull(), target->realmOrNull());
      if (*json) {
        tool.out << "[";
        for (int i = 0; i < list.count; ++i) tool.out << (i ? ",\n " : "") << recordJson(*list.items[i]);
        tool.out << "]\n";
        Ostrel::DestoryBrennicDataList(&list);
        return;
      }
      tool.out << list.count << (list.count == 1 ? " point matches" : " points match") << "\n";
      for (int i = 0; i < list.count; ++i) {
        const char* name = list.items[i]->GetDataName();
        tool.out << "-- " << (name && *name ? name : "?") << "\n";
        printRecord(tool.out, *list.items[i]);
      }
    }
    Ostrel::DestoryBrennicDataList(&list);
  });
}

// What `watch` last showed of one point: its fields' texts, or that it could not be read.
struct Seen {
  bool present = false;
  std::vector<FieldText> fields;
};

// One `watch` line for `name`: the fields that differ from `last` (all of them the first time),
// or that the point is missing. Empty when nothing changed.
std::string watchLine(const std::string& name, const Seen& last, const Seen& now, bool first, bool json) {
  const std::string when = json ? isoTime() : clockText(std::time(nullptr));
  if (!now.present) {
    if (!first && !last.present) return std::string();
    return json ? "{\"time\": " + jsonString(when) + ", \"name\": " + jsonString(name) + ", \"missing\": true}"
                : when + "  " + name + "  (no such point)";
  }
  std::string changes;
  for (std::size_t i = 0; i < now.fields.size(); ++i) {
    const FieldText& field = now.fields[i];
    const bool same = last.present && i < last.fields.size() && last.fields[i].path == field.path &&
                      last.fields[i].text == field.text;
    if (!first && same) continue;
    if (json) {
      changes += (changes.empty() ? "" : ", ") + jsonString(field.path) + ": " + jsonValue(field);
    } else {
      const bool textual = field.type == "char*" || field.type == "wchar*";
      changes += "  " + field.path + "=" + (textual ? jsonString(field.text) : field.text);
    }
  }
  if (changes.empty()) return std::string();
  return json ? "{\"time\": " + jsonString(when) + ", \"name\": " + jsonString(name) + ", \"fields\": {" + changes + "}}"
              : when + "  " + name + changes;
}

void addWatchCommands(CLI::App& app, Tool& tool) {
  struct Options {
    ServerTarget target;
    std::vector<std::string> names;
    std::string name;  // info's point
    std::string field;
    int period = 500;
    int count = 0;
    bool json = false;
  };
  auto o = std::make_shared<Options>();
  auto* watch = app.add_subcommand(
      "watch", "Print a line whenever data points change, until Ctrl-C or -n changes (reads them all every period)");
  watch->add_option("NAME", o->names, "point names or patterns (* ? [...]: the points they match at the start)")->required();
  watch->add_option("-f,--field", o->field, "watch only this field (e.g. speed.value)");
  watch->add_option("-p,--period", o->period, "ms between reads (default 500)")->check(CLI::Range(10, 3600000));
  watch->add_option("-n", o->count, "stop after this many changes (the first values do not count)")
      ->check(CLI::Range(1, 1 << 30));
  watch->add_flag("--json", o->json, "one JSON object per line");
  addServerOptions(watch, o->target);
  watch->callback([&tool, o] {
    if (!connectServer(tool, o->target)) return;
    std::vector<std::string> named;
    if (!expandPatterns(tool, "watch", o->names, o->target, named)) return;
    o->names = named;
    std::vector<Seen> seen(o->names.size());
    bool first = true;
    int changes = 0;
    // Polling: one GetDataPointN for all the names per period. A change shorter than the period
    // can go unseen; the server offers no change notification for data points.
    untilInterruptedOr([&] {
      BrennicDataList list;
      int rc = Ostrel::GetDataPointN(o->names, list, o->target.serverOrNull(), o->target.realmOrNull());
      // One missing point fails the read of them all: then each is read alone, so that the
      // missing ones show as missing and the others go on being watched.
      std::vector<std::unique_ptr<BrennicData>> alone;
      if (rc == kNoSuchPoint) {
        rc = 0;
        for (std::size_t i = 0; rc == 0 && i < o->names.size(); ++i) {
          auto record = std::make_unique<BrennicData>();
          const int one = Ostrel::GetDataPoint(o->names[i].c_str(), *record, o->target.serverOrNull(),
                                               o->target.realmOrNull());
          if (one == 0) record->SetFullName(o->names[i].c_str());
          if (one == 0) alone.push_back(std::move(record));
          if (one != 0 && one != kNoSuchPoint) rc = one;
        }
      }
      if (rc != 0) {
        Ostrel::DestoryBrennicDataList(&list);
        return check(tool, "watch", rc);
      }
      std::vector<BrennicData*> read(list.items, list.items + list.count);
      for (const auto& record : alone) read.push_back(record.get());
      for (std::size_t i = 0; i < o->names.size(); ++i) {
        Seen now;
        for (std::size_t j = 0; j < read.size() && !now.present; ++j) {
          BrennicData* record = read[j];
          if (record == nullptr || record->GetDataName() == nullptr || o->names[i] != record->GetDataName()) continue;
          now.present = true;
          if (o->field.empty()) {
            now.fields = fieldTexts(*record);
            continue;
          }
          FieldText one{o->field, "", ""};
          std::string error;
          if (!fieldText(*record, o->field, one.text, error)) {
            tool.err << "ostrel: watch " << shortened(o->names[i]) << ": " << error << "\n";
            tool.rc = 2;
            Ostrel::DestoryBrennicDataList(&list);
            return false;
          }
          BrennicMetaData meta;
          record->GetMetaData(o->field.c_str(), meta);
          one.type = toUtf8(meta.typeName);
          now.fields.push_back(one);
        }
        const std::string line = watchLine(o->names[i], seen[i], now, first, o->json);
        if (!line.empty()) {
          tool.out << line << std::endl;
          if (!first) ++changes;
        }
        seen[i] = now;
      }
      Ostrel::DestoryBrennicDataList(&list);
      first = false;
      return o->count <= 0 || changes < o->count;
    }, o->period);
  });

  auto i = std::make_shared<Options>();
  auto* info = app.add_subcommand("info", "A one-screen summary of a data point: type, size, server, realm, values");
  info->add_option("NAME", i->name, "point name")->required();
  info->add_flag("--json", i->json,
                 "print one JSON object: {name, type, size, elements, server, address, realm, written, fields}");
  addServerOptions(info, i->target);
  info->callback([&tool, i] {
    if (!connectServer(tool, i->target)) return;
    BrennicData record;
    if (!readPoint(tool, "info " + i->name, i->name, i->target, record)) return;
    const TarnDataType* type = TarnTypeMgr::GetInstance()->CheckDataType(record.GetTypeName());
    ObjectNames nulls;
    bool written = true;
    if (Ostrel::CheckNullData(&nulls, i->target.serverOrNull(), i->target.realmOrNull()) == 0) {
      for (int k = 0; k < nulls.count; ++k)
        if (i->name == nulls.names[k]) written = false;
      Ostrel::DeatoryNameSeq(&nulls);
    }
    const char* active = Ostrel::activeServer(i->target.serverOrNull());
    if (i->json) {
      record.SetFullName(i->name.c_str());
      const std::string object = recordJson(record);  // {"name", "type", "fields"}
      const std::size_t fields = object.find(", \"fields\": ");
      tool.out << object.substr(0, fields) << ", \"size\": " << (type ? type->GetTypeSize() : record.GetBufferSize())
               << ", \"elements\": " << (type ? type->GetAllElement().size() : 0)
               << ", \"server\": " << jsonString(i->target.server) << ", \"address\": " << jsonString(active ? active : "")
               << ", \"realm\": " << jsonString(i->target.realm) << ", \"written\": " << (written ? "true" : "false")
               << object.substr(fields) << "\n";
      return;
    }
    tool.out << i->name << "\n"
             << "  type     " << record.GetTypeName() << " (" << (type ? type->GetTypeSize() : record.GetBufferSize())
             << " bytes, " << (type ? type->GetAllElement().size() : 0) << " elements)\n"
             << "  server   " << (i->target.server.empty() ? std::string("the own server") : i->target.server)
             << (active && *active ? std::string(" at ") + active : std::string()) << "\n"
             << "  realm    " << (i->target.realm.empty() ? std::string("the default realm") : "'" + i->target.realm + "'") << "\n"
             << "  written  " << (written ? "yes" : "never (listed by `ostrel nulls`)") << "\n";
    printRecord(tool.out, record);
  });
}

OSTREL_TOOL_COMMANDS(addPointCommands);
OSTREL_TOOL_COMMANDS(addWatchCommands);

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
    inner.inShell = true;  // one process: the demo's own notes would only distract
    if (run(step, inner) != 0) return false;
  }
  return true;
});

}  // namespace
}  // namespace tool
