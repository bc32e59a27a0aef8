#include "support/server_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>

extern char** environ;

namespace qmx::test {

namespace fs = std::filesystem;

namespace {

// Starts program with its stdout and stderr on the given descriptors.
int spawn(const std::string& program, std::vector<std::string> args, int outFd, int errFd) {
  args.insert(args.begin(), program);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errFd, STDERR_FILENO);
  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + program);
  return pid;
}

int waitExit(int pid) {
  int status = 0;
  return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

std::string contents(std::FILE* file) {
  std::string text;
  std::rewind(file);
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, file)) > 0;) text.append(buf, n);
  return text;
}

}  // namespace

CommandResult runProgram(const std::string& program, const std::vector<std::string>& args) {
  // Unnamed files rather than pipes: a chatty child never blocks on a full one.
  const File out(std::tmpfile(), std::fclose), err(std::tmpfile(), std::fclose);
  if (!out || !err) throw std::runtime_error("tmpfile failed");
  CommandResult result;
  result.exitCode = waitExit(spawn(program, args, fileno(out.get()), fileno(err.get())));
  result.out = contents(out.get());
  result.err = contents(err.get());
  return result;
}

ServerProcess::ServerProcess(std::string serverPath, bool verbose)
    : ServerProcess(std::move(serverPath), "", true, verbose) {}

ServerProcess::ServerProcess(std::string serverPath, std::string database, bool initDemo, bool verbose,
                             std::vector<std::string> serveArgs)
    : serverPath_(std::move(serverPath)), serveArgs_(std::move(serveArgs)), verbose_(verbose) {
  std::string tmpl = (fs::temp_directory_path() / "qmxserver.XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  folder_ = tmpl;
  dbPath_ = database.empty() ? folder_ + "/qmx.db" : database;
  try {
    if (initDemo) {
      const CommandResult init = runProgram(serverPath_, {"init-demo", "--db", dbPath_});
      if (init.exitCode != 0) throw std::runtime_error("qmx-server init-demo failed: " + init.err);
    }
    start(0);
  } catch (...) {
    stop();
    std::error_code ec;
    fs::remove_all(folder_, ec);
    throw;
  }
}

void ServerProcess::start(int port) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  stdout_ = ::fdopen(fds[0], "r");
  File writeEnd(::fdopen(fds[1], "w"), std::fclose);
  std::vector<std::string> args{"serve", "--db", dbPath_, "--port", std::to_string(port)};
  if (verbose_) args.push_back("--verbose");
  args.insert(args.end(), serveArgs_.begin(), serveArgs_.end());
  // The server logs every request; kept in its folder as a deployment keeps it, not
  // mixed into the test's own output.
  const int logFd = ::open((folder_ + "/serve.log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (logFd < 0) throw std::runtime_error("cannot create " + folder_ + "/serve.log");
  pid_ = spawn(serverPath_, args, fds[1], logFd);
  ::close(logFd);
  writeEnd.reset();  // the server's end only, so that its exit ends the read below
  // Blocks until the announcement; a server that dies first gives end of file.
  char line[256] = "";
  const std::string prefix = "listening on ";
  if (!std::fgets(line, sizeof line, stdout_) || std::string(line).rfind(prefix, 0) != 0) {
    throw std::runtime_error("qmx-server did not announce its address: \"" + std::string(line) + "\"; its log: " +
                             log());
  }
  baseUrl_ = std::string(line + prefix.size());
  baseUrl_.erase(baseUrl_.find_last_not_of("\r\n") + 1);
  port_ = std::atoi(baseUrl_.c_str() + baseUrl_.rfind(':') + 1);
}

void ServerProcess::killAndRestart() {
  if (pid_ > 0) ::kill(pid_, SIGKILL);
  stop();
  start(port_);
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

std::string ServerProcess::log() const {
  const File file(std::fopen((folder_ + "/serve.log").c_str(), "r"), std::fclose);
  return file ? contents(file.get()) : "";
}

int ServerProcess::stop() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    exitStatus_ = waitExit(pid_);
    pid_ = -1;
  }
  if (stdout_) std::fclose(stdout_);
  stdout_ = nullptr;
  return exitStatus_;
}

}  // namespace qmx::test
