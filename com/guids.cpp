// The GUIDs of the type library, defined once for the whole DLL.
#include <initguid.h>

#include "com/qmxprodax_idl.h"
