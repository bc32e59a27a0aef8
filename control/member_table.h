// The control's public members in interface order, with their dispatch ids and
// argument passing: what a dispatch layer (the script host, a COM server) is
// built from.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace qmx {

enum class MemberKind { Method, Property, ReadOnlyProperty };

// Automation types of arguments, property values and results.
enum class ValueType { None, Text, Boolean, Integer, Long, Variant, XmlDocument };

struct ArgumentInfo {
  std::string_view name;
  ValueType type;
  bool byRef;
  bool optional;
};

struct MemberInfo {
  std::string_view name;  // as the dispatch interface spells it
  MemberKind kind;
  std::int32_t dispid;
  std::vector<ArgumentInfo> arguments;  // methods only
  ValueType result;                     // for properties: the value's type
};

// Every public member of the control, in interface order.
std::span<const MemberInfo> memberTable();

// The member of that name, compared case-insensitively; nullptr when none.
const MemberInfo* findMember(std::string_view name);

}  // namespace qmx
