// The script interpreter: one command a line, `#` starts a comment, $1..$9 are the arguments.
//
//   connect [SERVER]            kx_tarn_connect
//   create NAME TYPE [SERVER]   kx_create_data_template_point
//   delete NAME [SERVER]        kx_remove_template_point
//   echo TEXT...                prints the text on standard output
//   sleep MS                    waits; shutScript ends the wait at once
//   expect CODE COMMAND...      runs COMMAND and succeeds when its result is CODE
//
// A run stops at the first line whose result is not what it should be and returns that result;
// standard error then says which: "FILE:LINE: TEXT OF THE LINE: CODE". A line that cannot be read
// (an unknown command, a missing or non-numeric argument) is kScriptBadLine; a path that is not
// a readable file is kFileError.
#include "ostrel/api/middleware/Scriptel.h"

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "tarn/client/codes.h"

namespace {

std::mutex runMutex;
std::condition_variable runWake;
int running = 0;        // GUARDED_BY(runMutex)
bool stopRequested = false;  // GUARDED_BY(runMutex)

bool stopping() {
  std::lock_guard<std::mutex> hold(runMutex);
  return stopRequested;
}

std::vector<std::string> split(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

std::string substitute(const std::string& word, const std::vector<std::string>& args) {
  if (word.size() == 2 && word[0] == '$' && word[1] >= '1' && word[1] <= '9') {
    size_t index = static_cast<size_t>(word[1] - '1');
    return index < args.size() ? args[index] : std::string();
  }
  return word;
}

// A whole decimal number, sign allowed, nothing else.
bool whole(const std::string& text, int& value) {
  char* end = nullptr;
  errno = 0;
  const long parsed = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX) return false;
  value = static_cast<int>(parsed);
  return true;
}

const char* optional(const std::vector<std::string>& words, size_t index) {
  return index < words.size() ? words[index].c_str() : nullptr;
}

int execute(const std::vector<std::string>& words) {
  const std::string& command = words[0];
  if (command == "connect") return kx_tarn_connect(optional(words, 1));
  if (command == "create" && words.size() >= 3)
    return kx_create_data_template_point(words[1].c_str(), words[2].c_str(), optional(words, 3), nullptr);
  if (command == "delete" && words.size() >= 2)
    return kx_remove_template_point(words[1].c_str(), optional(words, 2), nullptr);
  if (command == "echo") {
    std::string line;
    for (size_t i = 1; i < words.size(); ++i) line += (i > 1 ? " " : "") + words[i];
    std::cout << line << std::endl;
    return tarn::kOk;
  }
  int number = 0;
  if (command == "sleep" && words.size() == 2 && whole(words[1], number)) {
    const int ms = number;
    std::unique_lock<std::mutex> hold(runMutex);
    runWake.wait_for(hold, std::chrono::milliseconds(ms < 0 ? 0 : ms), [] { return stopRequested; });
    return stopRequested ? tarn::kScriptStopped : tarn::kOk;
  }
  if (command == "expect" && words.size() >= 3 && whole(words[1], number)) {
    const int wanted = number;
    const int got = execute(std::vector<std::string>(words.begin() + 2, words.end()));
    return got == wanted ? tarn::kOk : (got != tarn::kOk ? got : tarn::kScriptBadLine);
  }
  return tarn::kScriptBadLine;
}

}  // namespace

int runscript(const char* file, const char* args) {
  if (!file || !*file) return tarn::kScriptNothingToRun;
  struct stat info;
  if (::stat(file, &info) != 0) {
    std::cerr << file << ": not a readable file: " << std::strerror(errno) << std::endl;
    return tarn::kFileError;
  }
  errno = 0;
  std::ifstream in(file);
  if (!S_ISREG(info.st_mode) || !in) {
    const char* why = !S_ISREG(info.st_mode) ? "not a regular file" : std::strerror(errno ? errno : EACCES);
    std::cerr << file << ": not a readable file: " << why << std::endl;
    return tarn::kFileError;
  }
  const std::vector<std::string> arguments = split(args ? args : "");
  {
    std::lock_guard<std::mutex> hold(runMutex);
    if (running++ == 0) stopRequested = false;
  }
  int result = tarn::kOk;
  std::string line;
  for (int number = 1; result == tarn::kOk && std::getline(in, line); ++number) {
    if (stopping()) {
      result = tarn::kScriptStopped;
      break;
    }
    std::string code = line;
    const size_t hash = code.find('#');
    if (hash != std::string::npos) code.erase(hash);
    std::vector<std::string> words = split(code);
    if (words.empty()) continue;
    for (std::string& word : words) word = substitute(word, arguments);
    result = execute(words);
    if (result != tarn::kOk) std::cerr << file << ":" << number << ": " << line << ": " << result << std::endl;
  }
  std::lock_guard<std::mutex> hold(runMutex);
  --running;
  return result;
}

int shutScript() {
  std::lock_guard<std::mutex> hold(runMutex);
  if (running == 0) return tarn::kScriptNotRunning;
  stopRequested = true;
  runWake.notify_all();
  return tarn::kOk;
}
