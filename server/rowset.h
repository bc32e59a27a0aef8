// The service's replies as XML text: the reply envelope (root "xml" with its
// "status") and rowset documents in the persisted-XML rowset layout, with the data
// set's time stamp and a schema describing its fields.
#pragma once

#include <string>
#include <string_view>

#include "server/data_set.h"

namespace qmx::server {

// "<xml><status>Success</status></xml>".
std::string successEnvelope();
// The success envelope carrying the user's level in "levelNum".
std::string loginSuccessEnvelope(int level);
// "<xml><status ErrNumber=.. ErrDesc=..>Failure</status></xml>".
std::string failureEnvelope(int number, std::string_view description);

// A rowset document: namespace declarations, status word, TimeStamp with ModTime,
// schema and the rows of the snapshot.
std::string rowsetDocument(std::string_view status, std::string_view modTime, const DataSetSnapshot& data);

}  // namespace qmx::server
