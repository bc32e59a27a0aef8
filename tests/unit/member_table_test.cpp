// The member table is the one list of names and dispatch ids: every entry must be
// reachable by name and id, and dispatching it must reach a member of the right
// kind that answers with the declared type.
#include <gtest/gtest.h>

#include <set>

#include "base/ascii_text.h"
#include "control/dispatch.h"
#include "control/member_table.h"
#include "control/xmlload.h"
#include "support/fake_platform.h"

namespace qmx {
namespace {

// A value of the declared type, for calls and writes.
Variant sampleOf(ValueType type) {
  switch (type) {
    case ValueType::Text: return std::string("7");
    case ValueType::Boolean: return false;
    case ValueType::Integer: return std::int16_t{7};
    case ValueType::Variant: return std::string("a.xsl");
    case ValueType::None:
    case ValueType::XmlDocument: break;
  }
  return EmptyValue{};
}

bool holdsType(const Variant& value, ValueType type) {
  if (type == ValueType::XmlDocument) return std::holds_alternative<XmlDocument>(value);
  if (type == ValueType::None || type == ValueType::Variant) {
    return std::holds_alternative<EmptyValue>(value) || std::holds_alternative<std::string>(value);
  }
  return value.index() == sampleOf(type).index();
}

TEST(MemberTable, NamesAndIdsAreUniqueAndFindTheirEntry) {
  std::set<std::int32_t> ids;
  std::set<std::string> names;
  for (const MemberInfo& m : memberTable()) {
    SCOPED_TRACE(std::string(m.name));
    EXPECT_TRUE(ids.insert(m.dispid).second);
    EXPECT_TRUE(names.insert(lowerAscii(m.name)).second);
    EXPECT_EQ(findMember(m.name), &m);
    EXPECT_EQ(findMemberById(m.dispid), &m);
    ASSERT_NE(m.invoke, nullptr);
    // Methods and properties live in the two id ranges a type library gives them.
    EXPECT_EQ(static_cast<std::uint32_t>(m.dispid) >> 24, m.kind == MemberKind::Method ? 0x60u : 0x68u);
    EXPECT_EQ(m.write != nullptr, m.kind == MemberKind::Property);
  }
  EXPECT_EQ(findMember("XMLLoad_"), nullptr);
  EXPECT_EQ(findMemberById(0), nullptr);
}

TEST(MemberTable, EveryMemberDispatchesToItsOwnMemberWithTheDeclaredResult) {
  test::FakePlatform platform;
  platform.addInstallation("Shop", "SHOP", "3", "42", "False", "C:\\Data");
  XMLLoad control(platform);
  ASSERT_FALSE(control.startupError());
  platform.addFolder("C:\\Data\\3\\SavedFiles");

  for (const MemberInfo& m : memberTable()) {
    SCOPED_TRACE(std::string(m.name));
    if (m.kind != MemberKind::Method) {
      std::vector<Variant> none;
      const Variant before = invokeMember(control, m.name, none);
      EXPECT_TRUE(holdsType(before, m.result));
      if (m.kind == MemberKind::Property) {
        writeProperty(control, m.name, sampleOf(m.result));
        const Variant after = invokeMember(control, m.name, none);
        // The written value reads back (ServerBase gains its closing "/").
        EXPECT_EQ(variantToText(after), m.name == "ServerBase" ? "7/" : variantToText(sampleOf(m.result)));
        writeProperty(control, m.name, before);
      }
      continue;
    }
    std::vector<Variant> args;
    for (const ArgumentInfo& a : m.arguments) args.push_back(sampleOf(a.type));
    // The member itself may refuse these arguments, but never as an unknown
    // member or a wrong count: the table reached it.
    try {
      const Variant result = invokeMember(control, m.name, args);
      EXPECT_TRUE(holdsType(result, m.result));
    } catch (const AutomationError& e) {
      EXPECT_NE(e.number(), kMemberNotSupported);
      EXPECT_NE(e.number(), kWrongArgumentCount);
    }
    args.resize(args.size() + 1);  // one Empty too many
    EXPECT_EQ(test::errorNumberOf([&] { invokeMember(control, m.name, args); }), kWrongArgumentCount);
  }
}

}  // namespace
}  // namespace qmx
