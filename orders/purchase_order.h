// Electronic purchase orders: an order received from the server is written as
// one file into the inbox folder of the desktop client, which reads it from
// there. Every problem is told to the user in one message box.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace qmx {

// The desktop client's settings key below HKEY_LOCAL_MACHINE and its value
// naming the inbox folder.
inline constexpr std::string_view kDesktopClientSettingsKey = "Software\\Velmora Solutions, LLC\\QMX Client\\Settings";
inline constexpr std::string_view kInboxValueName = "Inbox";

// The user's messages, word for word as the desktop client's users know them.
inline constexpr std::string_view kNoOrderDataMessage =
    "No Purchase Order Data was received from the server.  Please contact Technical Support.";
inline constexpr std::string_view kNoOrderNumberMessage =
    "No Purchase Order Number was received from the server.  Please contact Technical Support.";
inline constexpr std::string_view kInboxMissingMessage =
    "Cannot download ePO data to local drive.  Please verify that the 'Inbox' setting, from within QMX "
    "Client, is properly set to a valid folder.";
inline constexpr std::string_view kUnexpectedOrderErrorMessage =
    "An unexpected error occurred while attempting to process the Electronic Purchase Order.  Please "
    "contect Technical Support.";

// The message for an order file that could not be created, naming its path.
std::string orderFileNotCreatedMessage(std::string_view fullPath);

// The order file's name: "PO", the last eight characters of six zeros followed
// by the trimmed document number, ".POD". Never fails.
std::string purchaseOrderFileName(std::string_view documentNumber);

// Writes the order data into the inbox folder as single-byte text, replacing an
// earlier file of that name whole. True only when the file was written; on every
// problem shows exactly one message and returns false. Never throws.
bool saveElectronicPurchaseOrder(Platform& platform, const std::string& documentNumber,
                                 const std::string& orderData);

}  // namespace qmx
