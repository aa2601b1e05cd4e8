// The least a program does to have the packaged English speech model ready for a first take, with the
// application's search settings: the acoustic model and a pronunciation dictionary (the file its
// argument names, or the model's whole one) read by the decoder while the language model is read on a
// second thread, then the search over that language model. It says "speech model ready" on stderr and
// waits to be ended. The start-up benchmark launches it beside the application as the floor of the
// recogniser's own load.
#include <pocketsphinx.h>
#include <sphinxbase/err.h>
#include <sphinxbase/logmath.h>
#include <sphinxbase/ngram_model.h>

#include <cstdio>
#include <string>
#include <thread>

#include <unistd.h>

int main(int argc, char **argv)
{
    err_set_logfp(nullptr);
    const std::string base = "/usr/share/pocketsphinx/model/en-us/";
    const std::string acoustic = base + "en-us";
    const std::string languageModel = base + "en-us.lm.bin";
    const std::string dictionary = argc > 1 ? std::string(argv[1]) : base + "cmudict-en-us.dict";
    cmd_ln_t *config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", acoustic.c_str(), "-dict", dictionary.c_str(),
                                   "-fwdflat", "no", "-bestpath", "no", nullptr);
    cmd_ln_t *readerConfig = cmd_ln_init(nullptr, ps_args(), TRUE, nullptr);
    if (!config || !readerConfig)
        return 1;
    logmath_t *logMath = logmath_init(static_cast<float64>(cmd_ln_float32_r(config, "-logbase")), 0, FALSE);
    ngram_model_t *model = nullptr;
    std::thread reader([&] { model = ngram_model_read(readerConfig, languageModel.c_str(), NGRAM_AUTO, logMath); });
    ps_decoder_t *decoder = ps_init(config);
    reader.join();
    if (!decoder || !model || ps_set_lm(decoder, "default", model) < 0 || ps_set_search(decoder, "default") < 0)
        return 1;
    std::fputs("speech model ready\n", stderr);
    ::pause();
    return 0;
}
