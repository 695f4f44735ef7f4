// ostrel: try the library from a terminal. `ostrel help` lists the commands.
//
// By default the tool works against the embedded server inside its own process; with the
// middleware's settings file (TARN_SETTINGS) it talks to the servers named there.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>

#include "ostrel/api/ostrel.h"
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

int runShell(Tool& tool) {
  const bool interactive = isatty(STDIN_FILENO);
  std::string line;
  int last = 0;
  for (;;) {
    if (interactive) {
      tool.out << "ostrel> " << std::flush;
    }
    if (!std::getline(std::cin, line)) break;
    std::vector<std::string> words;
    std::string error;
    if (!splitLine(line, words, error)) {
      tool.err << "ostrel: " << error << "\n";
      last = 2;
      continue;
    }
    if (words.empty() || words[0][0] == '#') continue;
    if (words[0] == "exit" || words[0] == "quit") break;
    if (words[0] == "shell") {
      tool.err << "ostrel: already in the shell\n";
      continue;
    }
    Tool inner{tool.out, tool.err};
    inner.inShell = true;
    last = run(words, inner);
  }
  if (interactive) tool.out << "\n";
  return last;
}

}  // namespace

Registration::Registration(Adder adder) { adders().push_back(std::move(adder)); }

int run(const std::vector<std::string>& args, Tool& tool) {
  CLI::App app{"ostrel: try the Ostrel client library from a terminal", "ostrel"};
  app.require_subcommand(1);
  app.fallthrough(false);
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
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
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

void addServerOptions(CLI::App* command, ServerTarget& target) {
  command->add_option("-s,--server", target.server, "server name (default: the own server)");
  command->add_option("-r,--realm", target.realm, "realm inside the server (default: its default realm)");
}

bool connectServer(Tool& tool, const ServerTarget& target) {
  return check(tool, "connect " + (target.server.empty() ? std::string("the own server") : target.server),
               Ostrel::ConnectTarn(target.serverOrNull()));
}

bool check(Tool& tool, const std::string& what, int code) {
  if (code == 0) return true;
  tool.err << "ostrel: " << what << ": " << code << " " << codeText(code) << "\n";
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
