// The machine a benchmark ran on, printed first: figures from another CPU or
// from a loaded machine are read against it. Ratios to a yardstick measured in
// the same run travel between machines; absolute times do not.
#pragma once

#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

namespace qmx::bench {

inline std::string loadAverages() {
  std::ifstream loadavg("/proc/loadavg");
  std::string one, five, fifteen;
  if (loadavg >> one >> five >> fifteen) return one + " " + five + " " + fifteen;
  return "unknown";
}

// The CPU model, the cores and the load averages (1, 5, 15 minutes), on one line.
inline void printMachine() {
  std::string model = "unknown CPU";
  std::ifstream cpuinfo("/proc/cpuinfo");
  for (std::string line; std::getline(cpuinfo, line);) {
    if (line.rfind("model name", 0) == 0 && line.find(':') != std::string::npos) {
      model = line.substr(line.find(':') + 2);
      break;
    }
  }
  std::printf("machine: %s, %u cores, load %s\n", model.c_str(), std::thread::hardware_concurrency(),
              loadAverages().c_str());
}

// The load at the end of the run: a figure measured under a load over 1 says
// more about the neighbours than about the code.
inline void printLoad() { std::printf("load at the end: %s\n", loadAverages().c_str()); }

}  // namespace qmx::bench
