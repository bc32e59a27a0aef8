// Merging the changed records of a refresh reply into the cached copy of a data
// set: rows matched by iKey as numbers, replaced in place or appended.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include <pugixml.hpp>

namespace qmx {

// The number an iKey text stands for, compared the way XPath compares a text
// with a number: optional blanks, an optional minus, digits with an optional
// decimal point, optional blanks. nullopt when the text is not such a number.
std::optional<double> rowKeyNumber(std::string_view text);

// Called with (rows merged, total rows) while a large merge runs.
using MergeProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;

// Merges a "Success" reply into the local document: a non-empty ModTime of the
// reply's first TimeStamp becomes the local one; each reply z:row, in document
// order, replaces the first local row with a numerically equal iKey in place, or
// is appended as the last child of the local document's first rs:data. Nothing is
// deleted. Everything is checked before anything changes: throws AutomationError
// 91 (local document untouched) when the reply has no TimeStamp with ModTime, a
// reply row has no iKey, or rows arrive while the local document has no rs:data,
// and 13 when a reply row's iKey is not a number. `what` names the file in errors.
void mergeRowset(pugi::xml_node local, const pugi::xml_node& reply, std::string_view what,
                 const MergeProgress& progress = {});

// The same merge, removing from the reply each row once it is merged (a row that
// holds rows stays), so that a large reply's memory is reused by the local
// document as it grows rather than added to it. The reply is for discarding
// afterwards, whatever the outcome.
void mergeRowsetConsumingReply(pugi::xml_node local, pugi::xml_node reply, std::string_view what,
                               const MergeProgress& progress = {});

}  // namespace qmx
