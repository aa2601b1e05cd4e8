// libpocketsphinx (and libsphinxbase, which it loads), opened on the first call rather than with the
// executable, so that a launch shows its tray icon without loading them and the numeric libraries they
// bring. The first call is the speech model's load, on its own thread.
// The definitions below stand in for the libraries' own functions (the same names, with the
// signatures their headers declare) and forward to them. When the library cannot be opened, each
// answers as the library answers a failed call, so the caller's error path reports it; the reason is
// logged.
#include "platform/SharedLibrary.h"
#include "runtime/Log.h"

#include <pocketsphinx.h>
#include <sphinxbase/cmn.h>
#include <sphinxbase/err.h>
#include <sphinxbase/feat.h>
#include <sphinxbase/logmath.h>
#include <sphinxbase/ngram_model.h>

#include <array>
#include <cstdarg>
#include <tuple>

namespace {

using zq::platform::LibraryOnFirstUse;
using zq::platform::SharedLibrary;

// The most name and value pairs one cmd_ln_init() call hands on.
constexpr std::size_t kMostSettings = 32;

struct Libpocketsphinx {
    decltype(&::cmd_ln_int_r) cmd_ln_int_r = nullptr;
    decltype(&::cmd_ln_float_r) cmd_ln_float_r = nullptr;
    decltype(&::cmd_ln_free_r) cmd_ln_free_r = nullptr;
    decltype(&::cmd_ln_init) cmd_ln_init = nullptr;
    decltype(&::cmd_ln_parse_r) cmd_ln_parse_r = nullptr;
    decltype(&::cmn_live_get) cmn_live_get = nullptr;
    decltype(&::cmn_live_set) cmn_live_set = nullptr;
    decltype(&::cmn_live_update) cmn_live_update = nullptr;
    decltype(&::err_get_logfp) err_get_logfp = nullptr;
    decltype(&::err_set_logfp) err_set_logfp = nullptr;
    decltype(&::logmath_free) logmath_free = nullptr;
    decltype(&::logmath_init) logmath_init = nullptr;
    decltype(&::ngram_model_free) ngram_model_free = nullptr;
    decltype(&::ngram_model_get_counts) ngram_model_get_counts = nullptr;
    decltype(&::ngram_model_read) ngram_model_read = nullptr;
    decltype(&::ngram_model_set_init) ngram_model_set_init = nullptr;
    decltype(&::ngram_word) ngram_word = nullptr;
    decltype(&::ps_add_word) ps_add_word = nullptr;
    decltype(&::ps_args) ps_args = nullptr;
    decltype(&::ps_end_utt) ps_end_utt = nullptr;
    decltype(&::ps_free) ps_free = nullptr;
    decltype(&::ps_get_config) ps_get_config = nullptr;
    decltype(&::ps_get_feat) ps_get_feat = nullptr;
    decltype(&::ps_get_hyp) ps_get_hyp = nullptr;
    decltype(&::ps_get_logmath) ps_get_logmath = nullptr;
    decltype(&::ps_init) ps_init = nullptr;
    decltype(&::ps_lookup_word) ps_lookup_word = nullptr;
    decltype(&::ps_process_raw) ps_process_raw = nullptr;
    decltype(&::ps_set_lm) ps_set_lm = nullptr;
    decltype(&::ps_set_search) ps_set_search = nullptr;
    decltype(&::ps_start_utt) ps_start_utt = nullptr;
    decltype(&::ps_unset_search) ps_unset_search = nullptr;

