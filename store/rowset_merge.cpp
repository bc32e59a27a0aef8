#include "store/rowset_merge.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "base/automation_error.h"
#include "store/cached_data_file.h"

namespace qmx {

namespace {

constexpr std::uint64_t kProgressEvery = 4096;

bool isXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Calls fn for every element named `name` below `root`, in document order,
// without recursion so that deep documents cannot exhaust the stack.
template <typename Fn>
void forEachElementNamed(const pugi::xml_node& root, std::string_view name, Fn&& fn) {
  pugi::xml_node node = root.first_child();
  while (node) {
    if (node.type() == pugi::node_element && name == node.name()) fn(node);
    if (node.first_child()) {
      node = node.first_child();
      continue;
    }
    while (node && node != root && !node.next_sibling()) node = node.parent();
    if (!node || node == root) break;
    node = node.next_sibling();
  }
}

// True when a row holds further rows inside it (rare, but they must not be
// left in the index when their row is replaced).
bool holdsRows(const pugi::xml_node& row) {
  return static_cast<bool>(row.find_node([](const pugi::xml_node& n) {
    return n.type() == pugi::node_element && std::string_view(n.name()) == "z:row";
  }));
}

// Keys are numbers; their bits, mixed, spread well enough (the standard hash of a
// double runs a byte hash over them, several times slower).
struct KeyHash {
  std::size_t operator()(double key) const {
    std::uint64_t bits = std::bit_cast<std::uint64_t>(key);
    bits ^= bits >> 31;
    bits *= 0xBF58476D1CE4E5B9ull;
    bits ^= bits >> 29;
    return static_cast<std::size_t>(bits);
  }
};

// True when `row` is an element of the same name and the same attributes in the
// same order as `replacement`, and neither has children: then setting its values
// gives the very bytes a copy of `replacement` in its place would.
bool sameShape(const pugi::xml_node& row, const pugi::xml_node& replacement) {
  if (row.type() != pugi::node_element || replacement.type() != pugi::node_element || row.first_child() ||
      replacement.first_child() || std::string_view(row.name()) != replacement.name()) {
    return false;
  }
  pugi::xml_attribute a = row.first_attribute();
  pugi::xml_attribute b = replacement.first_attribute();
  for (; a && b; a = a.next_attribute(), b = b.next_attribute()) {
    if (std::string_view(a.name()) != b.name()) return false;
  }
  return !a && !b;
}

// The first local row of each reply key, in one block with open addressing:
// about half of what a map with a node per key weighs, at the moment a merge
// holds both documents. Keys are never NaN (rowKeyNumber gives none), so NaN
// marks a free slot.
class FirstRowOfKey {
 public:
  explicit FirstRowOfKey(std::size_t keys) {
    std::size_t size = 16;
    while (size < keys + keys / 2) size *= 2;
    slots_.assign(size, Slot{});
  }
  // The entry of key, added with no row when missing.
  pugi::xml_node& operator[](double key) {
    Slot& slot = slots_[slotOf(key)];
    slot.key = key;
    return slot.row;
  }
  // The entry of key, or null when it has none.
  pugi::xml_node* find(double key) {
    Slot& slot = slots_[slotOf(key)];
    return std::isnan(slot.key) ? nullptr : &slot.row;
  }
  void forgetRows() {
    for (Slot& slot : slots_) slot.row = pugi::xml_node();
  }

