#include "control/member_table.h"

#include <cctype>

namespace qmx {
namespace {

using K = MemberKind;
using T = ValueType;

const std::vector<MemberInfo>& table() {
  static const std::vector<MemberInfo> members = {
      {"SetOffline", K::Method, 0x60030008, {{"bOff", T::Boolean, true, false}}, T::None},
      {"FileEncodeAndDecode", K::Method, 0x60030009,
       {{"sInputString", T::Text, true, false}, {"PasswordKey", T::Text, true, false}}, T::Text},
      {"HTTPCall", K::Method, 0x6003000A,
       {{"sXML", T::Text, true, false}, {"sAction", T::Text, true, false}}, T::XmlDocument},
      {"Login", K::Method, 0x6003000B,
       {{"sUserName", T::Text, true, false}, {"sPassword", T::Text, true, false}}, T::Boolean},
      {"XMLLoad", K::Method, 0x6003000C,
       {{"sWebService", T::Text, true, false},
        {"sFile", T::Text, true, false},
        {"sAction", T::Text, true, true}},
       T::XmlDocument},
      {"SaveLocal", K::Method, 0x6003000D,
       {{"sTransXML", T::Text, true, false}, {"sFile", T::Text, true, false}}, T::Variant},
      {"BackOnline", K::Method, 0x6003000E, {}, T::Variant},
      {"getOffline", K::Method, 0x60030011, {}, T::Boolean},
      {"getKey", K::Method, 0x60030012, {}, T::Text},
      {"ChooseInstall", K::Method, 0x60030013, {{"sCompanyID", T::Text, true, false}}, T::None},
      {"Configured", K::Property, 0x68030007, {}, T::Text},
      {"Location", K::Property, 0x68030006, {}, T::Integer},
      {"Authenticated", K::Property, 0x68030005, {}, T::Boolean},
      {"CompanyID", K::Property, 0x68030004, {}, T::Text},
      {"InvoicePreprint", K::Property, 0x68030003, {}, T::Boolean},
      {"DataPath", K::Property, 0x68030002, {}, T::Text},
      {"ErrorNumber", K::Property, 0x68030001, {}, T::Integer},
      {"ErrorDesc", K::Property, 0x68030000, {}, T::Text},
      {"GetXSL", K::Method, 0x60030014, {{"sFileName", T::Variant, true, false}}, T::Text},
      {"DeleteLocalData", K::Method, 0x60030015, {}, T::Variant},
      {"LevelNum", K::ReadOnlyProperty, 0x68030016, {}, T::Text},
      {"SaveElectronicPurchaseOrder", K::Method, 0x6003001B,
       {{"vDocumentNumber", T::Text, false, false}, {"vPurchaseOrderData", T::Text, false, false}},
       T::Boolean},
      {"ServerBase", K::Property, 0x68030017, {}, T::Text},
  };
  return members;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::span<const MemberInfo> memberTable() { return table(); }

const MemberInfo* findMember(std::string_view name) {
  for (const MemberInfo& m : table()) {
    if (equalsIgnoreCase(m.name, name)) return &m;
  }
  return nullptr;
}

}  // namespace qmx
