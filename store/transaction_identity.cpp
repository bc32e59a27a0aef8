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

std::string newIdentity() {
  try {
    std::random_device source;
    std::string identity;
    for (int i = 0; i < 4; ++i) identity += hexNumber(source(), 8);
    return identity;
  } catch (const std::exception& e) {
    throw AutomationError(kInvalidProcedureCall, "No transaction identity could be made: " + std::string(e.what()));
  }
}

// The record's text; nullopt when there is none or it cannot be read.
std::optional<std::string> readRecord(Platform& platform, const std::string& savedFiles, const std::string& name) {
  try {
    return platform.readFile(identityPath(savedFiles, name));
  } catch (const AutomationError&) {
    return std::nullopt;
  }
}

}  // namespace

std::unique_ptr<FileLock> lockTransactionIdentities(Platform& platform, const std::string& savedFiles) {
  const std::string folder = joinPath(savedFiles, kIdentityFolder);
  if (!platform.folderExists(folder)) createFolderLevel(platform, folder);
  return platform.lockFolder(folder);
}

std::string transactionIdentity(Platform& platform, const std::string& savedFiles, const std::string& name,
                                const std::string& digest) {
  const std::optional<std::string> recorded = readRecord(platform, savedFiles, name);
  std::string identity;
  if (recorded && recorded->size() == 32 + 1 + digest.size() && (*recorded)[32] == ' ' &&
      recorded->compare(33, std::string::npos, digest) == 0) {
    identity = recorded->substr(0, 32);
  }
  if (recorded && isIdentity(*recorded)) identity = *recorded;
  if (!isIdentity(identity)) identity = newIdentity();
  // Written before the post, so that a post repeated after a crash carries the
  // same key; a crash before this write has posted nothing under the new one.
  const std::string record = identity + " " + digest;
  if (recorded != record) platform.replaceFile(identityPath(savedFiles, name), record, FileAccess::Everyone);
  return identity;
}

bool isRecordedIdentity(Platform& platform, const std::string& savedFiles, const std::string& name,
                        const std::string& identity, const std::string& digest) {
  return readRecord(platform, savedFiles, name) == identity + " " + digest;
}

void forgetTransactionIdentity(Platform& platform, const std::string& savedFiles, const std::string& name,
                               bool mustGo) {
  try {
    platform.deleteFile(identityPath(savedFiles, name));
  } catch (const AutomationError& e) {
    if (mustGo && e.number() != kFileNotFound) throw;
  }
}

void forgetStrayIdentities(Platform& platform, const std::string& savedFiles) {
  try {
    for (const std::string& name : platform.listFiles(joinPath(savedFiles, kIdentityFolder))) {
      if (!platform.fileExists(joinPath(savedFiles, name))) forgetTransactionIdentity(platform, savedFiles, name, false);
    }
  } catch (const AutomationError&) {
    // No records yet, or one that could not go: the next run tries again.
  }
}

}  // namespace qmx
