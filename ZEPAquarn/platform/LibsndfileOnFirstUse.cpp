// libsndfile, opened on its first call rather than with the executable, so that a launch shows its
// tray icon without loading it and its codec libraries.
// The definitions below stand in for the library's own functions (the same names, with the signatures
// its header declares) and forward to them. When the library cannot be opened, each answers as the
// library answers a failed call, so the caller's error path reports it; the reason is logged.
#include "platform/SharedLibrary.h"

#include <sndfile.h>

namespace {

using zq::platform::LibraryOnFirstUse;
using zq::platform::SharedLibrary;

struct Libsndfile {
    decltype(&::sf_close) sf_close = nullptr;
    decltype(&::sf_command) sf_command = nullptr;
    decltype(&::sf_error) sf_error = nullptr;
    decltype(&::sf_error_number) sf_error_number = nullptr;
    decltype(&::sf_format_check) sf_format_check = nullptr;
    decltype(&::sf_open) sf_open = nullptr;
    decltype(&::sf_open_virtual) sf_open_virtual = nullptr;
    decltype(&::sf_readf_float) sf_readf_float = nullptr;
    decltype(&::sf_strerror) sf_strerror = nullptr;
    decltype(&::sf_write_sync) sf_write_sync = nullptr;
    decltype(&::sf_writef_float) sf_writef_float = nullptr;

    void bind(SharedLibrary &library)
    {
        library.bind(sf_close, "sf_close");
        library.bind(sf_command, "sf_command");
        library.bind(sf_error, "sf_error");
        library.bind(sf_error_number, "sf_error_number");
        library.bind(sf_format_check, "sf_format_check");
        library.bind(sf_open, "sf_open");
        library.bind(sf_open_virtual, "sf_open_virtual");
        library.bind(sf_readf_float, "sf_readf_float");
        library.bind(sf_strerror, "sf_strerror");
        library.bind(sf_write_sync, "sf_write_sync");
        library.bind(sf_writef_float, "sf_writef_float");
    }
};

const LibraryOnFirstUse<Libsndfile> &library()
{
    static const LibraryOnFirstUse<Libsndfile> opened(QByteArrayLiteral("libsndfile.so.1"));
    return opened;
}

const Libsndfile *loaded()
{
    return library().functions();
}

const char *failureReason()
{
    return library().failureReason();
}

} // namespace

extern "C" {

int sf_close(SNDFILE *sndfile)
{
    const auto *functions = loaded();
    return functions ? functions->sf_close(sndfile) : SF_ERR_SYSTEM;
}

int sf_command(SNDFILE *sndfile, int command, void *data, int datasize)
{
    const auto *functions = loaded();
    return functions ? functions->sf_command(sndfile, command, data, datasize) : 0;
}

int sf_error(SNDFILE *sndfile)
{
    const auto *functions = loaded();
    return functions ? functions->sf_error(sndfile) : SF_ERR_SYSTEM;
}

const char *sf_error_number(int errnum)
{
    const auto *functions = loaded();
    return functions ? functions->sf_error_number(errnum) : failureReason();
}

int sf_format_check(const SF_INFO *info)
{
    const auto *functions = loaded();
    return functions ? functions->sf_format_check(info) : 0;
}

SNDFILE *sf_open(const char *path, int mode, SF_INFO *sfinfo)
{
    const auto *functions = loaded();
    return functions ? functions->sf_open(path, mode, sfinfo) : nullptr;
}

SNDFILE *sf_open_virtual(SF_VIRTUAL_IO *sfvirtual, int mode, SF_INFO *sfinfo, void *user_data)
{
    const auto *functions = loaded();
    return functions ? functions->sf_open_virtual(sfvirtual, mode, sfinfo, user_data) : nullptr;
}

sf_count_t sf_readf_float(SNDFILE *sndfile, float *ptr, sf_count_t frames)
{
    const auto *functions = loaded();
    return functions ? functions->sf_readf_float(sndfile, ptr, frames) : 0;
}

const char *sf_strerror(SNDFILE *sndfile)
{
    const auto *functions = loaded();
    return functions ? functions->sf_strerror(sndfile) : failureReason();
}

void sf_write_sync(SNDFILE *sndfile)
{
    if (const auto *functions = loaded())
        functions->sf_write_sync(sndfile);
}

sf_count_t sf_writef_float(SNDFILE *sndfile, const float *ptr, sf_count_t frames)
{
    const auto *functions = loaded();
    return functions ? functions->sf_writef_float(sndfile, ptr, frames) : 0;
}

} // extern "C"
