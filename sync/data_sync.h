// Synchronising one data set between the service and its cached data file:
// the first download, and the refresh that asks for the changes since the
// file's time stamp and merges them by key.
#pragma once

#include <exception>
#include <optional>
#include <string>

#include "base/xml_text.h"
#include "net/http_call.h"
#include "net/server_pages.h"
#include "net/service_connection.h"

namespace qmx {

// What a load of a data set knows of the control at the moment of the call.
struct DataSetRequest {
  std::string page;    // the host's page address, before any query
  std::string dataPath;
  std::string file;    // the host's name of the cached data file, also sent as "Data"
  std::string action;  // upper-cased: "NEW", "NONE", or anything else
  bool authenticated = false;
  bool offline = false;
  DataSetRequester requester;
};

// What a load produced, for the control to apply in this order: the request
// address (when a request was made), what HTTPCall recorded (when it ran), then
// the failure, raised, or else the document.
struct DataSetLoad {
  XmlDocument document;
  std::optional<std::string> requestAddress;
  std::optional<CallResult> recorded;
  std::exception_ptr failure;
};

// Reads the cached data file (every time, so that a broken copy is noticed) and,
// when logged in, online and not told "NONE", asks the page for the changes:
// NEWDATA replaces the file, Success merges the rows into it, Failure shows
// "Error updating <file>". The document is the copy as read (merged when the
// reply was Success). Fails with 53/62/91 for a missing, empty or broken file,
// the transport's errors, 91 for a reply that is not an envelope, the merge's
// errors, and the platform's when the file cannot be written; the file then
// keeps its content.
DataSetLoad refreshCachedData(ServiceConnection& connection, Platform& platform, const DataSetRequest& request);

// Downloads the whole data set into its cached data file through HTTPCall. No
// document when not logged in or offline; an empty one when the call failed.
// Fails with 75 for a file name leading out of the data directory and the
// platform's errors when the file cannot be written.
DataSetLoad downloadDataSet(ServiceConnection& connection, Platform& platform, const DataSetRequest& request);

}  // namespace qmx
