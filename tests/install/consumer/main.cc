// A tiny application built against the installed library: it reaches the embedded server,
// reads a result code's text and replaces one slot, as an application would.
#include <cstdio>
#include <cwchar>

#include <ostrel/api/ostrel.h>

int main() {
  const wchar_t* text = Ostrel::GetErrorString(2015);
  if (!text || std::wcslen(text) == 0) return 1;
  OstrelFunc::Interprete = [](const char*, const char*) { return 7; };
  if (Ostrel::Interprete("x", "y") != 7) return 2;
  OstrelFunc::loadDefault();
  std::printf("consumer: %ls\n", text);
  Ostrel::ExitOstrel();
  return 0;
}
