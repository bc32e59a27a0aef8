// Calls the control's members by name with automation values, the way a script
// engine does through the dispatch interface: argument counts checked, values
// converted to each argument's type, by-reference arguments written back. Every
// host (qmxhost, a COM object) dispatches through here.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "base/variant.h"
#include "control/xmlload.h"

namespace qmx {

// Error numbers of the dispatch layer itself.
inline constexpr std::int32_t kPropertyReadOnly = 383;
inline constexpr std::int32_t kMemberNotSupported = 438;
inline constexpr std::int32_t kArgumentNotOptional = 449;
inline constexpr std::int32_t kWrongArgumentCount = 450;

// The value as a text argument: Empty gives "", numbers their text, Booleans
// "True"/"False". Throws 94 for Null, 13 for a document or Nothing.
std::string toTextArgument(const Variant& value);
// The value as a Boolean argument: any non-zero number is true; text "True",
// "False" or a number. Throws 94 for Null, 13 otherwise.
bool toBooleanArgument(const Variant& value);
// The value as an Integer argument; fractions rounded half to even. Throws 94 for
// Null, 13 for what is not a number, 6 when out of range.
std::int16_t toIntegerArgument(const Variant& value);

// Calls a method or reads a property; Empty for a method without a result,
// a null document for Nothing. Trailing optional arguments may be left out. A
// by-reference argument that the member rewrites is updated in args, also when
// the member then fails. Throws 438 for an unknown member, 450 for a wrong
// number of arguments, the conversion errors above, and the member's own errors.
Variant invokeMember(XMLLoad& control, std::string_view name, std::vector<Variant>& args);

// Writes a property. Throws 438 for an unknown member, 450 for a method, 383 for
// a read-only property, the conversion errors above, and the write's own errors.
void writeProperty(XMLLoad& control, std::string_view name, const Variant& value);

}  // namespace qmx
