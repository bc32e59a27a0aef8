// hold_folder_lock hold|take FOLDER...: takes the folder locks through the
// Windows backend and prints "locked"; "hold" then waits to be killed, so that
// the Wine tests can check what a holder's death leaves behind.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/win/win_platform.h"

int main(int argc, char** argv) {
  qmx::WinPlatform platform([](const std::string&) {});
  std::vector<std::unique_ptr<qmx::FileLock>> locks;
  for (int i = 2; i < argc; ++i) locks.push_back(platform.lockFolder(argv[i]));
  std::puts("locked");
  std::fflush(stdout);
  if (argc > 1 && std::strcmp(argv[1], "hold") == 0) ::Sleep(INFINITE);
}
