#include "control/member_table.h"

#include "base/ascii_text.h"
#include "control/dispatch.h"
#include "control/xmlload.h"

namespace qmx {
namespace {

using K = MemberKind;
using T = ValueType;
using Args = std::vector<Variant>;

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

const std::vector<MemberInfo>& table() {
  static const std::vector<MemberInfo> members = {
      {"SetOffline", K::Method, 0x60030008, {{"bOff", T::Boolean, true, false}}, T::None,
       [](XMLLoad& c, Args& a) -> Variant {
         c.SetOffline(toBooleanArgument(a[0]));
         return EmptyValue{};
       },
       nullptr},
      {"FileEncodeAndDecode", K::Method, 0x60030009,
       {{"sInputString", T::Text, true, false}, {"PasswordKey", T::Text, true, false}}, T::Text,
       [](XMLLoad& c, Args& a) -> Variant {
         TextByRef input(a[0]);
         const std::string key = toTextArgument(a[1]);
         return c.FileEncodeAndDecode(input.text(), key);
       },
       nullptr},
      {"HTTPCall", K::Method, 0x6003000A, {{"sXML", T::Text, true, false}, {"sAction", T::Text, true, false}},
       T::XmlDocument,
       [](XMLLoad& c, Args& a) -> Variant {
         const std::string xml = toTextArgument(a[0]);
         const std::string action = toTextArgument(a[1]);
         return c.HTTPCall(xml, action);
       },
       nullptr},
      {"Login", K::Method, 0x6003000B,
       {{"sUserName", T::Text, true, false}, {"sPassword", T::Text, true, false}}, T::Boolean,
       [](XMLLoad& c, Args& a) -> Variant {
         const std::string user = toTextArgument(a[0]);
         const std::string password = toTextArgument(a[1]);
         return c.Login(user, password);
       },
       nullptr},
      {"XMLLoad", K::Method, 0x6003000C,
       {{"sWebService", T::Text, true, false}, {"sFile", T::Text, true, false}, {"sAction", T::Text, true, true}},
       T::XmlDocument,
       [](XMLLoad& c, Args& a) -> Variant {
         TextByRef webService(a[0]);
         const std::string file = toTextArgument(a[1]);
         const std::string action = a.size() > 2 ? toTextArgument(a[2]) : std::string();
         return c.XMLLoad_(webService.text(), file, action);
       },
       nullptr},
      {"SaveLocal", K::Method, 0x6003000D,
       {{"sTransXML", T::Text, true, false}, {"sFile", T::Text, true, false}}, T::Variant,
       [](XMLLoad& c, Args& a) -> Variant {
         const std::string trans = toTextArgument(a[0]);
         const std::string file = toTextArgument(a[1]);
         c.SaveLocal(trans, file);
         return EmptyValue{};
       },
       nullptr},
      {"BackOnline", K::Method, 0x6003000E, {}, T::Variant,
       [](XMLLoad& c, Args&) -> Variant {
         c.BackOnline();
         return EmptyValue{};
       },
       nullptr},
      {"getOffline", K::Method, 0x60030011, {}, T::Boolean,
       [](XMLLoad& c, Args&) -> Variant { return c.getOffline(); }, nullptr},
      {"getKey", K::Method, 0x60030012, {}, T::Text, [](XMLLoad& c, Args&) -> Variant { return c.getKey(); },
       nullptr},
      {"ChooseInstall", K::Method, 0x60030013, {{"sCompanyID", T::Text, true, false}}, T::None,
       [](XMLLoad& c, Args& a) -> Variant {
         c.ChooseInstall(toTextArgument(a[0]));
         return EmptyValue{};
       },
       nullptr},
      {"Configured", K::Property, 0x68030007, {}, T::Text,
       [](XMLLoad& c, Args&) -> Variant { return c.get_Configured(); },
       [](XMLLoad& c, const Variant& v) { c.put_Configured(toTextArgument(v)); }},
      {"Location", K::Property, 0x68030006, {}, T::Integer,
       [](XMLLoad& c, Args&) -> Variant { return c.get_Location(); },
       [](XMLLoad& c, const Variant& v) { c.put_Location(toIntegerArgument(v)); }},
      {"Authenticated", K::Property, 0x68030005, {}, T::Boolean,
       [](XMLLoad& c, Args&) -> Variant { return c.get_Authenticated(); },
       [](XMLLoad& c, const Variant& v) { c.put_Authenticated(toBooleanArgument(v)); }},
      {"CompanyID", K::Property, 0x68030004, {}, T::Text,
       [](XMLLoad& c, Args&) -> Variant { return c.get_CompanyID(); },
       [](XMLLoad& c, const Variant& v) { c.put_CompanyID(toTextArgument(v)); }},
      {"InvoicePreprint", K::Property, 0x68030003, {}, T::Boolean,
       [](XMLLoad& c, Args&) -> Variant { return c.get_InvoicePreprint(); },
       [](XMLLoad& c, const Variant& v) { c.put_InvoicePreprint(toBooleanArgument(v)); }},
      {"DataPath", K::Property, 0x68030002, {}, T::Text,
       [](XMLLoad& c, Args&) -> Variant { return c.get_DataPath(); },
       [](XMLLoad& c, const Variant& v) { c.put_DataPath(toTextArgument(v)); }},
      {"ErrorNumber", K::Property, 0x68030001, {}, T::Integer,
       [](XMLLoad& c, Args&) -> Variant { return c.get_ErrorNumber(); },
       [](XMLLoad& c, const Variant& v) { c.put_ErrorNumber(toIntegerArgument(v)); }},
      {"ErrorDesc", K::Property, 0x68030000, {}, T::Text,
       [](XMLLoad& c, Args&) -> Variant { return c.get_ErrorDesc(); },
       [](XMLLoad& c, const Variant& v) { c.put_ErrorDesc(toTextArgument(v)); }},
      {"GetXSL", K::Method, 0x60030014, {{"sFileName", T::Variant, true, false}}, T::Text,
       [](XMLLoad& c, Args& a) -> Variant { return c.GetXSL(a[0]); }, nullptr},
      {"DeleteLocalData", K::Method, 0x60030015, {}, T::Variant,
       [](XMLLoad& c, Args&) -> Variant {
         c.DeleteLocalData();
         return EmptyValue{};
       },
       nullptr},
      {"LevelNum", K::ReadOnlyProperty, 0x68030016, {}, T::Text,
       [](XMLLoad& c, Args&) -> Variant { return c.get_LevelNum(); }, nullptr},
      {"SaveElectronicPurchaseOrder", K::Method, 0x6003001B,
       {{"vDocumentNumber", T::Text, false, false}, {"vPurchaseOrderData", T::Text, false, false}}, T::Boolean,
       [](XMLLoad& c, Args& a) -> Variant {
         std::string number = toTextArgument(a[0]);
         std::string data = toTextArgument(a[1]);
         return c.SaveElectronicPurchaseOrder(std::move(number), std::move(data));
       },
       nullptr},
      {"ServerBase", K::Property, 0x68030017, {}, T::Text,
       [](XMLLoad& c, Args&) -> Variant { return c.get_ServerBase(); },
       [](XMLLoad& c, const Variant& v) { c.put_ServerBase(toTextArgument(v)); }},
  };
  return members;
}

}  // namespace

std::span<const MemberInfo> memberTable() { return table(); }

const MemberInfo* findMember(std::string_view name) {
  for (const MemberInfo& m : table()) {
    if (equalsIgnoreCase(m.name, name)) return &m;
  }
  return nullptr;
}

const MemberInfo* findMemberById(std::int32_t dispid) {
  for (const MemberInfo& m : table()) {
    if (m.dispid == dispid) return &m;
  }
  return nullptr;
}

}  // namespace qmx
