// libXi, opened on its first call rather than with the executable, so that a launch shows its tray icon
// without loading it.
// The definitions below stand in for the library's own functions (the same names, with the signatures
// its header declares) and forward to them. When the library cannot be opened, each answers as the
// library answers a failed call, so the caller's error path reports it; the reason is logged.
#include "platform/SharedLibrary.h"

#include <X11/extensions/XInput2.h>

namespace {

#define LIBXI_FUNCTIONS(X)                                                                                             \
    X(XIFreeDeviceInfo)                                                                                                \
    X(XIQueryDevice)                                                                                                   \
    X(XIQueryVersion)                                                                                                  \
    X(XISelectEvents)
ZQ_LIBRARY_ON_FIRST_USE(LibXi, LIBXI_FUNCTIONS, "libXi.so.6");

} // namespace

extern "C" {

void XIFreeDeviceInfo(XIDeviceInfo *info)
{
    library().forward<&LibXi::XIFreeDeviceInfo>(info);
}

XIDeviceInfo *XIQueryDevice(Display *dpy, int deviceid, int *ndevices_return)
{
    if (const auto *functions = library().functions())
        return functions->XIQueryDevice(dpy, deviceid, ndevices_return);
    if (ndevices_return)
        *ndevices_return = 0;
    return nullptr;
}

int XIQueryVersion(Display *dpy, int *major_version_inout, int *minor_version_inout)
{
    return library().forwardOr<&LibXi::XIQueryVersion>(BadRequest, dpy, major_version_inout, minor_version_inout);
}

int XISelectEvents(Display *dpy, Window win, XIEventMask *masks, int num_masks)
{
    return library().forwardOr<&LibXi::XISelectEvents>(BadRequest, dpy, win, masks, num_masks);
}

} // extern "C"
