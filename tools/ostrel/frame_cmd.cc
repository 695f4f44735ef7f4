// Frame commands: help, error, ping, script, demo.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>

#include "ostrel/api/middleware/kxNaming_Client.h"
#include "ostrel/api/middleware/kxTarn_API.h"
#include "ostrel/api/ostrel.h"
#include "tools/ostrel/records.h"
#include "tools/ostrel/tool.h"

namespace tool {
namespace {

std::vector<DemoStep>& steps() {
  static std::vector<DemoStep> list;
  return list;
}

int ping(Tool& tool, const std::string& server, int count, bool json = false) {
  tool.server = server;
  const char* name = server.empty() ? nullptr : server.c_str();
  const std::string shown = server.empty() ? std::string("the own server") : server;
  const auto start = std::chrono::steady_clock::now();
  int rc = 0;
  for (int i = 0; i < count && rc == 0; ++i) rc = kx_tarn_connect(name);
  const auto took = std::chrono::steady_clock::now() - start;
  if (!check(tool, "ping " + shown, rc)) return 1;
  kxServerName own = kx_get_servername("own");
  const char* resolved = name ? name : (own.found ? own.name : "");
  const char* active = kxNaming_Client::GetInstance()->activeServer(resolved);
  const double micros = std::chrono::duration<double, std::micro>(took).count() / count;
  if (json) {
    tool.out << "{\"server\": " << jsonString(resolved) << ", \"address\": " << jsonString(active ? active : "")
             << ", \"pings\": " << count << ", \"us_each\": " << micros << "}\n";
    return 0;
  }
  tool.out << "server " << resolved << " answers at " << (active ? active : "?") << ": " << count
           << " ping" << (count == 1 ? "" : "s") << ", " << micros << " us each\n";
  return 0;
}

void addFrameCommands(CLI::App& app, Tool& tool) {
  auto* help = app.add_subcommand("help", "List the commands, or tell more of one: help COMMAND");
  auto topic = std::make_shared<std::vector<std::string>>();
  help->add_option("COMMAND", *topic, "the command to tell more of, with its subcommand (help port send)");
  help->callback([&app, &tool, topic] {
    if (topic->empty()) {
      tool.out << overview(app);
      return;
    }
    CLI::App* command = &app;
    std::string named, parents = "ostrel";
    for (const std::string& word : *topic) {
      if (!named.empty()) parents += " " + command->get_name();
      named += (named.empty() ? "" : " ") + word;
      try {
        command = command->get_subcommand(word);
      } catch (const CLI::OptionNotFound&) {
        tool.err << "ostrel: help: unknown command '" << shortened(named) << "'\n";
        tool.rc = 2;
        return;
      }
    }
    tool.out << command->help(parents);  // "Usage: ostrel port send", not "Usage: send"
  });

  auto* error = app.add_subcommand("error", "Print the text of result codes");
  auto codes = std::make_shared<std::vector<std::string>>();
  error->add_option("CODE", *codes, "result codes")->required();
  error->callback([&tool, codes] {
    std::vector<int> numbers;
    for (const std::string& code : *codes) {
      std::size_t used = 0;
      int number = 0;
      try {
        number = std::stoi(code, &used);
      } catch (const std::exception&) {
        used = 0;
      }
      if (used == 0 || used != code.size()) {
        tool.err << "ostrel: error: '" << shortened(code) << "' is not a result code (a whole number)\n";
        tool.rc = 2;
        return;
      }
      numbers.push_back(number);
    }
    for (int code : numbers) tool.out << code << "  " << codeText(code) << "\n";
  });

  auto* pingCommand = app.add_subcommand("ping", "Check that a server answers, and how fast");
  auto server = std::make_shared<std::string>();
  auto count = std::make_shared<int>(1);
  pingCommand->add_option("SERVER", *server, "server name (default: the own server)");
  pingCommand->add_option("-n,--count", *count, "number of pings")->check(CLI::Range(1, 1000000));
  auto json = std::make_shared<bool>(false);
  pingCommand->add_flag("--json", *json, "print one JSON object: {server, address, pings, us_each}");
  pingCommand->callback([&tool, server, count, json] { tool.rc = ping(tool, *server, *count, *json); });

  auto* script = app.add_subcommand("script", "Run a script file through the interpreter");
  auto file = std::make_shared<std::string>();
  auto args = std::make_shared<std::vector<std::string>>();
  script->add_option("FILE", *file, "script file")->required();
  script->add_option("ARGS", *args, "arguments, $1 to $9 in the script");
  script->callback([&tool, file, args] {
    // The interpreter refuses a path that is not a readable file and names a failing line.
    std::string joined;
    for (const std::string& arg : *args) joined += (joined.empty() ? "" : " ") + arg;
    const int rc = Ostrel::Interprete(file->c_str(), joined.c_str());
    if (check(tool, "script " + *file, rc)) tool.out << "script " << *file << ": done\n";
  });

  auto* demo = app.add_subcommand("demo", "Start the embedded server and show what the library does");
  demo->callback([&tool] {
    const char* settings = std::getenv("TARN_SETTINGS");
    if (settings != nullptr && *settings != '\0') {
      // Only a shell started with settings gets here: its servers are already in use.
      tool.err << "ostrel: demo: this shell uses the servers of " << settings
               << "; the demo runs on the embedded server only: run `ostrel demo` on its own\n";
      tool.rc = 1;
      return;
    }
    std::vector<DemoStep> ordered = steps();
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const DemoStep& a, const DemoStep& b) { return a.order < b.order; });
    int failed = 0;
    for (const DemoStep& step : ordered) {
      tool.out << "== " << step.title << "\n";
      if (!step.run(tool)) ++failed;
    }
    tool.out << "== demo finished: " << ordered.size() - failed << " of " << ordered.size()
             << " steps worked\n";
    tool.rc = failed ? 1 : 0;
  });
}

OSTREL_TOOL_COMMANDS(addFrameCommands);

OSTREL_TOOL_DEMO(10, "the embedded server answers", [](Tool& tool) {
  return ping(tool, "", 100) == 0;
});

OSTREL_TOOL_DEMO(20, "result codes have texts", [](Tool& tool) {
  for (int code : {0, 2015, 3000, 2004, 123456})
    tool.out << "  " << code << "  " << codeText(code) << "\n";
  return true;
});

}  // namespace

DemoRegistration::DemoRegistration(DemoStep step) { steps().push_back(std::move(step)); }

}  // namespace tool
