// Lines for `ostrel shell`: with line editing, history and completion when standard input is a
// terminal (libedit), plain reading otherwise. Used from the shell's one thread only. The
// history is kept between sessions in $XDG_STATE_HOME/ostrel/history (~/.local/state/...).
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tool {

// Candidates for the word being completed: `word` is its index in the line (0: the command),
// `words` the words before it.
using Completer = std::function<std::vector<std::string>(std::size_t word, const std::vector<std::string>& words)>;

class LineEditor {
 public:
  // `interactive`: a terminal is attached (prompt, editing, history, completion).
  LineEditor(bool interactive, Completer completer);
  ~LineEditor();
  LineEditor(const LineEditor&) = delete;
  LineEditor& operator=(const LineEditor&) = delete;

  // The next line without its end; false at the end of the input (Ctrl-D). Ctrl-C at the
  // prompt (with an InterruptCatcher alive) gives an empty line.
  bool read(const char* prompt, std::string& line);

 private:
  bool interactive_;
  std::string history_;  // the history file, "" when none
};

}  // namespace tool
