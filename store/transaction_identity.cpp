#include "store/transaction_identity.h"

#include <random>

#include "base/ascii_text.h"
#include "base/automation_error.h"
#include "store/data_directory.h"

namespace qmx {
namespace {

constexpr const char* kIdentityFolder = ".ids";

std::string identityPath(const std::string& savedFiles, const std::string& name) {
  return joinPath(joinPath(savedFiles, kIdentityFolder), name);
}

bool isIdentity(std::string_view text) {
  if (text.size() != 32) return false;
  for (const char c : text) {
    if (hexDigitValue(c) < 0) return false;
  }
  return true;
}

}  // namespace

std::string newTransactionIdentity() {
  try {
    std::random_device source;
    std::string identity;
    for (int i = 0; i < 4; ++i) identity += hexNumber(source(), 8);
    return identity;
  } catch (const std::exception& e) {
    throw AutomationError(kInvalidProcedureCall, "No transaction identity could be made: " + std::string(e.what()));
  }
}

void recordTransactionIdentity(Platform& platform, const std::string& savedFiles, const std::string& name,
                               const std::string& identity) {
  const std::string folder = joinPath(savedFiles, kIdentityFolder);
  if (!platform.folderExists(folder)) createFolderLevel(platform, folder);
  platform.replaceFile(identityPath(savedFiles, name), identity, FileAccess::Everyone);
}

std::string transactionIdentity(Platform& platform, const std::string& savedFiles, const std::string& name) {
  std::optional<std::string> recorded;
  try {
    recorded = platform.readFile(identityPath(savedFiles, name));
  } catch (const AutomationError&) {
    // An unreadable record is replaced below, as a missing one is.
  }
  if (recorded && isIdentity(*recorded)) return *recorded;
  const std::string identity = newTransactionIdentity();
  recordTransactionIdentity(platform, savedFiles, name, identity);
  return identity;
}

void forgetTransactionIdentity(Platform& platform, const std::string& savedFiles, const std::string& name) {
  try {
    platform.deleteFile(identityPath(savedFiles, name));
  } catch (const AutomationError&) {
    // Missing already, or it stays as a stray record: harmless either way.
  }
}

}  // namespace qmx
