// Lines for `ostrel shell` where libedit is missing (the Windows build): plain reading of
// standard input, without editing, history or completion.
#include <iostream>

#include "tools/ostrel/line_editor.h"

namespace tool {

LineEditor::LineEditor(bool interactive, Completer) : interactive_(interactive) {}

LineEditor::~LineEditor() = default;

bool LineEditor::read(const char* prompt, std::string& line) {
  if (interactive_) std::cout << prompt << std::flush;
  return static_cast<bool>(std::getline(std::cin, line));
}

}  // namespace tool
