// ostrel: try the library from a terminal. `ostrel help` lists the commands.
//
// By default the tool works against the embedded server inside its own process; with the
// middleware's settings file (TARN_SETTINGS) it talks to the servers named there.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>

#include "ostrel/api/middleware/kxTarn_API.h"
#include "ostrel/api/ostrel.h"
#include "tarn/client/directory.h"
#include "tarn/client/settings.h"
#include "tools/ostrel/line_editor.h"
#include "tools/ostrel/records.h"
#include "tools/ostrel/tool.h"

namespace tool {
namespace {

constexpr int kServerNotAnswering = 2002;  // the middleware's: no address of the server answers

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

// The status of a shell run: the first failure's (a usage error counts), or what `exit N` gives.
int runShell(Tool& tool) {
  const bool interactive = isatty(STDIN_FILENO);
  // Ctrl-C cancels the line or the command in progress; only Ctrl-D or exit leave, so what
  // this process holds (a diverted realm, the embedded server's points) stays.
  InterruptCatcher catcher;
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
    takeInterrupt();  // a Ctrl-C that came after the command ended cancels nothing
  }
  if (interactive) tool.out << "\n";
  return first;
}

}  // namespace

Registration::Registration(Adder adder) { adders().push_back(std::move(adder)); }

void addCommands(CLI::App& app, Tool& tool) {
  for (const Adder& adder : adders()) adder(app, tool);
}

int run(const std::vector<std::string>& args, Tool& tool) {
  CLI::App app{"ostrel: try the Ostrel client library from a terminal", "ostrel"};
  app.require_subcommand(1);
  app.fallthrough(false);
  // One grammar on every platform: a word such as /tmp/x is a path, never a Windows-style option
  // (CLI11's default on Windows, inherited by every subcommand).
  app.allow_windows_style_options(false);
  app.set_version_flag("--version", "ostrel " OSTREL_VERSION);
  app.footer(
      "Before the command: --address HOST:PORT (or TARN_ADDRESS) talks to that one tarnd without a settings\n"
      "file; --timeout MS bounds every remote call of the command. Commands that print data take --json.\n"
      "TLS: a server whose settings entry says tls=\"true\" is reached over TLS with the certificate, key and\n"
      "CA named by TARN_TLS_CERT, TARN_TLS_KEY and TARN_TLS_CA (or the settings root's tls-cert, tls-key,\n"
      "tls-ca); with TARN_TLS_CA set, --address reaches its tarnd over TLS too (tarnd --tls-...).\n"
      "'ostrel help COMMAND [SUBCOMMAND]' tells more of one command.");
  addCommands(app, tool);
  CLI::App* shell = app.add_subcommand("shell", "Read commands line by line in one process (exit or Ctrl-D ends)");
  shell->callback([&] { tool.rc = runShell(tool); });

  auto isCommand = [&app](const std::string& word) {
    try {
      app.get_subcommand(word);
      return true;
    } catch (const CLI::OptionNotFound&) {
      return false;
    }
  };
  std::vector<std::string> given = args;
  // Options written before the command (`--server plant get p1`) belong to it: move them after
  // its name. The command is the first known command name that is not an option's value.
  if (!given.empty() && !given[0].empty() && given[0][0] == '-' && given[0] != "--help" && given[0] != "-h" &&
      given[0] != "--version") {
    for (std::size_t i = 1; i < given.size(); ++i) {
      const std::string& before = given[i - 1];
      const bool takesValue = before[0] == '-' && before.find('=') == std::string::npos && before != "--json";
      if (takesValue || !isCommand(given[i])) continue;
      std::rotate(given.begin(), given.begin() + static_cast<long>(i), given.begin() + static_cast<long>(i) + 1);
      break;
    }
  }
  if (!given.empty() && !given[0].empty() && given[0][0] != '-' && !isCommand(given[0])) {
    tool.err << "ostrel: unknown command '" << shortened(given[0]) << "'\n";
    tool.err << "Run 'ostrel help' for the list of commands.\n";
    return 2;
  }
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
    if (dynamic_cast<const CLI::ExtrasError*>(&e) != nullptr) {
      // CLI11 quotes the words of a reversed argument list backwards: name them as given.
      std::string extras;
      for (const std::string& word : app.remaining(true)) extras += (extras.empty() ? "" : " ") + word;
      tool.err << "ostrel: " << (app.remaining_size(true) > 1 ? "arguments were" : "argument was")
               << " not expected: " << shortened(extras) << "\n";
    } else {
      tool.err << "ostrel: " << e.what() << "\n";
    }
    // Point at the help of the innermost command named, when one was.
    std::string named;
    for (CLI::App* command = &app; command != nullptr;) {
      std::vector<CLI::App*> chosen = command->get_subcommands();
      command = chosen.empty() ? nullptr : chosen.front();
      if (command != nullptr) named += " " + command->get_name();
    }
    if (named.empty() && !given.empty() && isCommand(given[0])) named = " " + given[0];
    if (named.empty()) {
      tool.err << "Run 'ostrel help' for the list of commands.\n";
    } else {
      tool.err << "Run 'ostrel help" << named << "' for its usage.\n";
    }
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
  tool.server = target.server;
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
  if (code == kInterrupted) {
    tool.err << "ostrel: " << shortened(what) << ": interrupted\n";
    tool.rc = 130;
    return false;
  }
  // "No server name" most often means that the settings file could not be used: the middleware
  // says why (the file, the line, the cause).
  if (code == OstrelCode::kNoServerName) {
    const int why = kx_tarn_connect(nullptr);
    if (why == KX_SETTINGS_UNUSABLE) code = why;
  }
  tool.err << "ostrel: " << shortened(what) << ": " << code << " " << codeText(code);
  if (code == kServerNotAnswering) {
    // Say where it was asked: a wrong port in the settings is the usual cause.
    ObjectNames list;
    list.release = true;
    Ostrel::GetServerAddress(tool.server.empty() ? nullptr : tool.server.c_str(), list);
    std::string tried;
    for (int i = 0; i < list.count; ++i) tried += (i ? " and " : "") + std::string(list.names[i]);
    Ostrel::DeatoryNameSeq(&list);
    if (!tried.empty()) tool.err << " (tried " << tried << ")";
  }
  tool.err << "\n";
  tool.rc = 1;
  return false;
}

