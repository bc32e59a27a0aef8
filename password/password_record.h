// What every password scheme shares: the form of a yescrypt record and a
// comparison whose time does not depend on where two hashes differ.
#pragma once

#include <string_view>

namespace qmx::password {

// True when the text has the exact form of a yescrypt record: "$y$"
// parameters "$" salt "$" hash, the hash non-empty and in the alphabet
// [A-Za-z0-9./]. Never fails.
bool hasYescryptForm(std::string_view text);

// True when both texts are equal, compared in full whatever their content, so
// that the time taken does not hint at a matching prefix. Never fails.
bool equalInConstantTime(std::string_view a, std::string_view b);

}  // namespace qmx::password
