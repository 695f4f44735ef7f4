#include "tools/ostrel/line_editor.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <sstream>

#include <editline/readline.h>

#include "tools/ostrel/tool.h"

namespace tool {
namespace {

// readline's completion hooks are plain functions: the shell's one editor keeps its state here.
Completer activeCompleter;
std::vector<std::string> candidates;

char* nextCandidate(const char* text, int state) {
  static std::size_t index;
  if (state == 0) index = 0;
  const std::size_t length = std::strlen(text);
  while (index < candidates.size()) {
    const std::string& candidate = candidates[index++];
    if (candidate.compare(0, length, text) == 0) return strdup(candidate.c_str());
  }
  return nullptr;
}

char** complete(const char* text, int start, int) {
  std::istringstream before(std::string(rl_line_buffer, static_cast<std::size_t>(start)));
  std::vector<std::string> words;
  for (std::string word; before >> word;) words.push_back(word);
  candidates = activeCompleter ? activeCompleter(words.size(), words) : std::vector<std::string>();
  rl_attempted_completion_function = complete;  // some versions reset it after a completion
  rl_attempted_completion_over = 1;             // no file names when nothing else fits
  // A field path ends in "=": its value follows without a space.
  const std::size_t length = std::strlen(text);
  bool assignment = false;
  for (const std::string& candidate : candidates)
    if (candidate.compare(0, length, text) == 0 && !candidate.empty() && candidate.back() == '=') assignment = true;
  rl_completion_append_character = assignment ? '\0' : ' ';
  return rl_completion_matches(text, nextCandidate);
}

// The history file: $XDG_STATE_HOME/ostrel/history, or ~/.local/state/ostrel/history; empty
// when neither folder can be named. Its folder is made when missing.
std::string historyPath() {
  std::string folder;
  const char* state = std::getenv("XDG_STATE_HOME");
  const char* home = std::getenv("HOME");
  if (state != nullptr && *state == '/') {
    folder = state;
  } else if (home != nullptr && *home != '\0') {
    folder = std::string(home) + "/.local/state";
  } else {
    return std::string();
  }
  folder += "/ostrel";
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  return folder + "/history";
}

constexpr int kHistoryLines = 1000;

}  // namespace

LineEditor::LineEditor(bool interactive, Completer completer) : interactive_(interactive) {
  if (!interactive_) return;
  activeCompleter = std::move(completer);
  rl_attempted_completion_function = complete;
  using_history();
  history_ = historyPath();
  if (!history_.empty()) read_history(history_.c_str());
}

LineEditor::~LineEditor() {
  if (!interactive_) return;
  activeCompleter = nullptr;
  if (!history_.empty()) {
    stifle_history(kHistoryLines);
    write_history(history_.c_str());
  }
  clear_history();
}

bool LineEditor::read(const char* prompt, std::string& line) {
  if (!interactive_) return static_cast<bool>(std::getline(std::cin, line));
  char* text = readline(prompt);
  if (text == nullptr && takeInterrupt()) {
    // Ctrl-C at the prompt drops the line, as a shell does.
    std::fputs("^C\n", stdout);
    line.clear();
    return true;
  }
  if (text == nullptr) return false;
  line = text;
  if (!line.empty()) add_history(text);
  std::free(text);
  return true;
}

}  // namespace tool
