// SPDX-License-Identifier: MIT
// zeltoctl run as a separate process, as a shell or a station's supervisor runs it (POSIX).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

extern char** environ;

namespace zelto::test {

// A zeltoctl process (the ZELTOCTL the test was built with), with variables of its own on top of
// the test's environment; its stdout read line by line or as it comes, its stderr kept.
class Zeltoctl {
 public:
  explicit Zeltoctl(const std::vector<std::string>& args,
                    const std::map<std::string, std::string>& env = {}) {
    int out[2], err[2];
    EXPECT_EQ(::pipe(out), 0);
    EXPECT_EQ(::pipe(err), 0);
    std::vector<std::string> vars;
    for (char** e = environ; *e; ++e) {
      const std::string v = *e;
      if (!env.count(v.substr(0, v.find('=')))) vars.push_back(v);
    }
    for (const auto& [k, v] : env) vars.push_back(k + "=" + v);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      ::dup2(err[1], 2);
      // Only the test reads: a closed stdout must reach the program as a broken pipe.
      ::close(out[0]);
      ::close(err[0]);
      std::vector<char*> argv{const_cast<char*>(ZELTOCTL)}, envp;
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      for (auto& v : vars) envp.push_back(v.data());
      envp.push_back(nullptr);
      ::execve(ZELTOCTL, argv.data(), envp.data());
      ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    out_ = out[0];
    err_ = err[0];
    ::fcntl(err_, F_SETFL, O_NONBLOCK);
  }
  ~Zeltoctl() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
    CloseOut();
    ::close(err_);
  }
  // The next line of stdout within `ms`; false at its end or when none came.
  bool Line(std::string& line, int ms = 30000) {
    for (;;) {
      if (const auto nl = buffer_.find('\n'); nl != std::string::npos) {
        line = buffer_.substr(0, nl);
        buffer_.erase(0, nl + 1);
        return true;
      }
      if (!Fill(ms)) return false;
    }
  }
  // Whatever stdout has brought within `ms`, appended to `into`; false at its end or when
  // nothing came.
  bool ReadSome(std::string& into, int ms) {
    if (buffer_.empty() && !Fill(ms)) return false;
    into += buffer_;
    buffer_.clear();
    return true;
  }
  // Stops reading stdout, as a reader at the other end of a pipe that goes away.
  void CloseOut() {
    if (out_ >= 0) ::close(out_);
    out_ = -1;
  }
  void Signal(int signo) { ::kill(pid_, signo); }
  // The exit code; 1000 + the signal for a process killed by one rather than ending through
  // its own exit path.
  int Wait() {
    std::string rest;
    while (Line(rest)) {
    }
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    DrainErr();
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
  }
  const std::string& Err() const { return err_text_; }

 private:
  bool Fill(int ms) {
    if (out_ < 0) return false;
    pollfd p{out_, POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0) return false;
    char chunk[4096];
    const ssize_t n = ::read(out_, chunk, sizeof(chunk));
    if (n <= 0) return false;
    buffer_.append(chunk, static_cast<std::size_t>(n));
    DrainErr();
    return true;
  }
  void DrainErr() {
    char chunk[4096];
    ssize_t n;
    while ((n = ::read(err_, chunk, sizeof(chunk))) > 0)
      err_text_.append(chunk, static_cast<std::size_t>(n));
  }
  pid_t pid_ = -1;
  int out_ = -1, err_ = -1;
  std::string buffer_, err_text_;
};

}  // namespace zelto::test
