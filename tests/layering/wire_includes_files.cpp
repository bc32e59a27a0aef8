// Must not compile: the wire layer may not see the files layer. The test
// "LayeringRefusesWrongDirectionInclude" builds this and expects a failure, so
// that the header views keep enforcing the layering.
#include "net/http_call.h"
#include "store/local_store.h"
