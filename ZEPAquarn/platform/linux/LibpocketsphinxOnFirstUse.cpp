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

// The most name and value pairs one cmd_ln_init() call hands on.
constexpr std::size_t kMostSettings = 32;

#define LIBPOCKETSPHINX_FUNCTIONS(X)                                                                                   \
    X(cmd_ln_int_r)                                                                                                    \
    X(cmd_ln_float_r)                                                                                                  \
    X(cmd_ln_free_r)                                                                                                   \
    X(cmd_ln_init)                                                                                                     \
    X(cmd_ln_parse_r)                                                                                                  \
    X(cmn_live_get)                                                                                                    \
    X(cmn_live_set)                                                                                                    \
    X(cmn_live_update)                                                                                                 \
    X(err_get_logfp)                                                                                                   \
    X(err_set_logfp)                                                                                                   \
    X(logmath_free)                                                                                                    \
    X(logmath_init)                                                                                                    \
    X(ngram_model_free)                                                                                                \
    X(ngram_model_get_counts)                                                                                          \
    X(ngram_model_read)                                                                                                \
    X(ngram_model_set_init)                                                                                            \
    X(ngram_word)                                                                                                      \
    X(ps_add_word)                                                                                                     \
    X(ps_args)                                                                                                         \
    X(ps_end_utt)                                                                                                      \
    X(ps_free)                                                                                                         \
    X(ps_get_config)                                                                                                   \
    X(ps_get_feat)                                                                                                     \
    X(ps_get_hyp)                                                                                                      \
    X(ps_get_in_speech)                                                                                                \
    X(ps_get_logmath)                                                                                                  \
    X(ps_init)                                                                                                         \
    X(ps_lookup_word)                                                                                                  \
    X(ps_process_raw)                                                                                                  \
    X(ps_set_lm)                                                                                                       \
    X(ps_set_search)                                                                                                   \
    X(ps_start_utt)                                                                                                    \
    X(ps_unset_search)
ZQ_LIBRARY_ON_FIRST_USE(Libpocketsphinx, LIBPOCKETSPHINX_FUNCTIONS, "libpocketsphinx.so.3");

} // namespace

