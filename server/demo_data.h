// The demo company, its users and its two data sets, so that a fresh database can
// serve the examples and the tests at once.
#pragma once

#include <string>

#include "server/database.h"

namespace qmx::server {

// The company identifier the examples' installation carries.
inline constexpr const char* kDemoCompanyId = "VELMORA-DEMO";

// Adds the demo company (under companyId), the users "demo"/"demo123" (level 5) and
// "clerk"/"clerk123" (level 1), and the data sets "customers.xml" and "items.xml" with
// twelve rows each. Throws DatabaseError.
void fillDemo(Store& store, const std::string& companyId);

}  // namespace qmx::server
