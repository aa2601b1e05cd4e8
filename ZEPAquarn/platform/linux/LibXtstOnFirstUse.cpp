// libXtst, opened on its first call rather than with the executable, so that a launch shows its tray
// icon without loading it.
// The definitions below stand in for the library's own functions (the same names, with the signatures
// its header declares) and forward to them. When the library cannot be opened, each answers as the
// library answers a failed call, so the caller's error path reports it; the reason is logged.
#include "platform/SharedLibrary.h"

#include <X11/extensions/XTest.h>

namespace {

#define LIBXTST_FUNCTIONS(X)                                                                                           \
    X(XTestFakeKeyEvent)                                                                                               \
    X(XTestQueryExtension)
ZQ_LIBRARY_ON_FIRST_USE(LibXtst, LIBXTST_FUNCTIONS, "libXtst.so.6");

} // namespace

extern "C" {

int XTestFakeKeyEvent(Display *a0, unsigned int a1, int a2, unsigned long a3)
{
    return library().forwardOr<&LibXtst::XTestFakeKeyEvent>(0, a0, a1, a2, a3);
}

int XTestQueryExtension(Display *a0, int *a1, int *a2, int *a3, int *a4)
{
    return library().forwardOr<&LibXtst::XTestQueryExtension>(0, a0, a1, a2, a3, a4);
}

} // extern "C"
