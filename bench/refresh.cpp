// Refreshing a large cached data file end to end: the control in a fresh process
// loads the file, asks a local server (which answers prepared replies at once)
// and merges or keeps the copy. Every measured refresh runs in a process of its
// own, so that its peak memory can be read from the process. The figures are
// ratios to pugixml's own work on the same file, measured in the same run
// (interleaved, best of each), so that they carry from one CPU to another:
//   - a NODATA refresh over pugixml's load of the file;
//   - a merge refresh (10,100 reply rows into a 100,000-row file) over pugixml's
//     load, save, fsync, rename and fsync of the folder;
//   - the peak memory of a merge refresh above pugixml's own load peak, over the
//     file's size: at 10 MB and (without --quick) at 100 MB, with the time per
//     megabyte of a merge refresh at both sizes.
// Options: --quick (fewer runs, no 100 MB file), --runs N (interleaved runs of
// the 10 MB measures).
#include <fcntl.h>
#include <malloc.h>
#include <httplib.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <pugixml.hpp>

#include "control/xmlload.h"
#include "machine.h"
#include "platform/posix/posix_platform.h"
#include "rowset_text.h"
#include "support/temp_root.h"

extern char** environ;

namespace {

constexpr int kReplacedRows = 7100;
constexpr int kNewRows = 3000;
const char* const kCachedFile = "drive_c/QMXData/12/customers.xml";
const char* const kWarmUpFile = "drive_c/QMXData/12/warmup.xml";

// Answers every request at once with the reply the bench has set.
class PreparedServer {
 public:
  PreparedServer() {
    server_.set_tcp_nodelay(true);
    server_.Get(".*", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(*reply_.load(), "text/xml; charset=utf-8");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    if (port_ < 0) throw std::runtime_error("cannot bind a loopback port");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~PreparedServer() {
    server_.stop();
    thread_.join();
  }
  void answer(const std::string* reply) { reply_.store(reply); }
  std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

 private:
  httplib::Server server_;
  std::atomic<const std::string*> reply_{nullptr};
  int port_ = -1;
  std::thread thread_;
};

// A figure of this process's memory from /proc/self/status, in kB: "VmRSS" now,
// "VmHWM" at its peak. Read from the process itself: the peak that wait4 reports
// for a spawned child also counts the parent's memory, which the child shared
// until it started the program.
long memoryKilobytes(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
  }
  return 0;
}

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// From here on, this process's peak is measured from what it holds now: freed heap
// goes back to the system and the kernel's high-water mark is reset to the present.
// Returns the resident size now.
long startPeakHere() {
  malloc_trim(0);
  std::ofstream("/proc/self/clear_refs") << "5";
  return memoryKilobytes("VmRSS");
}

// A warm process has done the same kind of work once before (the control a refresh
// of a small file with the same reply, pugixml a small load), as a host has logged in
// and refreshed before: the libraries' code is paged in, and the measured peak is
// the work's own.
void warmUp(bool control, qmx::XMLLoad* xmlload, const std::string& baseUrl) {
  if (control) {
    // The reply is whatever the measured run gets; its outcome does not matter here.
    std::string page = baseUrl + "warmup.asp";
    (void)xmlload->XMLLoad_(page, "warmup.xml");
    xmlload->put_ErrorNumber(0);
  } else {
    pugi::xml_document doc;
    (void)doc.load_string("<xml><rs><row iKey=\"1\"/></rs></xml>");
  }
}

// The measured work of one child process. Prints "<resident kB before> <peak kB>
// <seconds>". Mode "warm-X" measures X in a warm process.
int runChild(std::string mode, const std::string& root, const std::string& baseUrl) {
  const bool warm = mode.rfind("warm-", 0) == 0;
  if (warm) mode.erase(0, 5);
  long before = memoryKilobytes("VmRSS");
  if (warm && mode != "control") {
    warmUp(false, nullptr, baseUrl);
    before = startPeakHere();
  }
  double seconds = 0;
  if (mode == "pugixml-load") {
    pugi::xml_document doc;
    const double start = now();
    if (!doc.load_file((root + "/" + kCachedFile).c_str(), pugi::parse_default, pugi::encoding_latin1)) return 2;
    seconds = now() - start;
  } else if (mode == "pugixml") {
    const std::string path = root + "/" + kCachedFile;
    const std::string temp = path + ".new";
    const double start = now();
    pugi::xml_document doc;
    if (!doc.load_file(path.c_str(), pugi::parse_default, pugi::encoding_latin1)) return 2;
    FILE* file = std::fopen(temp.c_str(), "wb");
    if (!file) return 2;
    pugi::xml_writer_file writer(file);
    doc.save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_latin1);
    if (std::fflush(file) != 0 || ::fsync(fileno(file)) != 0 || std::fclose(file) != 0) return 2;
    if (std::rename(temp.c_str(), path.c_str()) != 0) return 2;
    // The rename lasts once the folder is flushed, as the control's own writes do.
    const int folder = ::open(path.substr(0, path.rfind('/')).c_str(), O_RDONLY | O_DIRECTORY);
    if (folder < 0 || ::fsync(folder) != 0 || ::close(folder) != 0) return 2;
    seconds = now() - start;
  } else {
    qmx::PosixPlatform platform(root, [](const std::string&) {});
    qmx::XMLLoad control(platform);
    control.put_ServerBase(baseUrl);
    if (control.startupError()) {
      std::fprintf(stderr, "start-up failed: %s\n", control.startupError()->description().c_str());
      return 2;
    }
    control.put_Authenticated(true);
    if (warm) {
      warmUp(true, &control, baseUrl);
      before = startPeakHere();
    }
    std::string page = baseUrl + "customers.asp";
    const double start = now();
    const qmx::XmlDocument doc = control.XMLLoad_(page, "customers.xml");
    seconds = now() - start;
    if (!doc || !doc->first_child() || control.get_ErrorNumber() != 0) {
      std::fprintf(stderr, "refresh failed: %d %s\n", control.get_ErrorNumber(), control.get_ErrorDesc().c_str());
      return 2;
    }
  }
  std::printf("%ld %ld %.6f\n", before, memoryKilobytes("VmHWM"), seconds);
  return 0;
}

struct Run {
  double seconds = 0;
  double peakKilobytes = 0;  // above the process's resident size before the work
};

// One refresh (or pugixml round) in a fresh process of this program.
Run runInChild(const char* self, const std::string& mode, const std::string& root, const std::string& baseUrl) {
  int out[2];
  if (pipe(out) != 0) throw std::runtime_error("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  std::vector<std::string> args = {self, "--child", mode, root, baseUrl};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, self, &actions, nullptr, argv.data(), environ) != 0) throw std::runtime_error("spawn");
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  std::string text;
  char buffer[256];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  long before = 0;
  long peak = 0;
  Run run;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
      std::sscanf(text.c_str(), "%ld %ld %lf", &before, &peak, &run.seconds) != 3) {
    throw std::runtime_error("the " + mode + " run failed");
  }
  run.peakKilobytes = static_cast<double>(peak - before);
  return run;
}

struct Sizes {
  std::string file;
  std::string reply;
};

int runBench(const char* self, bool quick, int runs) {
  qmx::bench::printMachine();
  qmx::test::TempRoot root;
  root.writeOneInstallation("BENCH");
  root.makeFolder("drive_c/QMXData/12");
  PreparedServer server;
  const std::string noData = "<xml><status>NODATA</status></xml>";
  const std::string warmUpFile = qmx::bench::cachedFileText(100);

  const auto measure = [&](const Sizes& sizes, const std::string& mode, bool warm = false) {
    root.write(kCachedFile, sizes.file);  // every run starts from the same copy
    root.write(kWarmUpFile, warmUpFile);
    server.answer(mode == "merge" ? &sizes.reply : &noData);
    const bool control = mode == "merge" || mode == "nodata";
    const Run run =
        runInChild(self, std::string(warm ? "warm-" : "") + (control ? "control" : mode), root.path(), server.baseUrl());
    const bool merged = root.read(kCachedFile).find("Changed") != std::string::npos;
    if (merged != (mode == "merge")) throw std::runtime_error("the " + mode + " run left the wrong file");
    return run;
  };

  const Sizes small{qmx::bench::cachedFileText(100000), qmx::bench::mergeReplyText(100000, kReplacedRows, kNewRows)};
  std::printf("cached data file: 100,000 rows, %.1f MB; reply: %d rows (%d new)\n", small.file.size() / 1e6,
              kReplacedRows + kNewRows, kNewRows);
  // Interleaved, best of each, so that other work on the machine weighs on all alike.
  Run merge{1e99, 1e99}, nodata{1e99, 1e99}, load{1e99, 1e99}, save{1e99, 1e99};
  const auto keepBest = [](Run& best, const Run& run) {
    best.seconds = std::min(best.seconds, run.seconds);
    best.peakKilobytes = std::min(best.peakKilobytes, run.peakKilobytes);
  };
  const double smallMb = small.file.size() / 1048576.0;
  // The peak also per run: the best alone would hide a peak that comes and goes
  // with the timing of the two threads.
  double worstPeakRatio = 0, worstWarmPeakRatio = 0;
  Run warmMerge{1e99, 1e99}, warmLoad{1e99, 1e99};
  for (int i = 0; i < runs; ++i) {
    const Run warmMergeRun = measure(small, "merge", true), warmLoadRun = measure(small, "pugixml-load", true);
    keepBest(warmMerge, warmMergeRun);
    keepBest(warmLoad, warmLoadRun);
    worstWarmPeakRatio =
        std::max(worstWarmPeakRatio, (warmMergeRun.peakKilobytes - warmLoadRun.peakKilobytes) / 1024 / smallMb);
    const Run mergeRun = measure(small, "merge");
    keepBest(merge, mergeRun);
    keepBest(nodata, measure(small, "nodata"));
    const Run loadRun = measure(small, "pugixml-load");
    keepBest(load, loadRun);
    keepBest(save, measure(small, "pugixml"));
    worstPeakRatio = std::max(worstPeakRatio, (mergeRun.peakKilobytes - loadRun.peakKilobytes) / 1024 / smallMb);
  }
  std::printf("NODATA refresh / pugixml load:                               %5.2f  (target <= 1.2; %.3f s / %.3f s)\n",
              nodata.seconds / load.seconds, nodata.seconds, load.seconds);
  std::printf("merge refresh / pugixml load+save+fsync+rename+folder fsync: %5.2f  (target <= 1.4; %.3f s / %.3f s)\n",
              merge.seconds / save.seconds, merge.seconds, save.seconds);
  std::printf("merge refresh / NODATA refresh:                              %5.2f  (for reference)\n",
              merge.seconds / nodata.seconds);
  // The reply's document and the process's own libraries weigh the same at any
  // file size, so the small file is the harder case. Warm: the refresh's own memory,
  // as in a host that has called the control before; cold: a process's first call,
  // which also pages in the code of libcurl, libxml2 and the C++ library.
  std::printf("peak memory, warm merge refresh over pugixml's load / size:  %5.2f  (target <= 0.5; %.1f MB, %.1f MB; "
              "worst run %.2f)\n",
              (warmMerge.peakKilobytes - warmLoad.peakKilobytes) / 1024 / smallMb, warmMerge.peakKilobytes / 1024,
              warmLoad.peakKilobytes / 1024, worstWarmPeakRatio);
  std::printf("peak memory, cold merge refresh over pugixml's load / size:  %5.2f  (first call; %.1f MB, %.1f MB; "
              "worst run %.2f)\n",
              (merge.peakKilobytes - load.peakKilobytes) / 1024 / smallMb, merge.peakKilobytes / 1024,
              load.peakKilobytes / 1024, worstPeakRatio);
  std::printf("peak memory, NODATA refresh over pugixml's load / file size: %5.2f  (at 10 MB, for reference)\n",
              (nodata.peakKilobytes - load.peakKilobytes) / 1024 / smallMb);
  if (!quick) {
    const Sizes large{qmx::bench::cachedFileText(900000),
                      qmx::bench::mergeReplyText(900000, kReplacedRows, kNewRows)};
    const double mb = large.file.size() / 1048576.0;
    Run largeMerge{1e99, 1e99}, largeNodata{1e99, 1e99}, largeLoad{1e99, 1e99};
    for (int i = 0; i < 3; ++i) {
      keepBest(largeMerge, measure(large, "merge"));
      keepBest(largeNodata, measure(large, "nodata"));
      keepBest(largeLoad, measure(large, "pugixml-load"));
    }
    std::printf("cached data file: 900,000 rows, %.1f MB\n", large.file.size() / 1e6);
    std::printf("peak memory, merge refresh over pugixml's load / file size:  %5.2f  (target <= 0.5; %.1f MB, %.1f MB)\n",
                (largeMerge.peakKilobytes - largeLoad.peakKilobytes) / 1024 / mb, largeMerge.peakKilobytes / 1024,
                largeLoad.peakKilobytes / 1024);
    std::printf("peak memory, NODATA refresh over pugixml's load / file size: %5.2f  (for reference)\n",
                (largeNodata.peakKilobytes - largeLoad.peakKilobytes) / 1024 / mb);
    std::printf("peak memory of pugixml's load alone / file size:             %5.2f  (the DOM's own cost)\n",
                largeLoad.peakKilobytes / 1024 / mb);
    std::printf("merge refresh per MB: %.2f ms at %.0f MB, %.2f ms at %.0f MB (ratio %.2f; linear is 1)\n",
                merge.seconds * 1e3 / smallMb, smallMb, largeMerge.seconds * 1e3 / mb, mb,
                (largeMerge.seconds / mb) / (merge.seconds / smallMb));
  }
  qmx::bench::printLoad();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 5 && std::string(argv[1]) == "--child") return runChild(argv[2], argv[3], argv[4]);
    bool quick = false;
    int runs = 0;
    for (int i = 1; i < argc; ++i) {
      const std::string arg = argv[i];
      if (arg == "--quick") {
        quick = true;
      } else if (arg == "--runs" && i + 1 < argc) {
        runs = std::max(1, std::atoi(argv[++i]));
      } else {
        std::fprintf(stderr, "usage: bench_refresh [--quick] [--runs N]\n");
        return 1;
      }
    }
    return runBench("/proc/self/exe", quick, runs != 0 ? runs : quick ? 3 : 7);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_refresh: %s\n", e.what());
    return 1;
  }
}
