// `record TYPE [path=value...]`: builds a record of a data type, applies the assignments and
// shows it, as the data point and event commands show theirs.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "ostrel/data/record.h"
#include "tools/ostrel/records.h"
#include "tools/ostrel/tool.h"

namespace tool {
namespace {

int showRecord(Tool& tool, const std::string& typeName, const std::vector<std::string>& assignments, bool hex,
               bool json) {
  BrennicData record(typeName.c_str(), 0);
  if (!record.IsGood()) {
    tool.err << "ostrel: no data type named '" << typeName << "' at any position\n";
    return 1;
  }
  std::string error;
  if (!parseAssignments(record, assignments, error)) {
    tool.err << "ostrel: " << error << "; nothing was assigned\n";
    return 2;
  }
  if (json) {
    tool.out << recordJson(record) << "\n";
    return 0;
  }
  tool.out << record.GetTypeName() << "  (" << record.GetBufferSize() << " bytes)\n";
  printRecord(tool.out, record);
  if (hex) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(record.GetRawValue());
    for (unsigned int i = 0; i < record.GetBufferSize(); i += 16) {
      char line[16];
      std::snprintf(line, sizeof line, "%6u ", i);
      tool.out << line;
      for (unsigned int j = i; j < i + 16 && j < record.GetBufferSize(); ++j) {
        std::snprintf(line, sizeof line, " %02x", bytes[j]);
        tool.out << line;
      }
      tool.out << "\n";
    }
  }
  return 0;
}

void addRecordCommands(CLI::App& app, Tool& tool) {
  auto* command = app.add_subcommand(
      "record", "Build a record of a data type, set fields as path=value and show it (e.g. "
                "record PumpState mode=-2 speed.unit=rpm)");
  auto typeName = std::make_shared<std::string>();
  auto assignments = std::make_shared<std::vector<std::string>>();
  auto hex = std::make_shared<bool>(false);
  command->add_option("TYPE", *typeName, "data type name, e.g. PumpState")->required();
  command->add_option("ASSIGNMENTS", *assignments,
                      "path=value, e.g. speed.value=1480.5, pumps[2].mode=-1, text=\"two words\"");
  auto json = std::make_shared<bool>(false);
  command->add_flag("--hex", *hex, "also show the raw value bytes");
  command->add_flag("--json", *json, "print the record as one JSON object {name, type, fields}");
  command->callback([&tool, typeName, assignments, hex, json] {
    tool.rc = showRecord(tool, *typeName, *assignments, *hex, *json);
  });
}

OSTREL_TOOL_COMMANDS(addRecordCommands);

}  // namespace
}  // namespace tool
