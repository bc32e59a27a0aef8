// BackOnline: posting the transactions saved while offline to the service's
// form-processing page, deleting each one the service confirms.
#pragma once

#include <string>

#include "net/service_connection.h"

namespace qmx {

// Where the saved transactions go and on whose behalf.
struct UploadTarget {
  std::string dataPath;
  std::string serverBase;
  std::string companyId;
};

// Posts every file in SavedFiles (made when missing) in listing order and deletes
// it once the reply says "Success", unless it no longer holds the text posted
// (saved again meanwhile: it goes next time). Until the first request has gone out, a
// failure is thrown (91/94 for a file that is not a transaction, the platform's
// errors); after it, the user is shown "Error Updating Offline Files - N" and the
// rest waits for the next call. A file is never deleted before its confirmation.
void uploadSavedTransactions(ServiceConnection& connection, Platform& platform, const UploadTarget& target);

}  // namespace qmx
