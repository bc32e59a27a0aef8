// XMLLoad: choosing between refreshing the cached copy of a data set and
// downloading it afresh.
#pragma once

#include <string>

#include "sync/data_sync.h"

namespace qmx {

// Refreshes the cached data file when there is one (unless "NEW" is asked for
// while online), else makes the data directory and downloads the data set.
// Throws as refreshCachedData and downloadDataSet, and 9 when the data directory
// is empty text and must be made.
XmlDocument loadDataSet(ServiceConnection& connection, const CallOutcome& outcome, std::string& sWebService,
                        const DataSetRequest& request);

}  // namespace qmx
