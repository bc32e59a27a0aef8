// Values between COM's VARIANT and the control's automation values: what a
// script passes in, what it gets back, and the errors it sees.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "base/automation_error.h"
#include "base/variant.h"

namespace qmx::com {

// The control's value of a VARIANT (a by-reference one read through). A
// document or any other object becomes Nothing, which a text or number argument
// then refuses with 13. Throws 13 for what has no automation value (arrays).
Variant fromVariant(const VARIANT& in);

// The VARIANT of a control value; a document becomes an MSXML 6 document
// holding the same XML, Nothing a null object. *out is written, never cleared
// (it may be uninitialised memory, such as Invoke's result); the caller owns it
// then. Throws AutomationError when MSXML cannot hold the document, *out untouched.
void toVariant(const Variant& value, VARIANT* out);

// Writes a value into the variable a by-reference VARIANT points at, in that
// variable's own type where it is a typed reference. Returns the failure.
HRESULT writeThrough(const Variant& value, VARIANT& byRef);

// Fills an EXCEPINFO for a control error the way scripts read it: the number in
// scode as 0x800A0000 | number (a negative number as it is), wCode 0.
void fillException(const AutomationError& error, EXCEPINFO* info);

// A BSTR of UTF-8 text; the caller frees it. nullptr when out of memory.
BSTR toBstr(std::string_view utf8);
// UTF-8 of a BSTR (null reads as empty).
std::string fromBstr(BSTR text);

}  // namespace qmx::com