// The process environment, which the ORB and the middleware read when they start (Windows has
// no setenv; an empty value removes a variable there).
void setVariable(const char* name, const char* value) {
#if defined(_WIN32)
  ::_putenv_s(name, value);
#else
  ::setenv(name, value, 1);
#endif
}

void unsetVariable(const char* name) {
#if defined(_WIN32)
  ::_putenv_s(name, "");
#else
  ::unsetenv(name);
#endif
}

int takeProgramOptions(std::vector<std::string>& args, std::string& address) {
  const char* fromEnvironment = std::getenv("TARN_ADDRESS");
  bool explicitAddress = false;
  if (fromEnvironment != nullptr) address = fromEnvironment;
  while (!args.empty()) {
    std::string option = args[0];
    std::string value;
    const std::size_t equals = option.find('=');
    if (equals != std::string::npos) {
      value = option.substr(equals + 1);
      option.resize(equals);
    }
    if (option != "--address" && option != "--timeout") break;
    if (equals == std::string::npos) {
      if (args.size() < 2) {
        std::cerr << "ostrel: " << option << " needs a value\nRun 'ostrel help' for the program's options.\n";
        return 2;
      }
      value = args[1];
      args.erase(args.begin());
    }
    args.erase(args.begin());
    if (option == "--address") {
      address = value;
      explicitAddress = true;
      continue;
    }
    char* end = nullptr;
    const long ms = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || ms < 1 || ms > 3600000) {
      std::cerr << "ostrel: --timeout takes whole milliseconds from 1 to 3600000, not '" << shortened(value) << "'\n";
      return 2;
    }
    setVariable("TARN_CALL_TIMEOUT_MS", std::to_string(ms).c_str());  // read when the ORB starts
  }
  // --timeout after the command is the program's too, but for the receives that have a
  // --timeout of their own (how long to wait).
  const bool ownTimeout = args.size() > 1 && (args[0] == "port" || args[0] == "box") && args[1] == "recv";
  for (std::size_t i = 1; i < args.size() && !ownTimeout; ++i) {
    if (args[i] != "--timeout" && args[i].rfind("--timeout=", 0) != 0) continue;
    std::vector<std::string> front{args[i]};
    if (args[i] == "--timeout" && i + 1 < args.size()) front.push_back(args[i + 1]);
    args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i + front.size()));
    std::string ignored;
    const int usage = takeProgramOptions(front, ignored);
    if (usage != 0) return usage;
    if (!front.empty()) {  // "--timeout" at the end, without its value
      std::cerr << "ostrel: --timeout needs a value\n";
      return 2;
    }
    break;
  }
  if (address.empty()) return 0;
  if (!tarn::validAddress(address)) {
    std::cerr << "ostrel: " << (explicitAddress ? "--address" : "TARN_ADDRESS") << ": '" << shortened(address)
              << "' is not host:port with a port from 1 to 65535\n";
    return 2;
  }
  const char* settings = std::getenv("TARN_SETTINGS");
  if (!explicitAddress && settings != nullptr && *settings != '\0') {
    // Two configurations and no way to tell which one was meant.
    std::cerr << "ostrel: TARN_ADDRESS and TARN_SETTINGS are both set; unset one (--address overrides both)\n";
    return 2;
  }
  return 0;
}