    void bind(SharedLibrary &library)
    {
        library.bind(cmd_ln_int_r, "cmd_ln_int_r");
        library.bind(cmd_ln_float_r, "cmd_ln_float_r");
        library.bind(cmd_ln_free_r, "cmd_ln_free_r");
        library.bind(cmd_ln_init, "cmd_ln_init");
        library.bind(cmd_ln_parse_r, "cmd_ln_parse_r");
        library.bind(cmn_live_get, "cmn_live_get");
        library.bind(cmn_live_set, "cmn_live_set");
        library.bind(cmn_live_update, "cmn_live_update");
        library.bind(err_get_logfp, "err_get_logfp");
        library.bind(err_set_logfp, "err_set_logfp");
        library.bind(logmath_free, "logmath_free");
        library.bind(logmath_init, "logmath_init");
        library.bind(ngram_model_free, "ngram_model_free");
        library.bind(ngram_model_get_counts, "ngram_model_get_counts");
        library.bind(ngram_model_read, "ngram_model_read");
        library.bind(ngram_model_set_init, "ngram_model_set_init");
        library.bind(ngram_word, "ngram_word");
        library.bind(ps_add_word, "ps_add_word");
        library.bind(ps_args, "ps_args");
        library.bind(ps_end_utt, "ps_end_utt");
        library.bind(ps_free, "ps_free");
        library.bind(ps_get_config, "ps_get_config");
        library.bind(ps_get_feat, "ps_get_feat");
        library.bind(ps_get_hyp, "ps_get_hyp");
        library.bind(ps_get_logmath, "ps_get_logmath");
        library.bind(ps_init, "ps_init");
        library.bind(ps_lookup_word, "ps_lookup_word");
        library.bind(ps_process_raw, "ps_process_raw");
        library.bind(ps_set_lm, "ps_set_lm");
        library.bind(ps_set_search, "ps_set_search");
        library.bind(ps_start_utt, "ps_start_utt");
        library.bind(ps_unset_search, "ps_unset_search");
    }
};

const Libpocketsphinx *loaded()
{
    static const LibraryOnFirstUse<Libpocketsphinx> library(QByteArrayLiteral("libpocketsphinx.so.3"));
    return library.functions();
}

} // namespace

