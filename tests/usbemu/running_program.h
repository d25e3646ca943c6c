// SPDX-License-Identifier: MIT
// The real zeltosoft started on the emulated adapters: a copy of the executable and its
// string table in a folder of its own (it writes its parameter file beside itself), started
// under this process's umockdev preload with the testbed named explicitly.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace zelto::usbemu {

class RunningProgram {
 public:
  // program: the zeltosoft executable (or zeltoctl); its StringTable.txt is beside it. With
  // `out`, its standard output goes to that file in its folder.
  RunningProgram(const std::filesystem::path& program, const std::string& umockdev_dir,
                 std::vector<std::string> args = {}, const std::string& out = {}) {
    namespace fs = std::filesystem;
    folder_ = fs::temp_directory_path() / ("zelto-usbemu-" + std::to_string(::getpid()));
    fs::create_directories(folder_);
    fs::copy_file(program, folder_ / "zeltosoft", fs::copy_options::overwrite_existing);
    if (fs::exists(program.parent_path() / "StringTable.txt"))
      fs::copy_file(program.parent_path() / "StringTable.txt", folder_ / "StringTable.txt",
                    fs::copy_options::overwrite_existing);
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string entry = *e;
      if (entry.rfind("UMOCKDEV_DIR=", 0) == 0 || entry.rfind("QT_QPA_PLATFORM=", 0) == 0) continue;
      env.push_back(entry);
    }
    // The testbed set UMOCKDEV_DIR for this process only at the C level; the child is told.
    env.push_back("UMOCKDEV_DIR=" + umockdev_dir);
    env.push_back("QT_QPA_PLATFORM=offscreen");
    std::vector<char*> envp;
    for (std::string& s : env) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::string path = (folder_ / "zeltosoft").string();
    std::vector<char*> argv{path.data()};
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    const std::string out_path = (folder_ / out).string();
    if (!out.empty())
      posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, out_path.c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0644);
    started_ = std::chrono::steady_clock::now();
    if (posix_spawn(&pid_, path.c_str(), &files, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&files);
  }
  ~RunningProgram() {
    Stop();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  bool Started() const { return pid_ > 0; }
  bool Running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      exit_status_ = status;
      return false;
    }
    return true;
  }
  // Asks the program to end as a desktop session does (SIGTERM) and waits for it; returns
  // whether it ended by itself within the limit.
  bool Stop(int signal = SIGTERM, int limit_ms = 5000) {
    if (pid_ <= 0) return true;
    ::kill(pid_, signal);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
    while (std::chrono::steady_clock::now() < end) {
      if (!Running()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return false;
  }
  int ExitStatus() const { return exit_status_; }
  // CPU time the program has used so far (user + system), in clock ticks, from /proc.
  long long CpuTicks() const {
    if (pid_ <= 0) return -1;
    std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
    std::string line;
    std::getline(stat, line);
    const auto close = line.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(line.substr(close + 2));
    std::string skip;
    for (int field = 3; field < 14; ++field) fields >> skip;  // state .. cmajflt
    long long user = 0, system = 0;
    fields >> user >> system;
    return user + system;
  }
  const std::filesystem::path& Folder() const { return folder_; }

 private:
  std::filesystem::path folder_;
  pid_t pid_ = -1;
  int exit_status_ = -1;
  std::chrono::steady_clock::time_point started_;
};

}  // namespace zelto::usbemu
