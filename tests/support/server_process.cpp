#include "support/server_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

extern char** environ;

namespace qmx::test {

namespace fs = std::filesystem;

namespace {

struct Pipe {
  int read = -1;
  int write = -1;
  Pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    read = fds[0];
    write = fds[1];
  }
};

// Starts program with its stdout (and stderr when errFd >= 0) on the given pipe ends.
int spawn(const std::string& program, const std::vector<std::string>& args, int outFd, int errFd) {
  std::vector<std::string> all{program};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
  if (errFd >= 0) posix_spawn_file_actions_adddup2(&actions, errFd, STDERR_FILENO);
  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + program);
  return pid;
}

int waitExit(int pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Reads one line from fd, giving up after the deadline; empty text on EOF or time-out.
std::string readLine(int fd, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::string line;
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return {};
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return {};
    char c;
    const ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return {};
    if (c == '\n') return line;
    line.push_back(c);
  }
}

}  // namespace

CommandResult runProgram(const std::string& program, const std::vector<std::string>& args) {
  Pipe out, err;
  int pid;
  try {
    pid = spawn(program, args, out.write, err.write);
  } catch (...) {
    for (int fd : {out.read, out.write, err.read, err.write}) ::close(fd);
    throw;
  }
  ::close(out.write);
  ::close(err.write);

  // Drain both pipes together so that a chatty child never blocks on a full one.
  CommandResult result;
  pollfd fds[2] = {{out.read, POLLIN, 0}, {err.read, POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = 2;
  while (open > 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buf[4096];
      const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  result.exitCode = waitExit(pid);
  return result;
}

ServerProcess::ServerProcess(std::string serverPath) : serverPath_(std::move(serverPath)) {
  std::string tmpl = (fs::temp_directory_path() / "qmxserver.XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  folder_ = tmpl;
  dbPath_ = folder_ + "/qmx.db";

  const CommandResult init = runProgram(serverPath_, {"init-demo", "--db", dbPath_});
  if (init.exitCode != 0) {
    std::error_code ec;
    fs::remove_all(folder_, ec);
    throw std::runtime_error("qmx-server init-demo failed: " + init.err);
  }

  Pipe out;
  try {
    pid_ = spawn(serverPath_, {"serve", "--db", dbPath_, "--port", "0"}, out.write, -1);
  } catch (...) {
    ::close(out.read);
    ::close(out.write);
    std::error_code ec;
    fs::remove_all(folder_, ec);
    throw;
  }
  ::close(out.write);
  stdoutFd_ = out.read;

  const std::string line = readLine(stdoutFd_, std::chrono::seconds(20));
  const std::string prefix = "listening on ";
  if (line.rfind(prefix, 0) != 0) {
    stop();
    std::error_code ec;
    fs::remove_all(folder_, ec);
    throw std::runtime_error("qmx-server did not announce its address: \"" + line + "\"");
  }
  baseUrl_ = line.substr(prefix.size());
  const auto colon = baseUrl_.rfind(':');
  port_ = std::atoi(baseUrl_.c_str() + colon + 1);
}

ServerProcess::~ServerProcess() {
  stop();
  std::error_code ec;
  fs::remove_all(folder_, ec);
}

CommandResult ServerProcess::command(std::vector<std::string> args) const {
  args.push_back("--db");
  args.push_back(dbPath_);
  return runProgram(serverPath_, args);
}

void ServerProcess::changeRow(const std::string& dataSet, int key,
                              const std::vector<std::pair<std::string, std::string>>& fields) const {
  std::vector<std::string> args{"change-row", "--data", dataSet, "--key", std::to_string(key)};
  for (const auto& [name, value] : fields) {
    args.push_back("--field");
    args.push_back(name + "=" + value);
  }
  const CommandResult r = command(args);
  if (r.exitCode != 0) throw std::runtime_error("qmx-server change-row failed: " + r.err);
}

int ServerProcess::stop() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    exitStatus_ = waitExit(pid_);
    pid_ = -1;
  }
  if (stdoutFd_ >= 0) {
    ::close(stdoutFd_);
    stdoutFd_ = -1;
  }
  return exitStatus_;
}

}  // namespace qmx::test
