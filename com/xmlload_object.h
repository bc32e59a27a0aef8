// The COM object of the control: IDispatch over the shared member table,
// IProvideClassInfo2, and connection points whose IPropertyNotifySink
// connections hear every property change. Nothing of COM reaches the control.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include "platform/win/win_platform.h"

namespace qmx::com {

// Creates a control object and runs its start-up. On a failed start-up nothing
// is created: the result is 0x800A0000 | the error's number, with an IErrorInfo
// carrying its description, so that a host learns why. onMessage, when given,
// stands in for the message boxes (a test's "user").
HRESULT createXMLLoadObject(REFIID riid, void** out, WinPlatform::MessageHandler onMessage = {});

}  // namespace qmx::com
