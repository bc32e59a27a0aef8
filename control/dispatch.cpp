#include "control/dispatch.h"

#include <limits>
#include <string>

#include "base/automation_error.h"
#include "base/conversions.h"
#include "control/member_table.h"

namespace qmx {
namespace {

[[noreturn]] void nullArgument() { throw AutomationError(kInvalidUseOfNull); }
[[noreturn]] void typeMismatch() { throw AutomationError(kTypeMismatch); }

template <typename Int>
Int roundToInt(double d) {
  const double r = roundHalfEven(d);
  if (!(r >= static_cast<double>(std::numeric_limits<Int>::min()) &&
        r <= static_cast<double>(std::numeric_limits<Int>::max()))) {
    throw AutomationError(kOverflow);
  }
  return static_cast<Int>(r);
}

template <typename Int>
Int toWhole(const Variant& value, Int (*fromText)(std::string_view)) {
  struct Visitor {
    Int (*fromText)(std::string_view);
    Int operator()(const EmptyValue&) const { return 0; }
    Int operator()(const NullValue&) const { nullArgument(); }
    Int operator()(bool b) const { return b ? -1 : 0; }
    Int operator()(std::int16_t n) const { return roundToInt<Int>(n); }
    Int operator()(std::int32_t n) const { return roundToInt<Int>(n); }
    Int operator()(double d) const { return roundToInt<Int>(d); }
    Int operator()(const std::string& s) const { return fromText(s); }
    Int operator()(const XmlDocument&) const { typeMismatch(); }
  };
  return std::visit(Visitor{fromText}, value);
}

std::string unknownMemberText(std::string_view name) {
  return "Object doesn't support this property or method: '" + std::string(name) + "'";
}

const MemberInfo& lookUp(std::string_view name) {
  const MemberInfo* m = findMember(name);
  if (!m) throw AutomationError(kMemberNotSupported, unknownMemberText(name));
  return *m;
}

[[noreturn]] void wrongCount(const MemberInfo& m) {
  throw AutomationError(kWrongArgumentCount, "Wrong number of arguments or invalid property assignment: '" +
                                                 std::string(m.name) + "'");
}

}  // namespace

std::string toTextArgument(const Variant& value) {
  if (std::holds_alternative<NullValue>(value)) nullArgument();
  return variantToText(value);  // throws 13 for a document
}

bool toBooleanArgument(const Variant& value) {
  struct Visitor {
    bool operator()(const EmptyValue&) const { return false; }
    bool operator()(const NullValue&) const { nullArgument(); }
    bool operator()(bool b) const { return b; }
    bool operator()(std::int16_t n) const { return n != 0; }
    bool operator()(std::int32_t n) const { return n != 0; }
    bool operator()(double d) const { return d != 0; }
    bool operator()(const std::string& s) const { return textToBoolean(s); }
    bool operator()(const XmlDocument&) const { typeMismatch(); }
  };
  return std::visit(Visitor{}, value);
}

std::int16_t toIntegerArgument(const Variant& value) { return toWhole<std::int16_t>(value, &textToInteger); }

Variant invokeMember(XMLLoad& control, std::string_view name, std::vector<Variant>& args) {
  const MemberInfo& m = lookUp(name);
  if (m.kind != MemberKind::Method) {
    if (!args.empty()) wrongCount(m);
    return m.invoke(control, args);
  }
  std::size_t required = 0;
  for (const ArgumentInfo& a : m.arguments) required += a.optional ? 0 : 1;
  if (args.size() < required || args.size() > m.arguments.size()) wrongCount(m);
  return m.invoke(control, args);
}

void writeProperty(XMLLoad& control, std::string_view name, const Variant& value) {
  const MemberInfo& m = lookUp(name);
  if (m.kind == MemberKind::Method) wrongCount(m);
  if (m.kind == MemberKind::ReadOnlyProperty) {
    throw AutomationError(kPropertyReadOnly, "Property '" + std::string(m.name) + "' is read-only");
  }
  m.write(control, value);
}

}  // namespace qmx
