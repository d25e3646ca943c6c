// SPDX-License-Identifier: MIT
// A real PostgreSQL server of the tests' own: a cluster made with initdb in a temporary
// folder, listening on 127.0.0.1 only (no Unix socket) on a free port, with password
// authentication, stopped and removed at the end. The server refuses to run as root, so as
// root it runs as the unprivileged user `nobody` (through runuser). POSIX only.
#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace zelto::test {

class PgServer {
 public:
  static constexpr const char* kUser = "zelto_line";
  static constexpr const char* kPassword = "line-pass'; word";

  // The folder with initdb, pg_ctl and postgres of the newest version installed; empty when
  // there is none.
  static std::filesystem::path FindBinaries() {
    std::error_code ec;
    std::vector<std::filesystem::path> found;
    for (const auto& e : std::filesystem::directory_iterator("/usr/lib/postgresql", ec))
      if (std::filesystem::exists(e.path() / "bin" / "initdb", ec)) found.push_back(e.path());
    if (found.empty()) return {};
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
      return std::stoi(a.filename().string()) < std::stoi(b.filename().string());
    });
    return found.back() / "bin";
  }

  PgServer() {
    bin_ = FindBinaries();
    if (bin_.empty()) {
      why_not_ = "no PostgreSQL server binaries under /usr/lib/postgresql (package postgresql)";
      return;
    }
    std::random_device random;
    folder_ = std::filesystem::temp_directory_path() /
              ("zelto-pg-" + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directories(folder_);
    ::chmod(folder_.c_str(), 0700);
    {
      std::ofstream pw(folder_ / "pw");
      pw << kPassword << "\n";
    }
    if (::geteuid() == 0 && ::chown(folder_.c_str(), 65534, 65534) != 0) {
      why_not_ = "cannot hand the server's folder to nobody";
      return;
    }
    if (::geteuid() == 0) (void)::chown((folder_ / "pw").c_str(), 65534, 65534);
    if (Run({(bin_ / "initdb").string(), "-D", Data(), "-U", kUser, "--auth=scram-sha-256",
             "--pwfile=" + (folder_ / "pw").string(), "--encoding=UTF8", "--locale=C",
             "--no-sync"},
            (folder_ / "initdb.log").string()) != 0) {
      why_not_ = "initdb failed: " + Log("initdb.log");
      return;
    }
    port_ = FreePort();
    if (!Start()) why_not_ = "the server did not start: " + Log("server.log");
  }
  ~PgServer() {
    if (running_) Stop();
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
  PgServer(const PgServer&) = delete;
  PgServer& operator=(const PgServer&) = delete;

  // Empty when the server runs; else why not (the tests then skip with this reason).
  const std::string& WhyNot() const { return why_not_; }
  int Port() const { return port_; }
  const std::filesystem::path& Folder() const { return folder_; }

  // "postgresql://zelto_line@127.0.0.1:PORT/DB?connect_timeout=2"; the password goes through
  // a password file.
  std::string Url(const std::string& db = "postgres") const {
    return "postgresql://" + std::string(kUser) + "@127.0.0.1:" + std::to_string(port_) + "/" +
           db + "?connect_timeout=2";
  }
  // A .pgpass file for this server, written into `folder` (mode 0600, as libpq wants).
  std::string PassFile(const std::filesystem::path& folder) const {
    const auto path = folder / "pgpass";
    std::ofstream f(path);
    // ':' and '\' are escaped in the file; the password has neither.
    f << "127.0.0.1:" << port_ << ":*:" << kUser << ":" << kPassword << "\n";
    f.close();
    ::chmod(path.c_str(), 0600);
    return path.string();
  }

  bool Start() {
    const int code =
        Run({(bin_ / "pg_ctl").string(), "-D", Data(), "-l", (folder_ / "server.log").string(),
             "-w", "-t", "30", "-o",
             "-c listen_addresses=127.0.0.1 -c unix_socket_directories='' -c fsync=off -p " +
                 std::to_string(port_),
             "start"},
            "/dev/null");
    running_ = code == 0;
    return running_;
  }
  bool Stop() {
    const int code = Run({(bin_ / "pg_ctl").string(), "-D", Data(), "-m", "fast", "-w", "stop"},
                         "/dev/null");
    running_ = false;
    return code == 0;
  }
  // Runs psql on the server (as the cluster's owner) with one SQL command; its output.
  std::string Psql(const std::string& sql, const std::string& db = "postgres") const {
    const auto out = folder_ / "psql.out";
    std::filesystem::remove(out);
    setenv("PGPASSWORD", kPassword, 1);
    Run({(bin_ / "psql").string(), "-X", "-q", "-A", "-t", "-v", "ON_ERROR_STOP=1", "-h",
         "127.0.0.1", "-p", std::to_string(port_), "-U", kUser, "-d", db, "-c", sql},
        out.string(), false);
    unsetenv("PGPASSWORD");
    std::ifstream f(out);
    return std::string(std::istreambuf_iterator<char>(f), {});
  }

  // A port on 127.0.0.1 that nothing listens on (just now).
  static int FreePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    socklen_t n = sizeof(a);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
    ::close(s);
    return ntohs(a.sin_port);
  }

 private:
  std::string Data() const { return (folder_ / "data").string(); }
  std::string Log(const char* name) const {
    std::ifstream f(folder_ / name);
    return std::string(std::istreambuf_iterator<char>(f), {});
  }
  // Runs a program (as nobody when we are root and `as_owner`), its output into `log`.
  int Run(std::vector<std::string> args, const std::string& log, bool as_owner = true) const {
    if (as_owner && ::geteuid() == 0)
      args.insert(args.begin(), {"/usr/sbin/runuser", "-u", "nobody", "--"});
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
      if (fd >= 0) {
        ::dup2(fd, 1);
        ::dup2(fd, 2);
      }
      if (::chdir(folder_.c_str()) != 0) ::_exit(126);
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::filesystem::path bin_, folder_;
  std::string why_not_;
  int port_ = 0;
  bool running_ = false;
};

}  // namespace zelto::test