extern "C" {

long cmd_ln_int_r(cmd_ln_t *cmdln, char const *name)
{
    return library().forwardOr<&Libpocketsphinx::cmd_ln_int_r>(0, cmdln, name);
}

double cmd_ln_float_r(cmd_ln_t *cmdln, char const *name)
{
    return library().forwardOr<&Libpocketsphinx::cmd_ln_float_r>(0, cmdln, name);
}

int cmd_ln_free_r(cmd_ln_t *cmdln)
{
    return library().forwardOr<&Libpocketsphinx::cmd_ln_free_r>(-1, cmdln);
}

// The library reads name and value pairs up to a null; they are handed on in as many arguments as
// it can be given here, the unused ones null.
cmd_ln_t *cmd_ln_init(cmd_ln_t *inout_cmdln, arg_t const *defn, int32 strict, ...)
{
    const auto *functions = library().functions();
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
    return library().forwardOr<&Libpocketsphinx::cmd_ln_parse_r>(nullptr, inout_cmdln, defn, argc, argv, strict);
}

void cmn_live_get(cmn_t *cmn, mfcc_t *vec)
{
    library().forward<&Libpocketsphinx::cmn_live_get>(cmn, vec);
}

void cmn_live_set(cmn_t *cmn, mfcc_t const *vec)
{
    library().forward<&Libpocketsphinx::cmn_live_set>(cmn, vec);
}

void cmn_live_update(cmn_t *cmn)
{
    library().forward<&Libpocketsphinx::cmn_live_update>(cmn);
}

FILE *err_get_logfp(void)
{
    return library().forwardOr<&Libpocketsphinx::err_get_logfp>(nullptr);
}

void err_set_logfp(FILE *stream)
{
    library().forward<&Libpocketsphinx::err_set_logfp>(stream);
}

int logmath_free(logmath_t *lmath)
{
    return library().forwardOr<&Libpocketsphinx::logmath_free>(-1, lmath);
}

logmath_t *logmath_init(float64 base, int shift, int use_table)
{
    return library().forwardOr<&Libpocketsphinx::logmath_init>(nullptr, base, shift, use_table);
}

int ngram_model_free(ngram_model_t *model)
{
    return library().forwardOr<&Libpocketsphinx::ngram_model_free>(-1, model);
}

uint32 const *ngram_model_get_counts(ngram_model_t *model)
{
    return library().forwardOr<&Libpocketsphinx::ngram_model_get_counts>(nullptr, model);
}

ngram_model_t *ngram_model_read(cmd_ln_t *config, const char *file_name, ngram_file_type_t file_type, logmath_t *lmath)
{
    return library().forwardOr<&Libpocketsphinx::ngram_model_read>(nullptr, config, file_name, file_type, lmath);
}

ngram_model_t *ngram_model_set_init(cmd_ln_t *config, ngram_model_t **models, char **names, const float32 *weights,
                                    int32 n_models)
{
    return library().forwardOr<&Libpocketsphinx::ngram_model_set_init>(nullptr, config, models, names, weights,
                                                                       n_models);
}

const char *ngram_word(ngram_model_t *model, int32 wid)
{
    return library().forwardOr<&Libpocketsphinx::ngram_word>(nullptr, model, wid);
}

int ps_add_word(ps_decoder_t *ps, char const *word, char const *phones, int update)
{
    return library().forwardOr<&Libpocketsphinx::ps_add_word>(-1, ps, word, phones, update);
}

arg_t const *ps_args(void)
{
    return library().forwardOr<&Libpocketsphinx::ps_args>(nullptr);
}

int ps_end_utt(ps_decoder_t *ps)
{
    return library().forwardOr<&Libpocketsphinx::ps_end_utt>(-1, ps);
}

int ps_free(ps_decoder_t *ps)
{
    return library().forwardOr<&Libpocketsphinx::ps_free>(-1, ps);
}

cmd_ln_t *ps_get_config(ps_decoder_t *ps)
{
    return library().forwardOr<&Libpocketsphinx::ps_get_config>(nullptr, ps);
}

feat_t *ps_get_feat(ps_decoder_t *ps)
{
    return library().forwardOr<&Libpocketsphinx::ps_get_feat>(nullptr, ps);
}

uint8 ps_get_in_speech(ps_decoder_t *ps)
{
    return library().forwardOr<&Libpocketsphinx::ps_get_in_speech>(uint8{0}, ps);
}

char const *ps_get_hyp(ps_decoder_t *ps, int32 *out_best_score)
{
    return library().forwardOr<&Libpocketsphinx::ps_get_hyp>(nullptr, ps, out_best_score);
}

logmath_t *ps_get_logmath(ps_decoder_t *ps)
{
    return library().forwardOr<&Libpocketsphinx::ps_get_logmath>(nullptr, ps);
}

ps_decoder_t *ps_init(cmd_ln_t *config)
{
    return library().forwardOr<&Libpocketsphinx::ps_init>(nullptr, config);
}

char *ps_lookup_word(ps_decoder_t *ps, const char *word)
{
    return library().forwardOr<&Libpocketsphinx::ps_lookup_word>(nullptr, ps, word);
}

int ps_process_raw(ps_decoder_t *ps, int16 const *data, size_t n_samples, int no_search, int full_utt)
{
    return library().forwardOr<&Libpocketsphinx::ps_process_raw>(-1, ps, data, n_samples, no_search, full_utt);
}

int ps_set_lm(ps_decoder_t *ps, const char *name, ngram_model_t *lm)
{
    return library().forwardOr<&Libpocketsphinx::ps_set_lm>(-1, ps, name, lm);
}

int ps_set_search(ps_decoder_t *ps, const char *name)
{
    return library().forwardOr<&Libpocketsphinx::ps_set_search>(-1, ps, name);
}

int ps_start_utt(ps_decoder_t *ps)
{
    return library().forwardOr<&Libpocketsphinx::ps_start_utt>(-1, ps);
}

int ps_unset_search(ps_decoder_t *ps, const char *name)
{
    return library().forwardOr<&Libpocketsphinx::ps_unset_search>(-1, ps, name);
}

} // extern "C"