std::string settingsForAddress(const std::string& address) {
  char path[] = "/tmp/ostrel-address-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) {
    std::cerr << "ostrel: cannot write a settings file for " << address << " in /tmp: " << std::strerror(errno) << "\n";
    return "";
  }
  // The server is named by its address (when that fits a settings name), at position "own".
  const std::string name = address.size() <= 31 ? address : "address";
  const char* ca = std::getenv("TARN_TLS_CA");
  const std::string tls = ca && *ca ? " tls=\"true\"" : "";
  const std::string text =
      "<tarn><server name=\"" + name + "\" position=\"own\" first=\"" + address + "\"" + tls + "/></tarn>\n";
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  if (!written) {
    std::cerr << "ostrel: cannot write a settings file for " << address << " in /tmp\n";
    std::remove(path);
    return "";
  }
  setVariable("TARN_SETTINGS", path);
  return path;
}

}  // namespace tool

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  // No command is a usage error: the help goes where errors go, and the status says so.
  auto noCommand = [] {
    tool::Tool tool{std::cerr, std::cerr};
    tool::run({"--help"}, tool);
    Ostrel::ExitOstrel();
    return 2;
  };
  if (args.empty()) return noCommand();
  // Every failure is printed with the text of its code, which names what is wrong with the
  // settings file; the middleware's log line would say it a second time.
  tarn::Directory::logSettingsErrors(false);
  if (args[0] == "__complete") {
    // For the bash completion script: `ostrel __complete WORD...` (the words before the one
    // being completed) prints the candidates, one a line.
    const std::vector<std::string> before(args.begin() + 1, args.end());
    for (const std::string& candidate : tool::completions(before.size(), before)) std::cout << candidate << "\n";
    std::cout.flush();
    Ostrel::ExitOstrel();
    return 0;
  }
  std::string address;
  const int usage = tool::takeProgramOptions(args, address);
  if (usage != 0) return usage;
  if (args.empty()) return noCommand();
  // The demo writes and deletes points of its own: it runs on the embedded server, never on a
  // server of the settings. Unset before anything reads the settings.
  std::string settingsFile;
  if (args[0] == "demo") {
    tool::unsetVariable("TARN_SETTINGS");
  } else if (!address.empty()) {
    settingsFile = tool::settingsForAddress(address);
    if (settingsFile.empty()) return 1;
  }
  tool::Tool tool{std::cout, std::cerr};
  const int rc = tool::run(args, tool);
  std::cout.flush();
  Ostrel::ExitOstrel();
  if (!settingsFile.empty()) std::remove(settingsFile.c_str());
  return rc;
}
