// Completion candidates for `ostrel shell` and the bash completion script: commands,
// subcommands and options from the commands' own definitions, and point names, type names and
// field paths from the servers (the own server, as the command would use it).
#include <sstream>
#include <string>
#include <vector>

#include "ostrel/api/ostrel.h"
#include "ostrel/api/name_lists.h"
#include "ostrel/data/record.h"
#include "ostrel/data/type_mgr.h"
#include "tools/ostrel/records.h"
#include "tools/ostrel/tool.h"

namespace tool {
namespace {

// The names of the data types the servers define.
std::vector<std::string> typeNames() {
  Ostrel::BuildOstrel();
  return TarnTypeMgr::GetInstance()->typeList();
}

// "path=" for every field of type `type` that takes a value.
std::vector<std::string> fieldsOf(const std::string& type) {
  std::vector<std::string> names;
  BrennicData record(type.c_str(), 0);
  for (const FieldText& field : fieldTexts(record)) names.push_back(field.path + "=");
  return names;
}

std::vector<std::string> pointNames() {
  std::vector<std::string> names;
  ObjectNames points;
  points.release = true;
  if (Ostrel::IsConnect(nullptr) != 0) Ostrel::ConnectTarn(nullptr);
  if (Ostrel::GetAllPointName(&points, nullptr, nullptr) == 0)
    for (int i = 0; i < points.count; ++i) names.push_back(points.names[i]);
  Ostrel::DeatoryNameSeq(&points);
  return names;
}

// The type of point `name` on the own server, "" when it cannot be read.
std::string typeOfPoint(const std::string& name) {
  if (Ostrel::IsConnect(nullptr) != 0) Ostrel::ConnectTarn(nullptr);
  BrennicData record;
  if (Ostrel::GetDataPoint(name.c_str(), record, nullptr, nullptr) != 0 || record.GetTypeName() == nullptr) return "";
  return record.GetTypeName();
}

}  // namespace

std::vector<std::string> completions(std::size_t word, const std::vector<std::string>& before) {
  std::ostringstream quiet;
  Tool silent{quiet, quiet};
  CLI::App app;
  app.allow_windows_style_options(false);  // as run() parses them
  addCommands(app, silent);
  app.add_subcommand("shell");
  std::vector<std::string> names;
  auto commandsOf = [&names](const CLI::App* parent) {
    for (const CLI::App* command : parent->get_subcommands({})) names.push_back(command->get_name());
  };
  if (word == 0) {
    commandsOf(&app);
    names.push_back("exit");
    return names;
  }
  const CLI::App* command = nullptr;
  try {
    command = app.get_subcommand(before[0]);
  } catch (const CLI::OptionNotFound&) {
    return names;
  }
  // The words that are not options, after the command (and its subcommand).
  std::vector<std::string> args;
  std::size_t first = 1;
  if (!command->get_subcommands({}).empty()) {
    if (word == 1) {
      commandsOf(command);
      return names;
    }
    try {
      command = command->get_subcommand(before[1]);
    } catch (const CLI::OptionNotFound&) {
      return names;
    }
    first = 2;
  }
  for (std::size_t i = first; i < before.size(); ++i)
    if (before[i][0] != '-' && (i == first || before[i - 1][0] != '-')) args.push_back(before[i]);
  for (const CLI::Option* option : command->get_options())
    for (const std::string& name : option->get_lnames()) names.push_back("--" + name);
  const std::string& c = before[0];
  const std::string previous = before.back();
  auto add = [&names](const std::vector<std::string>& more) { names.insert(names.end(), more.begin(), more.end()); };
  if (previous == "--type" || previous == "-t") {
    add(typeNames());
  } else if (previous == "--field" || previous == "-f") {
    if (!args.empty())
      for (std::string field : fieldsOf(typeOfPoint(args[0]))) add({field.substr(0, field.size() - 1)});
  } else if (c == "help") {
    commandsOf(&app);
  } else if (c == "get" || c == "delete" || c == "watch" || c == "info") {
    add(pointNames());
  } else if (c == "put") {
    if (args.empty()) add(pointNames()); else add(fieldsOf(typeOfPoint(args[0])));
  } else if (c == "create") {
    if (args.size() == 1) add(typeNames());
    if (args.size() >= 2) add(fieldsOf(args[1]));
  } else if (c == "query" || c == "record" || c == "type") {
    if (args.empty()) add(typeNames()); else if (c != "type") add(fieldsOf(args[0]));
  } else if (c == "points") {
    if (args.empty()) add(typeNames());
  }
  return names;
}

}  // namespace tool
