#include "tools/ostrel/line_editor.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>

#include <editline/readline.h>

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
  return rl_completion_matches(text, nextCandidate);
}

}  // namespace

LineEditor::LineEditor(bool interactive, Completer completer) : interactive_(interactive) {
  if (!interactive_) return;
  activeCompleter = std::move(completer);
  rl_attempted_completion_function = complete;
  using_history();
}

LineEditor::~LineEditor() {
  if (!interactive_) return;
  activeCompleter = nullptr;
  clear_history();
}

bool LineEditor::read(const char* prompt, std::string& line) {
  if (!interactive_) return static_cast<bool>(std::getline(std::cin, line));
  char* text = readline(prompt);
  if (text == nullptr) return false;
  line = text;
  if (!line.empty()) add_history(text);
  std::free(text);
  return true;
}

}  // namespace tool
