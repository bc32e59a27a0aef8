#include "host/dispatch.h"

#include <cmath>
#include <limits>
#include <string>

#include "control/member_table.h"
#include "platform/automation_error.h"
#include "platform/conversions.h"

namespace qmx::host {
namespace {

[[noreturn]] void nullArgument() { throw AutomationError(kInvalidUseOfNull); }
[[noreturn]] void typeMismatch() { throw AutomationError(kTypeMismatch); }

template <typename Int>
Int roundToInt(double d) {
  // The runtime rounds half to even; nearbyint does so in the default mode.
  const double r = std::nearbyint(d);
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

// A text argument passed by reference that the member may rewrite: the script's
// value is replaced only when the member changed the text, so that a variable
// the member left alone keeps its own type (a number stays a number).
class TextByRef {
 public:
  explicit TextByRef(Variant& slot) : slot_(slot), original_(toTextArgument(slot)), text_(original_) {}
  TextByRef(const TextByRef&) = delete;
  TextByRef& operator=(const TextByRef&) = delete;
  // Written back on the way out, a failing call included: the member's rewrite
  // has happened by then and the caller's variable must show it.
  ~TextByRef() {
    if (text_ != original_) {
      try {
        slot_ = text_;
      } catch (...) {
        // Out of memory while unwinding: keep the old value rather than terminate.
      }
    }
  }
  std::string& text() { return text_; }

 private:
  Variant& slot_;
  std::string original_;
  std::string text_;
};

Variant readProperty(XMLLoad& c, std::int32_t dispid) {
  switch (dispid) {
    case 0x68030007: return c.get_Configured();
    case 0x68030006: return c.get_Location();
    case 0x68030005: return c.get_Authenticated();
    case 0x68030004: return c.get_CompanyID();
    case 0x68030003: return c.get_InvoicePreprint();
    case 0x68030002: return c.get_DataPath();
    case 0x68030001: return c.get_ErrorNumber();
    case 0x68030000: return c.get_ErrorDesc();
    case 0x68030016: return c.get_LevelNum();
    case 0x68030017: return c.get_ServerBase();
  }
  throw AutomationError(kMemberNotSupported);
}

Variant callMethod(XMLLoad& c, std::int32_t dispid, std::vector<Variant>& a) {
  switch (dispid) {
    case 0x60030008:  // SetOffline
      c.SetOffline(toBooleanArgument(a[0]));
      return EmptyValue{};
    case 0x60030009: {  // FileEncodeAndDecode
      TextByRef input(a[0]);
      const std::string key = toTextArgument(a[1]);
      return c.FileEncodeAndDecode(input.text(), key);
    }
    case 0x6003000A: {  // HTTPCall
      const std::string xml = toTextArgument(a[0]);
      const std::string action = toTextArgument(a[1]);
      return c.HTTPCall(xml, action);
    }
    case 0x6003000B: {  // Login
      const std::string user = toTextArgument(a[0]);
      const std::string password = toTextArgument(a[1]);
      return c.Login(user, password);
    }
    case 0x6003000C: {  // XMLLoad
      TextByRef webService(a[0]);
      const std::string file = toTextArgument(a[1]);
      const std::string action = a.size() > 2 ? toTextArgument(a[2]) : std::string();
      return c.XMLLoad_(webService.text(), file, action);
    }
    case 0x6003000D: {  // SaveLocal
      const std::string trans = toTextArgument(a[0]);
      const std::string file = toTextArgument(a[1]);
      c.SaveLocal(trans, file);
      return EmptyValue{};
    }
    case 0x6003000E: c.BackOnline(); return EmptyValue{};
    case 0x60030011: return c.getOffline();
    case 0x60030012: return c.getKey();
    case 0x60030013: c.ChooseInstall(toTextArgument(a[0])); return EmptyValue{};
    case 0x60030014: return c.GetXSL(a[0]);
    case 0x60030015: c.DeleteLocalData(); return EmptyValue{};
    case 0x6003001B: {  // SaveElectronicPurchaseOrder
      std::string number = toTextArgument(a[0]);
      std::string data = toTextArgument(a[1]);
      return c.SaveElectronicPurchaseOrder(std::move(number), std::move(data));
    }
  }
  throw AutomationError(kMemberNotSupported);
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

std::int32_t toLongArgument(const Variant& value) { return toWhole<std::int32_t>(value, &textToLong); }

Variant invokeMember(XMLLoad& control, std::string_view name, std::vector<Variant>& args) {
  const MemberInfo& m = lookUp(name);
  if (m.kind != MemberKind::Method) {
    if (!args.empty()) wrongCount(m);
    return readProperty(control, m.dispid);
  }
  std::size_t required = 0;
  for (const ArgumentInfo& a : m.arguments) required += a.optional ? 0 : 1;
  if (args.size() < required || args.size() > m.arguments.size()) wrongCount(m);
  return callMethod(control, m.dispid, args);
}

void writeProperty(XMLLoad& control, std::string_view name, const Variant& value) {
  const MemberInfo& m = lookUp(name);
  if (m.kind == MemberKind::Method) wrongCount(m);
  if (m.kind == MemberKind::ReadOnlyProperty) {
    throw AutomationError(kPropertyReadOnly, "Property '" + std::string(m.name) + "' is read-only");
  }
  switch (m.dispid) {
    case 0x68030007: control.put_Configured(toTextArgument(value)); return;
    case 0x68030006: control.put_Location(toIntegerArgument(value)); return;
    case 0x68030005: control.put_Authenticated(toBooleanArgument(value)); return;
    case 0x68030004: control.put_CompanyID(toTextArgument(value)); return;
    case 0x68030003: control.put_InvoicePreprint(toBooleanArgument(value)); return;
    case 0x68030002: control.put_DataPath(toTextArgument(value)); return;
    case 0x68030001: control.put_ErrorNumber(toIntegerArgument(value)); return;
    case 0x68030000: control.put_ErrorDesc(toTextArgument(value)); return;
    case 0x68030017: control.put_ServerBase(toTextArgument(value)); return;
  }
  throw AutomationError(kMemberNotSupported, unknownMemberText(name));
}

}  // namespace qmx::host