extern "C" {

long cmd_ln_int_r(cmd_ln_t *cmdln, char const *name)
{
    const auto *functions = loaded();
    return functions ? functions->cmd_ln_int_r(cmdln, name) : 0;
}

double cmd_ln_float_r(cmd_ln_t *cmdln, char const *name)
{
    const auto *functions = loaded();
    return functions ? functions->cmd_ln_float_r(cmdln, name) : 0;
}

int cmd_ln_free_r(cmd_ln_t *cmdln)
{
    const auto *functions = loaded();
    return functions ? functions->cmd_ln_free_r(cmdln) : -1;
}

// The library reads name and value pairs up to a null; they are handed on in as many arguments as
// it can be given here, the unused ones null.
cmd_ln_t *cmd_ln_init(cmd_ln_t *inout_cmdln, arg_t const *defn, int32 strict, ...)
{
    const auto *functions = loaded();
    if (!functions)
        return nullptr;
    std::array<const char *, kMostSettings * 2 + 1> pairs{};
    va_list arguments;
    va_start(arguments, strict);
    for (const char *&slot : pairs) {
        slot = va_arg(arguments, const char *);
        if (!slot)
            break;
    }
    va_end(arguments);
    if (pairs.back()) {
        qCWarning(lcLocalBackend) << "speech library: more settings than can be handed on";
        return nullptr;
    }
    return std::apply([&](auto... pair) { return functions->cmd_ln_init(inout_cmdln, defn, strict, pair...); }, pairs);
}

cmd_ln_t *cmd_ln_parse_r(cmd_ln_t *inout_cmdln, arg_t const *defn, int32 argc, char *argv[], int32 strict)
{
    const auto *functions = loaded();
    return functions ? functions->cmd_ln_parse_r(inout_cmdln, defn, argc, argv, strict) : nullptr;
}

void cmn_live_get(cmn_t *cmn, mfcc_t *vec)
{
    if (const auto *functions = loaded())
        functions->cmn_live_get(cmn, vec);
}

void cmn_live_set(cmn_t *cmn, mfcc_t const *vec)
{
    if (const auto *functions = loaded())
        functions->cmn_live_set(cmn, vec);
}

void cmn_live_update(cmn_t *cmn)
{
    if (const auto *functions = loaded())
        functions->cmn_live_update(cmn);
}

FILE *err_get_logfp(void)
{
    const auto *functions = loaded();
    return functions ? functions->err_get_logfp() : nullptr;
}

void err_set_logfp(FILE *stream)
{
    if (const auto *functions = loaded())
        functions->err_set_logfp(stream);
}

int logmath_free(logmath_t *lmath)
{
    const auto *functions = loaded();
    return functions ? functions->logmath_free(lmath) : -1;
}

logmath_t *logmath_init(float64 base, int shift, int use_table)
{
    const auto *functions = loaded();
    return functions ? functions->logmath_init(base, shift, use_table) : nullptr;
}

int ngram_model_free(ngram_model_t *model)
{
    const auto *functions = loaded();
    return functions ? functions->ngram_model_free(model) : -1;
}

uint32 const *ngram_model_get_counts(ngram_model_t *model)
{
    const auto *functions = loaded();
    return functions ? functions->ngram_model_get_counts(model) : nullptr;
}

ngram_model_t *ngram_model_read(cmd_ln_t *config, const char *file_name, ngram_file_type_t file_type, logmath_t *lmath)
{
    const auto *functions = loaded();
    return functions ? functions->ngram_model_read(config, file_name, file_type, lmath) : nullptr;
}

ngram_model_t *ngram_model_set_init(cmd_ln_t *config, ngram_model_t **models, char **names, const float32 *weights,
                                    int32 n_models)
{
    const auto *functions = loaded();
    return functions ? functions->ngram_model_set_init(config, models, names, weights, n_models) : nullptr;
}

const char *ngram_word(ngram_model_t *model, int32 wid)
{
    const auto *functions = loaded();
    return functions ? functions->ngram_word(model, wid) : nullptr;
}

int ps_add_word(ps_decoder_t *ps, char const *word, char const *phones, int update)
{
    const auto *functions = loaded();
    return functions ? functions->ps_add_word(ps, word, phones, update) : -1;
}

arg_t const *ps_args(void)
{
    const auto *functions = loaded();
    return functions ? functions->ps_args() : nullptr;
}

int ps_end_utt(ps_decoder_t *ps)
{
    const auto *functions = loaded();
    return functions ? functions->ps_end_utt(ps) : -1;
}

int ps_free(ps_decoder_t *ps)
{
    const auto *functions = loaded();
    return functions ? functions->ps_free(ps) : -1;
}

cmd_ln_t *ps_get_config(ps_decoder_t *ps)
{
    const auto *functions = loaded();
    return functions ? functions->ps_get_config(ps) : nullptr;
}

feat_t *ps_get_feat(ps_decoder_t *ps)
{
    const auto *functions = loaded();
    return functions ? functions->ps_get_feat(ps) : nullptr;
}

char const *ps_get_hyp(ps_decoder_t *ps, int32 *out_best_score)
{
    const auto *functions = loaded();
    return functions ? functions->ps_get_hyp(ps, out_best_score) : nullptr;
}

logmath_t *ps_get_logmath(ps_decoder_t *ps)
{
    const auto *functions = loaded();
    return functions ? functions->ps_get_logmath(ps) : nullptr;
}

ps_decoder_t *ps_init(cmd_ln_t *config)
{
    const auto *functions = loaded();
    return functions ? functions->ps_init(config) : nullptr;
}

char *ps_lookup_word(ps_decoder_t *ps, const char *word)
{
    const auto *functions = loaded();
    return functions ? functions->ps_lookup_word(ps, word) : nullptr;
}

int ps_process_raw(ps_decoder_t *ps, int16 const *data, size_t n_samples, int no_search, int full_utt)
{
    const auto *functions = loaded();
    return functions ? functions->ps_process_raw(ps, data, n_samples, no_search, full_utt) : -1;
}

int ps_set_lm(ps_decoder_t *ps, const char *name, ngram_model_t *lm)
{
    const auto *functions = loaded();
    return functions ? functions->ps_set_lm(ps, name, lm) : -1;
}

int ps_set_search(ps_decoder_t *ps, const char *name)
{
    const auto *functions = loaded();
    return functions ? functions->ps_set_search(ps, name) : -1;
}

int ps_start_utt(ps_decoder_t *ps)
{
    const auto *functions = loaded();
    return functions ? functions->ps_start_utt(ps) : -1;
}

int ps_unset_search(ps_decoder_t *ps, const char *name)
{
    const auto *functions = loaded();
    return functions ? functions->ps_unset_search(ps, name) : -1;
}

} // extern "C"