 private:
  struct Slot {
    double key = std::numeric_limits<double>::quiet_NaN();
    pugi::xml_node row;
  };
  // Where key is, or the free slot where it would go.
  std::size_t slotOf(double key) const {
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = KeyHash()(key) & mask;
    while (!std::isnan(slots_[i].key) && slots_[i].key != key) i = (i + 1) & mask;
    return i;
  }
  std::vector<Slot> slots_;
};

struct ReplyRow {
  pugi::xml_node node;
  double key;
};

// The first rs:data in document order, or an empty node.
pugi::xml_node firstRowsetData(const pugi::xml_node& doc) {
  return doc.find_node([](const pugi::xml_node& n) {
    return n.type() == pugi::node_element && std::string_view(n.name()) == "rs:data";
  });
}

// True when a z:row element encloses the node.
bool isInsideRow(pugi::xml_node node) {
  for (node = node.parent(); node; node = node.parent()) {
    if (node.type() == pugi::node_element && std::string_view(node.name()) == "z:row") return true;
  }
  return false;
}

// True when the node is the ancestor or the node itself.
bool isWithin(pugi::xml_node node, const pugi::xml_node& ancestor) {
  for (; node; node = node.parent()) {
    if (node == ancestor) return true;
  }
  return false;
}

// Sets the new time stamp and replaces or appends every reply row, with the reply
// already checked. With receiverMayMove, the receiving rs:data is looked for again
// whenever a replaced row held it, and its loss fails the merge with 91 (the
// caller then discards the document). With consumeReply, each reply row that
// holds no rows is removed once merged: its memory then serves the local
// document's growth instead of adding to it.
void applyRows(pugi::xml_node local, const std::vector<ReplyRow>& rows, const std::string& newTime,
               std::string_view what, const MergeProgress& progress, bool receiverMayMove, bool consumeReply) {
  // Only the reply's keys are looked up, so only they are indexed: the table is
  // sized once, and one pass over the local copy finds the first row of each.
  FirstRowOfKey firstRowOfKey(rows.size());
  for (const ReplyRow& row : rows) firstRowOfKey[row.key];
  const auto indexRows = [&] {
    firstRowOfKey.forgetRows();
    forEachElementNamed(local, "z:row", [&](const pugi::xml_node& row) {
      const std::optional<double> number = rowKeyNumber(row.attribute("iKey").value());
      if (!number) return;
      pugi::xml_node* const first = firstRowOfKey.find(*number);
      if (first && !*first) *first = row;
    });
  };
  indexRows();
  pugi::xml_node receiver = firstRowsetData(local);

  if (!newTime.empty()) firstTimeStamp(local).attribute("ModTime").set_value(newTime.c_str());

  std::uint64_t done = 0;
  for (const ReplyRow& row : rows) {
    pugi::xml_node& first = firstRowOfKey[row.key];
    if (!first) {
      if (!receiver) {
        throw AutomationError(kObjectNotSet, standardErrorText(kObjectNotSet) + ": the cached data file " +
                                                 std::string(what) +
                                                 " has no rs:data element left to receive the reply's rows");
      }
      // A later reply row with the same key must replace this one, as it would
      // if the local copy were searched afresh for every row.
      const pugi::xml_node copy = receiver.append_copy(row.node);
      first = copy;
      if (holdsRows(copy)) indexRows();
    } else if (sameShape(first, row.node)) {
      // The row keeps its place and takes the reply's values: most values fit
      // where the old ones stood, so a large merge needs little new memory.
      pugi::xml_attribute b = row.node.first_attribute();
      for (pugi::xml_attribute a = first.first_attribute(); a; a = a.next_attribute(), b = b.next_attribute()) {
        if (!a.set_value(b.value())) throw std::bad_alloc();
      }
    } else {
      pugi::xml_node parent = first.parent();
      const pugi::xml_node copy = parent.insert_copy_before(row.node, first);
      // Rows nested in a row come and go with it; the index must not keep them.
      const bool nested = holdsRows(first) || holdsRows(copy);
      const bool losesReceiver = receiverMayMove && receiver && isWithin(receiver, first);
      parent.remove_child(first);
      first = copy;  // the replacement is now the first row of its key
      if (nested) indexRows();
      if (losesReceiver) receiver = firstRowsetData(local);
    }
    // A row holding rows stays: those are merged after it and need their nodes.
    if (consumeReply && !holdsRows(row.node)) row.node.parent().remove_child(row.node);
    if (progress && ++done % kProgressEvery == 0) progress(done, rows.size());
  }
  if (progress && !rows.empty()) progress(rows.size(), rows.size());
}

}  // namespace

std::optional<double> rowKeyNumber(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && isXmlSpace(text[begin])) ++begin;
  while (end > begin && isXmlSpace(text[end - 1])) --end;
  std::string_view token = text.substr(begin, end - begin);
  const bool negative = !token.empty() && token.front() == '-';
  if (negative) token.remove_prefix(1);

