#include "store/data_directory.h"

#include <vector>

#include "base/automation_error.h"
#include "platform/platform.h"
#include "platform/temporary_names.h"

namespace qmx {
namespace {

// A segment the file system would take as the parent folder. Windows trims
// trailing dots and spaces from a name, so ". ." and "..." count as well.
bool leadsUp(std::string_view segment) {
  if (segment.find_first_not_of(". ") != std::string_view::npos) return false;
  return segment.find_first_of('.') != segment.find_last_of('.');
}

// The folders to make for a data directory, in order. "/" separates as well as
// "\\": a native path such as "/srv/qmx/data" has no drive, and with "\\" alone it
// would be one piece that is never made.
std::vector<std::string> levelsToMake(const std::string& path) {
  std::vector<std::string> levels;
  std::size_t separator = path.find_first_of("\\/");
  if (separator == std::string::npos) return levels;
  while ((separator = path.find_first_of("\\/", separator + 1)) != std::string::npos)
    levels.push_back(path.substr(0, separator));
  levels.push_back(path);
  return levels;
}

}  // namespace

std::string joinPath(std::string_view folder, std::string_view name) {
  std::string path;
  path.reserve(folder.size() + 1 + name.size());
  path.append(folder);
  path.push_back('\\');
  path.append(name);
  return path;
}

bool staysInsideFolder(std::string_view relativeName) {
  if (relativeName.empty()) return true;
  if (relativeName.front() == '\\' || relativeName.front() == '/') return false;
  // NUL would cut the path short at the system call, after the checks below
  // looked at the whole of it.
  if (relativeName.find_first_of(std::string_view(":\0", 2)) != std::string_view::npos) return false;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = relativeName.find_first_of("\\/", start);
    if (leadsUp(relativeName.substr(start, end == std::string_view::npos ? end : end - start))) {
      return false;
    }
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

std::string pathInFolder(std::string_view folder, std::string_view relativeName) {
  std::string path = joinPath(folder, relativeName);
  // A file named like a write's temporary would be hidden from every listing, so
  // never uploaded, and taken for a dead writer's leftover and removed.
  const std::size_t lastSeparator = relativeName.find_last_of("\\/");
  const std::string_view lastSegment =
      lastSeparator == std::string_view::npos ? relativeName : relativeName.substr(lastSeparator + 1);
  if (!staysInsideFolder(relativeName) || isReplaceTemporaryName(lastSegment)) {
    throw AutomationError(kPathFileAccessError,
                          standardErrorText(kPathFileAccessError) + ": " + path);
  }
  return path;
}

void createFolderLevel(Platform& platform, const std::string& path) {
  try {
    platform.createFolder(path);
  } catch (const AutomationError& e) {
    if (e.number() != kFileAlreadyExists || !platform.folderExists(path)) throw;
  }
}

void makeDataDirectory(Platform& platform, const std::string& path) {
  if (platform.folderExists(path)) return;
  // Empty text has no first piece to start from, as the runtime's split gives none.
  if (path.empty()) {
    throw AutomationError(kSubscriptOutOfRange, standardErrorText(kSubscriptOutOfRange) + ": DataPath is empty");
  }
  for (const std::string& level : levelsToMake(path)) {
    if (!platform.folderExists(level)) createFolderLevel(platform, level);
  }
}

}  // namespace qmx
