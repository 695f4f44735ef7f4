// ostrel: try the library from a terminal. `ostrel help` lists the commands.
//
// By default the tool works against the embedded server inside its own process; with the
// middleware's settings file (TARN_SETTINGS) it talks to the servers named there.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>

#include "ostrel/api/middleware/kxTarn_API.h"
#include "ostrel/api/ostrel.h"
#include "tools/ostrel/line_editor.h"
#include "tools/ostrel/records.h"
#include "tools/ostrel/tool.h"

namespace tool {
namespace {

std::vector<Adder>& adders() {
  static std::vector<Adder> list;
  return list;
}

// Splits a shell line into words; "double" and 'single' quotes group words.
bool splitLine(const std::string& line, std::vector<std::string>& words, std::string& error) {
  std::string word;
  bool inWord = false;
  char quote = 0;
  for (char c : line) {
    if (quote) {
      if (c == quote) quote = 0; else word += c;
    } else if (c == '"' || c == '\'') {
      quote = c;
      inWord = true;
    } else if (c == ' ' || c == '\t') {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (quote) {
    error = "unclosed quote";
    return false;
  }
  if (inWord) words.push_back(word);
  return true;
}

// Completion in the shell: command names first, then point names of the own server for the
// commands that take them.
std::vector<std::string> completions(std::size_t word, const std::vector<std::string>& words) {
  std::vector<std::string> names;
  if (word == 0) {
    std::ostringstream quiet;
    Tool silent{quiet, quiet};
    CLI::App app;
    for (const Adder& adder : adders()) adder(app, silent);
    for (const CLI::App* command : app.get_subcommands({})) names.push_back(command->get_name());
    names.push_back("exit");
    return names;
  }
  const std::string& command = words[0];
  if (command != "get" && command != "put" && command != "delete") return names;
  ObjectNames points;
  points.release = true;
  if (Ostrel::IsConnect(nullptr) != 0) Ostrel::ConnectTarn(nullptr);
  if (Ostrel::GetAllPointName(&points, nullptr, nullptr) == 0)
    for (int i = 0; i < points.count; ++i) names.push_back(points.names[i]);
  Ostrel::DeatoryNameSeq(&points);
  return names;
}

// The status of a shell run: the first failure's (a usage error counts), or what `exit N` gives.
int runShell(Tool& tool) {
  const bool interactive = isatty(STDIN_FILENO);
  LineEditor editor(interactive, completions);
  std::string line;
  int first = 0;
  auto note = [&first](int status) {
    if (first == 0) first = status;
  };
  for (;;) {
    if (!editor.read("ostrel> ", line)) break;
    std::vector<std::string> words;
    std::string error;
    if (!splitLine(line, words, error)) {
      tool.err << "ostrel: " << error << "\n";
      note(2);
      continue;
    }
    if (words.empty() || words[0][0] == '#') continue;
    if (words[0] == "exit" || words[0] == "quit") {
      if (words.size() > 1) {
        try {
          return std::stoi(words[1]);
        } catch (const std::exception&) {
          tool.err << "ostrel: exit takes a number\n";
          return 2;
        }
      }
      break;
    }
    if (words[0] == "shell") {
      tool.err << "ostrel: already in the shell\n";
      note(2);
      continue;
    }
    Tool inner{tool.out, tool.err};
    inner.inShell = true;
    note(run(words, inner));
  }
  if (interactive) tool.out << "\n";
  return first;
}

}  // namespace

Registration::Registration(Adder adder) { adders().push_back(std::move(adder)); }

int run(const std::vector<std::string>& args, Tool& tool) {
  CLI::App app{"ostrel: try the Ostrel client library from a terminal", "ostrel"};
  app.require_subcommand(1);
  app.fallthrough(false);
  app.set_version_flag("--version", "ostrel " OSTREL_VERSION);
  for (const Adder& adder : adders()) adder(app, tool);
  CLI::App* shell = app.add_subcommand("shell", "Read commands line by line in one process (exit or Ctrl-D ends)");
  shell->callback([&] { tool.rc = runShell(tool); });

  if (!args.empty() && !args[0].empty() && args[0][0] != '-') {
    try {
      app.get_subcommand(args[0]);
    } catch (const CLI::OptionNotFound&) {
      tool.err << "ostrel: unknown command '" << args[0] << "'\n";
      tool.err << "Run 'ostrel help' for the list of commands.\n";
      return 2;
    }
  }
  std::vector<std::string> given = args;
  // Codes such as -1 are arguments of `error`, not options.
  if (given.size() > 1 && given[0] == "error" && given[1] != "--help" && given[1] != "-h")
    given.insert(given.begin() + 1, "--");
  std::vector<std::string> reversed(given.rbegin(), given.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::CallForVersion& e) {
    tool.out << e.what() << "\n";
    return 0;
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) {
      // --help of the program or of one command: show the innermost command that was named.
      tool.out << app.help();
      return 0;
    }
    tool.err << "ostrel: " << e.what() << "\n";
    tool.err << "Run 'ostrel help' for the list of commands.\n";
    return 2;
  }
  return tool.rc;
}

std::string overview(CLI::App& app) {
  return app.get_formatter()->make_help(&app, "ostrel", CLI::AppFormatMode::Normal);
}

std::string codeText(int code) {
  const wchar_t* text = Ostrel::GetErrorString(code);
  return text ? toUtf8(text) : std::string();
}

std::string shortened(const std::string& text, std::size_t most) {
  if (text.size() <= most) return text;
  std::size_t cut = most - 1;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;  // whole characters
  return text.substr(0, cut) + "\u2026";
}

void addServerOptions(CLI::App* command, ServerTarget& target) {
  command->add_option("-s,--server", target.server, "server name (default: the own server)");
  command->add_option("-r,--realm", target.realm, "realm inside the server (default: its default realm)");
}

bool connectServer(Tool& tool, const ServerTarget& target, bool writes) {
  if (!check(tool, "connect " + (target.server.empty() ? std::string("the own server") : target.server),
             Ostrel::ConnectTarn(target.serverOrNull())))
    return false;
  static bool told = false;
  const char* settings = std::getenv("TARN_SETTINGS");
  if (writes && !tool.inShell && !told && (settings == nullptr || *settings == '\0')) {
    told = true;
    tool.err << "ostrel: the embedded server lives only as long as this command; see `ostrel shell` or `tarnd`\n";
  }
  return true;
}

bool check(Tool& tool, const std::string& what, int code) {
  if (code == 0) return true;
  // "No server name" most often means that the settings file could not be used: the middleware
  // says why (the file, the line, the cause).
  if (code == OstrelCode::kNoServerName) {
    const int why = kx_tarn_connect(nullptr);
    if (why == KX_SETTINGS_UNUSABLE) code = why;
  }
  tool.err << "ostrel: " << shortened(what) << ": " << code << " " << codeText(code) << "\n";
  tool.rc = 1;
  return false;
}

}  // namespace tool

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) args.push_back("--help");
  tool::Tool tool{std::cout, std::cerr};
  const int rc = tool::run(args, tool);
  std::cout.flush();
  Ostrel::ExitOstrel();
  return rc;
}
