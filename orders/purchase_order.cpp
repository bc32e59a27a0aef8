#include "orders/purchase_order.h"

#include <optional>

#include "base/ascii_text.h"
#include "base/automation_error.h"
#include "base/codepage.h"
#include "base/conversions.h"
#include "settings/reg_main.h"

namespace qmx {
namespace {

// Runs the checks in their order; returns the message to show, or nullopt once
// the file is written.
std::optional<std::string> writeOrder(Platform& platform, const std::string& documentNumber,
                                      const std::string& orderData) {
  if (trimmed(orderData, " ").empty()) return std::string(kNoOrderDataMessage);
  if (!isNumeric(documentNumber)) return std::string(kNoOrderNumberMessage);

  std::string folder = GetRegValue(platform, kHkeyLocalMachine, std::string(kDesktopClientSettingsKey),
                                   std::string(kInboxValueName));
  // The failure text is a relative path; a folder that happens to carry that
  // name in the working directory must not receive orders.
  if (folder.empty() || folder == kKeyNotFoundText || !platform.folderExists(folder)) {
    return std::string(kInboxMissingMessage);
  }
  if (folder.back() != '\\') folder.push_back('\\');
  const std::string fullPath = folder + purchaseOrderFileName(documentNumber);

  // Converted before anything touches the disk: text the code page cannot hold
  // must not leave a half-written order behind.
  const std::string bytes = utf8ToSingleByte(orderData);
  try {
    platform.replaceFile(fullPath, bytes, FileAccess::Everyone);
  } catch (const AutomationError& e) {
    // A full disk shows while writing, not while creating: the unexpected error.
    if (e.number() == kDiskFull) throw;
    return orderFileNotCreatedMessage(fullPath);
  }
  return std::nullopt;
}

}  // namespace

std::string orderFileNotCreatedMessage(std::string_view fullPath) {
  std::string message = "The local file, \r\n\r\n";
  message += fullPath;
  message += "\r\n\r\n, could not be created.  Please contact Technicl Support.";
  return message;
}

std::string purchaseOrderFileName(std::string_view documentNumber) {
  const std::string field = "000000" + std::string(trimmed(documentNumber));
  return "PO" + field.substr(field.size() > 8 ? field.size() - 8 : 0) + ".POD";
}

bool saveElectronicPurchaseOrder(Platform& platform, const std::string& documentNumber,
                                 const std::string& orderData) {
  std::optional<std::string> message;
  try {
    message = writeOrder(platform, documentNumber, orderData);
  } catch (...) {
    message = std::string(kUnexpectedOrderErrorMessage);
  }
  if (!message) return true;
  try {
    platform.messageBox(*message);
  } catch (...) {
    // The host is promised a result, never an error; the false result still tells it.
  }
  return false;
}

}  // namespace qmx