  // Digits ('.' Digits?)? | '.' Digits: no sign of its own, no exponent.
  std::size_t i = 0;
  std::size_t intDigits = 0;
  while (i < token.size() && isDigit(token[i])) ++i, ++intDigits;
  std::size_t fracDigits = 0;
  if (i < token.size() && token[i] == '.') {
    ++i;
    while (i < token.size() && isDigit(token[i])) ++i, ++fracDigits;
  }
  if (i != token.size() || intDigits + fracDigits == 0) return std::nullopt;
  // The usual key, a whole number of up to 15 digits, is exact as a double.
  if (fracDigits == 0 && i == intDigits && intDigits <= 15) {
    std::uint64_t whole = 0;
    for (char c : token) whole = whole * 10 + static_cast<std::uint64_t>(c - '0');
    if (whole == 0) return 0.0;
    return negative ? -static_cast<double>(whole) : static_cast<double>(whole);
  }

  double value = 0;
  const auto [ptr, ec] = std::from_chars(token.data(), token.data() + token.size(), value);
  if (ec == std::errc::result_out_of_range) {
    // Too large is infinity and too small is zero, as the XPath number would be.
    const bool large = token.substr(0, intDigits).find_first_not_of('0') != std::string_view::npos;
    value = large ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (ec != std::errc() || ptr != token.data() + token.size()) {
    return std::nullopt;
  }
  // -0 and 0 are the same key.
  if (value == 0) return 0.0;
  return negative ? -value : value;
}

namespace {

void merge(pugi::xml_node local, const pugi::xml_node& reply, std::string_view what, const MergeProgress& progress,
           bool consumeReply) {
  // Check the whole reply before touching the local document, so that a bad
  // reply leaves the cached copy exactly as it was.
  const std::optional<std::string> newTime = findModTime(reply);
  if (!newTime) {
    throw AutomationError(kObjectNotSet, standardErrorText(kObjectNotSet) + ": the reply for " +
                                             std::string(what) +
                                             " has no TimeStamp element with a ModTime attribute");
  }

  std::vector<ReplyRow> rows;
  forEachElementNamed(reply, "z:row", [&](const pugi::xml_node& row) {
    const pugi::xml_attribute key = row.attribute("iKey");
    if (!key) {
      throw AutomationError(kObjectNotSet, standardErrorText(kObjectNotSet) + ": a row of the reply for " +
                                               std::string(what) + " has no iKey (row " +
                                               std::to_string(rows.size() + 1) + ")");
    }
    const std::optional<double> number = rowKeyNumber(key.value());
    if (!number) {
      throw AutomationError(kTypeMismatch, standardErrorText(kTypeMismatch) + ": a row of the reply for " +
                                               std::string(what) + " has the iKey \"" + key.value() +
                                               "\", which is not a number");
    }
    rows.push_back({row, *number});
  });

  const pugi::xml_node receiver = firstRowsetData(local);
  if (!rows.empty() && !receiver) {
    throw AutomationError(kObjectNotSet, standardErrorText(kObjectNotSet) + ": the cached data file " +
                                             std::string(what) +
                                             " has no rs:data element to receive the reply's rows");
  }

  // The rs:data that receives new rows normally stands outside every row. Inside
  // one, a reply row may replace it: then the merge runs on a copy and looks for
  // the receiver again after each replacement, and the local document changes
  // only once the whole merge has succeeded.
  if (receiver && isInsideRow(receiver)) {
    pugi::xml_document scratch;
    for (pugi::xml_node child = local.first_child(); child; child = child.next_sibling()) scratch.append_copy(child);
    applyRows(scratch, rows, *newTime, what, progress, true, consumeReply);
    while (local.first_child()) local.remove_child(local.first_child());
    for (pugi::xml_node child = scratch.first_child(); child; child = child.next_sibling()) local.append_copy(child);
    return;
  }
  applyRows(local, rows, *newTime, what, progress, false, consumeReply);
}

}  // namespace

void mergeRowset(pugi::xml_node local, const pugi::xml_node& reply, std::string_view what,
                 const MergeProgress& progress) {
  merge(local, reply, what, progress, false);
}

void mergeRowsetConsumingReply(pugi::xml_node local, pugi::xml_node reply, std::string_view what,
                               const MergeProgress& progress) {
  merge(local, reply, what, progress, true);
}

}  // namespace qmx
