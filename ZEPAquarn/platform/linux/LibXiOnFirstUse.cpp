// libXi, opened on its first call rather than with the executable, so that a launch shows its tray icon
// without loading it.
// The definitions below stand in for the library's own functions (the same names, with the signatures
// its header declares) and forward to them. When the library cannot be opened, each answers as the
// library answers a failed call, so the caller's error path reports it; the reason is logged.
#include "platform/SharedLibrary.h"

#include <X11/extensions/XInput2.h>

namespace {

using zq::platform::LibraryOnFirstUse;
using zq::platform::SharedLibrary;

struct LibXi {
    decltype(&::XIFreeDeviceInfo) XIFreeDeviceInfo = nullptr;
    decltype(&::XIQueryDevice) XIQueryDevice = nullptr;
    decltype(&::XIQueryVersion) XIQueryVersion = nullptr;
    decltype(&::XISelectEvents) XISelectEvents = nullptr;

    void bind(SharedLibrary &library)
    {
        library.bind(XIFreeDeviceInfo, "XIFreeDeviceInfo");
        library.bind(XIQueryDevice, "XIQueryDevice");
        library.bind(XIQueryVersion, "XIQueryVersion");
        library.bind(XISelectEvents, "XISelectEvents");
    }
};

const LibraryOnFirstUse<LibXi> &library()
{
    static const LibraryOnFirstUse<LibXi> opened(QByteArrayLiteral("libXi.so.6"));
    return opened;
}

const LibXi *loaded()
{
    return library().functions();
}

} // namespace

extern "C" {

void XIFreeDeviceInfo(XIDeviceInfo *info)
{
    if (const auto *functions = loaded())
        functions->XIFreeDeviceInfo(info);
}

XIDeviceInfo *XIQueryDevice(Display *dpy, int deviceid, int *ndevices_return)
{
    if (const auto *functions = loaded())
        return functions->XIQueryDevice(dpy, deviceid, ndevices_return);
    if (ndevices_return)
        *ndevices_return = 0;
    return nullptr;
}

int XIQueryVersion(Display *dpy, int *major_version_inout, int *minor_version_inout)
{
    const auto *functions = loaded();
    return functions ? functions->XIQueryVersion(dpy, major_version_inout, minor_version_inout) : BadRequest;
}

int XISelectEvents(Display *dpy, Window win, XIEventMask *masks, int num_masks)
{
    const auto *functions = loaded();
    return functions ? functions->XISelectEvents(dpy, win, masks, num_masks) : BadRequest;
}

} // extern "C"
