// SPDX-License-Identifier: MIT
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "cli/platform.h"

namespace zelto::cli {

std::tm CalendarTime(std::time_t t, bool utc) {
  std::tm tm{};
  if (utc)
    gmtime_r(&t, &tm);
  else
    localtime_r(&t, &tm);
  return tm;
}

std::filesystem::path ExecutableFolder() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : exe.parent_path();
}

std::filesystem::path UserDataFolder() {
  // A relative XDG folder is to be ignored.
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data != nullptr && data[0] == '/') return std::filesystem::path(data) / "zeltosoft";
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') return {};
  return std::filesystem::path(home) / ".local" / "share" / "zeltosoft";
}

std::filesystem::path PathFromUtf8(std::string_view utf8) {
  return std::filesystem::path(utf8);
}

std::string PathToUtf8(const std::filesystem::path& path) {
  return path.string();
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

void UseUtf8Console() {}

bool StdoutIsTerminal() { return isatty(STDOUT_FILENO) != 0; }

void RouteConsoleEvents(void (*)(int)) {}

bool CanAppend(const std::string& path, std::string& error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  ::close(fd);
  return true;
}

bool AppendDurably(const std::string& path, const std::function<std::string(bool was_empty)>& make,
                   std::string& error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  struct stat st {};
  const bool empty = ::fstat(fd, &st) == 0 && st.st_size == 0;
  const std::string text = make(empty);
  const ssize_t written = ::write(fd, text.data(), text.size());
  bool ok = written == static_cast<ssize_t>(text.size());
  if (!ok) error = written < 0 ? std::strerror(errno) : "short write";
  if (ok && ::fsync(fd) != 0) {
    error = std::strerror(errno);
    ok = false;
  }
  ::close(fd);
  return ok;
}

}  // namespace zelto::cli
