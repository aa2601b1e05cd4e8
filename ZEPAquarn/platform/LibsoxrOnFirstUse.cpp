// libsoxr, opened on its first call rather than with the executable, so that a launch shows its tray
// icon without loading it.
// The definitions below stand in for the library's own functions (the same names, with the signatures
// its header declares) and forward to them. When the library cannot be opened, each answers as the
// library answers a failed call, so the caller's error path reports it; the reason is logged.
#include "platform/SharedLibrary.h"

#include <soxr.h>

namespace {

using zq::platform::LibraryOnFirstUse;
using zq::platform::SharedLibrary;

struct Libsoxr {
    decltype(&::soxr_clear) soxr_clear = nullptr;
    decltype(&::soxr_create) soxr_create = nullptr;
    decltype(&::soxr_delete) soxr_delete = nullptr;
    decltype(&::soxr_io_spec) soxr_io_spec = nullptr;
    decltype(&::soxr_process) soxr_process = nullptr;
    decltype(&::soxr_quality_spec) soxr_quality_spec = nullptr;

    void bind(SharedLibrary &library)
    {
        library.bind(soxr_clear, "soxr_clear");
        library.bind(soxr_create, "soxr_create");
        library.bind(soxr_delete, "soxr_delete");
        library.bind(soxr_io_spec, "soxr_io_spec");
        library.bind(soxr_process, "soxr_process");
        library.bind(soxr_quality_spec, "soxr_quality_spec");
    }
};

const LibraryOnFirstUse<Libsoxr> &library()
{
    static const LibraryOnFirstUse<Libsoxr> opened(QByteArrayLiteral("libsoxr.so.0"));
    return opened;
}

const Libsoxr *loaded()
{
    return library().functions();
}

const char *failureReason()
{
    return library().failureReason();
}

} // namespace

extern "C" {

soxr_error_t soxr_clear(soxr_t a0)
{
    const auto *functions = loaded();
    return functions ? functions->soxr_clear(a0) : failureReason();
}

soxr_t soxr_create(double input_rate, double output_rate, unsigned num_channels, soxr_error_t *a3,
                   soxr_io_spec_t const *a4, soxr_quality_spec_t const *a5, soxr_runtime_spec_t const *a6)
{
    if (const auto *functions = loaded())
        return functions->soxr_create(input_rate, output_rate, num_channels, a3, a4, a5, a6);
    if (a3)
        *a3 = failureReason();
    return nullptr;
}

void soxr_delete(soxr_t a0)
{
    if (const auto *functions = loaded())
        functions->soxr_delete(a0);
}

soxr_io_spec_t soxr_io_spec(soxr_datatype_t itype, soxr_datatype_t otype)
{
    const auto *functions = loaded();
    return functions ? functions->soxr_io_spec(itype, otype) : soxr_io_spec_t{};
}

soxr_error_t soxr_process(soxr_t resampler, soxr_in_t in, size_t ilen, size_t *idone, soxr_out_t out, size_t olen,
                          size_t *odone)
{
    const auto *functions = loaded();
    return functions ? functions->soxr_process(resampler, in, ilen, idone, out, olen, odone) : failureReason();
}

soxr_quality_spec_t soxr_quality_spec(unsigned long recipe, unsigned long flags)
{
    const auto *functions = loaded();
    return functions ? functions->soxr_quality_spec(recipe, flags) : soxr_quality_spec_t{};
}

} // extern "C"
