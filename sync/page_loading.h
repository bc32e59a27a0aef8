// XMLLoad: choosing between refreshing the cached copy of a data set and
// downloading it afresh.
#pragma once

#include "sync/data_sync.h"

namespace qmx {

// Refreshes the cached data file when there is one (unless "NEW" is asked for
// while online), else makes the data directory and downloads the data set.
// Fails as refreshCachedData and downloadDataSet, and with 9 when the data
// directory is empty text and must be made. Never throws: every failure comes
// back in the result, after what was produced before it.
DataSetLoad loadDataSet(ServiceConnection& connection, Platform& platform, const DataSetRequest& request);

}  // namespace qmx
