// libsndfile, opened on its first call rather than with the executable, so that a launch shows its
// tray icon without loading it and its codec libraries.
// The definitions below stand in for the library's own functions (the same names, with the signatures
// its header declares) and forward to them. When the library cannot be opened, each answers as the
// library answers a failed call, so the caller's error path reports it; the reason is logged.
#include "platform/SharedLibrary.h"

#include <sndfile.h>

namespace {

#define LIBSNDFILE_FUNCTIONS(X)                                                                                        \
    X(sf_close)                                                                                                        \
    X(sf_command)                                                                                                      \
    X(sf_error)                                                                                                        \
    X(sf_error_number)                                                                                                 \
    X(sf_format_check)                                                                                                 \
    X(sf_open)                                                                                                         \
    X(sf_open_virtual)                                                                                                 \
    X(sf_readf_float)                                                                                                  \
    X(sf_strerror)                                                                                                     \
    X(sf_write_sync)                                                                                                   \
    X(sf_writef_float)
ZQ_LIBRARY_ON_FIRST_USE(Libsndfile, LIBSNDFILE_FUNCTIONS, "libsndfile.so.1");

} // namespace

extern "C" {

int sf_close(SNDFILE *sndfile)
{
    return library().forwardOr<&Libsndfile::sf_close>(SF_ERR_SYSTEM, sndfile);
}

int sf_command(SNDFILE *sndfile, int command, void *data, int datasize)
{
    return library().forwardOr<&Libsndfile::sf_command>(0, sndfile, command, data, datasize);
}

int sf_error(SNDFILE *sndfile)
{
    return library().forwardOr<&Libsndfile::sf_error>(SF_ERR_SYSTEM, sndfile);
}

const char *sf_error_number(int errnum)
{
    return library().forwardOr<&Libsndfile::sf_error_number>(Library::Reason{}, errnum);
}

int sf_format_check(const SF_INFO *info)
{
    return library().forwardOr<&Libsndfile::sf_format_check>(0, info);
}

SNDFILE *sf_open(const char *path, int mode, SF_INFO *sfinfo)
{
    return library().forwardOr<&Libsndfile::sf_open>(nullptr, path, mode, sfinfo);
}

SNDFILE *sf_open_virtual(SF_VIRTUAL_IO *sfvirtual, int mode, SF_INFO *sfinfo, void *user_data)
{
    return library().forwardOr<&Libsndfile::sf_open_virtual>(nullptr, sfvirtual, mode, sfinfo, user_data);
}

sf_count_t sf_readf_float(SNDFILE *sndfile, float *ptr, sf_count_t frames)
{
    return library().forwardOr<&Libsndfile::sf_readf_float>(0, sndfile, ptr, frames);
}

const char *sf_strerror(SNDFILE *sndfile)
{
    return library().forwardOr<&Libsndfile::sf_strerror>(Library::Reason{}, sndfile);
}

void sf_write_sync(SNDFILE *sndfile)
{
    library().forward<&Libsndfile::sf_write_sync>(sndfile);
}

sf_count_t sf_writef_float(SNDFILE *sndfile, const float *ptr, sf_count_t frames)
{
    return library().forwardOr<&Libsndfile::sf_writef_float>(0, sndfile, ptr, frames);
}

} // extern "C"
