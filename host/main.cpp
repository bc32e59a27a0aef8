// qmxhost: runs a script of member calls against one control over a machine
// root, printing every result, notification, message box and error.
#include <fcntl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>

#include "control/xmlload.h"
#include "host/event_writer.h"
#include "host/help_text.h"
#include "host/interpreter.h"
#include "host/registry_command.h"
#include "host/script.h"
#include "platform/posix/drive_map.h"
#include "platform/posix/posix_platform.h"

namespace {

using namespace qmx;
using namespace qmx::host;

struct Options {
  std::string root;
  bool json = false;
  std::string script = "-";
  int connectTimeout = 0;  // 0: the control's default
  int stallTimeout = 0;
  int requestTimeout = 0;
};

// The user's terminal, when standard error is one: message boxes wait there for
// Enter and long work shows progress there, never mixing with the script's input
// or with standard output.
class Terminal {
 public:
  Terminal() : interactive_(::isatty(STDERR_FILENO) == 1) {}
  ~Terminal() { clearProgress(); }
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  bool interactive() const { return interactive_; }

  void waitForEnter() {
    if (!interactive_) return;
    // /dev/tty, not standard input: the script itself may be arriving there.
    const int fd = ::open("/dev/tty", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    std::fputs("(press Enter to continue)", stderr);
    std::fflush(stderr);
    char c = 0;
    while (::read(fd, &c, 1) == 1 && c != '\n') {
    }
    ::close(fd);
  }

  void progress(std::uint64_t done, std::uint64_t total) {
    if (!interactive_) return;
    // Redrawing for every chunk of a download would cost more than the download.
    const auto now = std::chrono::steady_clock::now();
    // Only work that lasts more than a second is worth a progress line.
    if (!workStarted_) workStarted_ = now;
    if (now - *workStarted_ < std::chrono::seconds(1)) return;
    if (progressShown_ && done != total && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastDraw_ = now;
    if (total > 0) {
      std::fprintf(stderr, "\r\033[Kworking: %llu of %llu", static_cast<unsigned long long>(done),
                   static_cast<unsigned long long>(total));
    } else {
      std::fprintf(stderr, "\r\033[Kworking: %llu", static_cast<unsigned long long>(done));
    }
    std::fflush(stderr);
    progressShown_ = true;
  }

  void clearProgress() {
    workStarted_.reset();
    if (!progressShown_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    progressShown_ = false;
  }

 private:
  bool interactive_;
  bool progressShown_ = false;
  std::chrono::steady_clock::time_point lastDraw_{};
  std::optional<std::chrono::steady_clock::time_point> workStarted_;
};

bool readScript(const std::string& name, std::string& text, std::string& problem) {
  std::ostringstream buffer;
  if (name == "-") {
    buffer << std::cin.rdbuf();
    if (std::cin.bad()) {
      problem = "cannot read standard input";
      return false;
    }
  } else {
    std::ifstream in(name, std::ios::binary);
    if (!in) {
      problem = "cannot read " + name + ": " + std::strerror(errno);
      return false;
    }
    buffer << in.rdbuf();
    if (in.bad()) {
      problem = "cannot read " + name;
      return false;
    }
  }
  text = buffer.str();
  return true;
}

int runScript(const Options& options) {
  std::string text;
  std::string problem;
  if (!readScript(options.script, text, problem)) {
    std::cerr << "qmxhost: " << problem << '\n';
    return 2;
  }
  std::vector<Statement> statements;
  try {
    statements = parseScript(text);
  } catch (const ScriptError& e) {
    const std::string shown = options.script == "-" ? "<stdin>" : options.script;
    std::cerr << "qmxhost: " << shown << ":" << e.line() << ": " << e.message() << '\n';
    return 2;
  }

  Terminal terminal;
  EventWriter events(std::cout, options.json ? OutputFormat::Json : OutputFormat::Text);
  events.setBeforeLine([&] { terminal.clearProgress(); });

  // Both handlers exist before the control does, so that the start-up's
  // notifications and message boxes are shown in order.
  PosixPlatform platform(options.root.empty() ? defaultMachineRoot() : options.root,
                         [&](const std::string& message) {
                           events.messageBox(message);
                           terminal.waitForEnter();
                         });
  XMLLoad control(platform, [&](const std::string& name) { events.notify(name); });

  bool failed = false;
  if (const auto& e = control.startupError()) {
    events.error(e->number(), e->description(), 0);
    failed = true;
  }
  if (options.connectTimeout > 0 || options.stallTimeout > 0 || options.requestTimeout > 0) {
    HttpLimits limits;
    if (options.connectTimeout > 0) limits.connect = std::chrono::seconds(options.connectTimeout);
    if (options.stallTimeout > 0) limits.stall = std::chrono::seconds(options.stallTimeout);
    if (options.requestTimeout > 0) limits.request = std::chrono::seconds(options.requestTimeout);
    control.setHttpLimits(limits);
  }
  if (terminal.interactive()) {
    control.setProgressHandler([&](std::uint64_t done, std::uint64_t total) { terminal.progress(done, total); });
  }

  Interpreter interpreter(control, events);
  if (interpreter.runAll(statements) > 0) failed = true;
  terminal.clearProgress();
  return failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  CLI::App app{"qmxhost: runs a script of calls against one XMLLoad control.", "qmxhost"};
  app.add_option("--root", options.root, "machine root (default $HOME/.qmxprod)");
  app.add_flag("--json", options.json, "write one JSON object per event instead of text lines");
  app.add_option("--connect-timeout", options.connectTimeout, "seconds to wait for a connection (default 60)")
      ->check(CLI::Range(1, 86400));
  app.add_option("--stall-timeout", options.stallTimeout,
                 "seconds a request may receive nothing before it fails (default 60)")
      ->check(CLI::Range(1, 86400));
  app.add_option("--request-timeout", options.requestTimeout,
                 "seconds a whole request may take, however steadily bytes arrive (default 1800)")
      ->check(CLI::Range(1, 86400));
  app.add_option("script", options.script, "script file; - or absent for standard input");

  CLI::App* registry = app.add_subcommand("registry", "print the machine root's registry.reg as parsed");
  registry->add_option("--root", options.root, "machine root (default $HOME/.qmxprod)");
  // Set after the subcommand exists, which would otherwise repeat it.
  app.footer(kHelpText);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Usage errors share the unreadable script's status: nothing ran.
    const int status = app.exit(e);
    return status == 0 ? 0 : 2;
  }
  if (registry->parsed()) {
    return printRegistry(options.root.empty() ? defaultMachineRoot() : options.root, std::cout, std::cerr);
  }
  return runScript(options);
}
