// libsoxr, opened on its first call rather than with the executable, so that a launch shows its tray
// icon without loading it.
// The definitions below stand in for the library's own functions (the same names, with the signatures
// its header declares) and forward to them. When the library cannot be opened, each answers as the
// library answers a failed call, so the caller's error path reports it; the reason is logged.
#include "platform/SharedLibrary.h"

#include <soxr.h>

namespace {

#define LIBSOXR_FUNCTIONS(X)                                                                                           \
    X(soxr_clear)                                                                                                      \
    X(soxr_create)                                                                                                     \
    X(soxr_delete)                                                                                                     \
    X(soxr_io_spec)                                                                                                    \
    X(soxr_process)                                                                                                    \
    X(soxr_quality_spec)
ZQ_LIBRARY_ON_FIRST_USE(Libsoxr, LIBSOXR_FUNCTIONS, "libsoxr.so.0");

} // namespace

extern "C" {

soxr_error_t soxr_clear(soxr_t a0)
{
    return library().forwardOr<&Libsoxr::soxr_clear>(Library::Reason{}, a0);
}

soxr_t soxr_create(double input_rate, double output_rate, unsigned num_channels, soxr_error_t *a3,
                   soxr_io_spec_t const *a4, soxr_quality_spec_t const *a5, soxr_runtime_spec_t const *a6)
{
    if (const auto *functions = library().functions())
        return functions->soxr_create(input_rate, output_rate, num_channels, a3, a4, a5, a6);
    if (a3)
        *a3 = library().failureReason();
    return nullptr;
}

void soxr_delete(soxr_t a0)
{
    library().forward<&Libsoxr::soxr_delete>(a0);
}

soxr_io_spec_t soxr_io_spec(soxr_datatype_t itype, soxr_datatype_t otype)
{
    return library().forwardOr<&Libsoxr::soxr_io_spec>(soxr_io_spec_t{}, itype, otype);
}

soxr_error_t soxr_process(soxr_t resampler, soxr_in_t in, size_t ilen, size_t *idone, soxr_out_t out, size_t olen,
                          size_t *odone)
{
    return library().forwardOr<&Libsoxr::soxr_process>(Library::Reason{}, resampler, in, ilen, idone, out, olen, odone);
}

soxr_quality_spec_t soxr_quality_spec(unsigned long recipe, unsigned long flags)
{
    return library().forwardOr<&Libsoxr::soxr_quality_spec>(soxr_quality_spec_t{}, recipe, flags);
}

} // extern "C"
