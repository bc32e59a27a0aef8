// The control's public members in interface order, with their dispatch ids,
// argument passing and the calls that reach the control: the one table that
// every dispatch layer (the script host, a COM server) and the type library are
// built from.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "base/variant.h"

namespace qmx {

class XMLLoad;

enum class MemberKind { Method, Property, ReadOnlyProperty };

// Automation types of arguments, property values and results.
enum class ValueType { None, Text, Boolean, Integer, Variant, XmlDocument };

struct ArgumentInfo {
  std::string_view name;
  ValueType type;
  bool byRef;
  bool optional;
};

// Calls a method with arguments already counted (trailing optional ones may be
// missing), or reads a property (no arguments); Empty for a method without result.
using MemberInvoker = Variant (*)(XMLLoad& control, std::vector<Variant>& args);
// Writes a property.
using PropertyWriter = void (*)(XMLLoad& control, const Variant& value);

struct MemberInfo {
  std::string_view name;  // as the dispatch interface spells it
  MemberKind kind;
  std::int32_t dispid;
  std::vector<ArgumentInfo> arguments;  // methods only
  ValueType result;                     // for properties: the value's type
  MemberInvoker invoke;                 // methods and property reads
  PropertyWriter write;                 // writable properties only, else nullptr
};

// Every public member of the control, in interface order.
std::span<const MemberInfo> memberTable();

// The member of that name, compared case-insensitively; nullptr when none.
const MemberInfo* findMember(std::string_view name);

// The member with that dispatch id; nullptr when none.
const MemberInfo* findMemberById(std::int32_t dispid);

}  // namespace qmx
