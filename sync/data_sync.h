// Synchronising one data set between the service and its cached data file:
// the first download, and the refresh that asks for the changes since the
// file's time stamp and merges them by key.
#pragma once

#include <string>

#include "base/xml_text.h"
#include "net/http_call.h"
#include "net/server_pages.h"
#include "net/service_connection.h"

namespace qmx {

// What a load of a data set knows of the control at the moment of the call.
struct DataSetRequest {
  std::string dataPath;
  std::string file;    // the host's name of the cached data file, also sent as "Data"
  std::string action;  // upper-cased: "NEW", "NONE", or anything else
  bool authenticated = false;
  bool offline = false;
  DataSetRequester requester;
};

// Reads the cached data file (every time, so that a broken copy is noticed) and,
// when logged in, online and not told "NONE", asks the page for the changes:
// NEWDATA replaces the file, Success merges the rows into it, Failure shows
// "Error updating <file>". sWebService is rewritten with the request's address
// when one is made. Returns the copy as read (merged when the reply was
// Success). Throws 53/62/91 for a missing, empty or broken file, the transport's
// errors, 91 for a reply that is not an envelope, the merge's errors, and the
// platform's when the file cannot be written; the file then keeps its content.
XmlDocument refreshCachedData(ServiceConnection& connection, std::string& sWebService,
                              const DataSetRequest& request);

// Downloads the whole data set into its cached data file through HTTPCall, which
// records its outcome. nullptr when not logged in or offline; an empty document
// when the call failed. Throws 75 for a file name leading out of the data
// directory and the platform's errors when the file cannot be written.
XmlDocument downloadDataSet(ServiceConnection& connection, const CallOutcome& outcome, std::string& sWebService,
                            const DataSetRequest& request);

}  // namespace qmx
