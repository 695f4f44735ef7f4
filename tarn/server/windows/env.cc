// The server's files on Windows: handles opened for sharing (so that a reader never stops a
// writer's replace), FlushFileBuffers, MoveFileExW and LockFileEx.
#include <windows.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "tarn/server/env.h"

namespace tarn {
namespace {

std::wstring wide(const std::string& text) {
  if (text.empty()) return {};
  const int size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
  if (size > 0) ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size);
  return out;
}

std::string narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
  return out;
}

bool failLast() {
  const DWORD error = ::GetLastError();
  const IoFault fault = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? IoFault::kMissing
                        : error == ERROR_LOCK_VIOLATION                                 ? IoFault::kBusy
                        : error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL   ? IoFault::kNoRoom
                                                                                        : IoFault::kOther;
  char text[256] = {0};
  const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                                   sizeof text, nullptr);
  std::string said(text, n);
  while (!said.empty() && (said.back() == '\n' || said.back() == '\r' || said.back() == '.')) said.pop_back();
  return failIo(fault, said.empty() ? "Windows error " + std::to_string(error) : said);
}

OVERLAPPED at(std::uint64_t offset) {
  OVERLAPPED where{};
  where.Offset = static_cast<DWORD>(offset);
  where.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return where;
}

class WindowsFile : public File {
 public:
  explicit WindowsFile(HANDLE handle) : handle_(handle) {}
  ~WindowsFile() override { ::CloseHandle(handle_); }

  bool writeAt(std::uint64_t offset, const char* bytes, std::size_t size) override {
    for (std::size_t done = 0; done < size;) {
      OVERLAPPED where = at(offset + done);
      const DWORD step = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 30));
      DWORD wrote = 0;
      if (!::WriteFile(handle_, bytes + done, step, &wrote, &where)) return failLast();
      if (wrote == 0) return failIo(IoFault::kNoRoom, "no byte was written");
      done += wrote;
    }
    return true;
  }

  long long readAt(std::uint64_t offset, char* into, std::size_t size) override {
    OVERLAPPED where = at(offset);
    DWORD got = 0;
    const DWORD step = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    if (::ReadFile(handle_, into, step, &got, &where)) return got;
    if (::GetLastError() == ERROR_HANDLE_EOF) return 0;
    return failLast(), -1;
  }

  bool size(std::uint64_t& bytes) override {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(handle_, &size)) return failLast();
    bytes = static_cast<std::uint64_t>(size.QuadPart);
    return true;
  }

  bool truncate(std::uint64_t bytes) override {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(bytes);
    return ::SetFileInformationByHandle(handle_, FileEndOfFileInfo, &end, sizeof end) || failLast();
  }

  bool sync() override { return ::FlushFileBuffers(handle_) || failLast(); }

  bool lock() override {
    // One byte far past any content: the lock excludes other servers, never a reader of the owner's
    // process id.
    OVERLAPPED where = at(std::uint64_t{1} << 62);
    return ::LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where) || failLast();
  }

 private:
  const HANDLE handle_;
};

// Puts `from` in the place of `to` while another handle (a snapshot's reader) holds `to` open,
// which MoveFileExW refuses: `to` moves aside first (every handle here shares deletion, so an open
// file may be renamed), `from` takes its name, and the old file goes once its last reader closes.
// The name is missing between the two moves only.
bool replaceOpenTarget(const std::wstring& from, const std::wstring& to) {
  static std::atomic<unsigned> serial{0};
  const std::wstring aside = to + L".replaced-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++serial);
  if (!::MoveFileExW(to.c_str(), aside.c_str(), MOVEFILE_WRITE_THROUGH)) return false;
  if (!::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD error = ::GetLastError();
    ::MoveFileExW(aside.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH);
    ::SetLastError(error);
    return false;
  }
  ::DeleteFileW(aside.c_str());
  return true;
}

bool reservedDeviceName(std::string stem) {
  for (char& c : stem) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL" || stem == "CONIN$" || stem == "CONOUT$")
    return true;
  return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) && stem[3] >= '0' &&
         stem[3] <= '9';
}

class WindowsEnv : public Env {
 public:
  std::unique_ptr<File> open(const std::string& path, OpenFor mode) override {
    const DWORD access = mode == OpenFor::kRead ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    const DWORD disposition = mode == OpenFor::kRead ? OPEN_EXISTING : mode == OpenFor::kUpdate ? OPEN_ALWAYS : CREATE_ALWAYS;
    const HANDLE handle = ::CreateFileW(wide(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return failLast(), nullptr;
    BY_HANDLE_FILE_INFORMATION info;
    if (::GetFileInformationByHandle(handle, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      ::CloseHandle(handle);
      return failIo(IoFault::kLink, "the path is a link"), nullptr;
    }
    return std::make_unique<WindowsFile>(handle);
  }

  bool replace(const std::string& from, const std::string& to) override {
    const std::wstring source = wide(from), target = wide(to);
    if (::MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    const DWORD error = ::GetLastError();
    if ((error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) && replaceOpenTarget(source, target)) return true;
    return failLast();
  }

  bool remove(const std::string& path) override { return ::DeleteFileW(wide(path).c_str()) || failLast(); }

  std::string makeTempFolder(const std::string& stem) override {
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH) return failLast(), std::string();
    std::string base = narrow(std::wstring(temp, length));
    for (char& c : base) c = c == '\\' ? '/' : c;
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    static std::atomic<unsigned> serial{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
      unsigned long mix = ::GetCurrentProcessId() * 2654435761u + ::GetTickCount() + ++serial * 40503u;
      std::string name = base + stem + "-";
      for (int i = 0; i < 6; ++i, mix /= 36) name.push_back(kLetters[mix % 36]);
      if (::CreateDirectoryW(wide(name).c_str(), nullptr)) return name;
      if (::GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    return failLast(), std::string();
  }

  // MOVEFILE_WRITE_THROUGH returns once the rename is on disk: nothing is left to sync.
  void syncFolder(const std::string&) override {}

  bool isLink(const std::string& path) override {
    const DWORD attributes = ::GetFileAttributesW(wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  }

  bool plainName(const std::string& part) override {
    if (part.empty() || part.back() == '.' || part.back() == ' ') return false;
    for (unsigned char c : part)
      if (c < 32 || std::strchr("\\:<>\"|?*", c)) return false;
    return !reservedDeviceName(part.substr(0, part.find('.')));
  }

  bool foldsCase() override { return true; }
  unsigned long processId() override { return ::GetCurrentProcessId(); }

  bool processGone(unsigned long pid) override {
    const HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (!process) return ::GetLastError() == ERROR_INVALID_PARAMETER;
    DWORD code = 0;
    const bool gone = ::GetExitCodeProcess(process, &code) && code != STILL_ACTIVE;
    ::CloseHandle(process);
    return gone;
  }
};

}  // namespace

Env& platformEnv() {
  static WindowsEnv windows;
  return windows;
}

}  // namespace tarn
