#pragma once

#include "platform/linux/speech/PocketSphinxDecoder.h"

#include <QString>

#include <optional>
#include <vector>

namespace zq::platform {

// One speech model found on disk: the locale it is for ("en-US") and its files.
struct InstalledSpeechModel {
    QString locale;
    PocketSphinxModel files;

    // The locale's language code ("en").
    QString language() const;
};

// The folder that holds the installed speech models, one sub-folder per locale as Debian's
// model packages lay them out (…/model/en-us/ with the acoustic model folder "en-us", the
// language model "en-us.lm.bin" and a pronunciation dictionary "*.dict").
class PocketSphinxModelFolder {
public:
    static QString systemFolder();

    // The complete models under `folder`, sorted by locale; one per language (the first found).
    // A sub-folder whose name is no locale, or that lacks one of the three parts, is skipped.
    static std::vector<InstalledSpeechModel> scan(const QString &folder);
    // The model of one sub-folder, if it is complete.
    static std::optional<InstalledSpeechModel> inspect(const QString &modelFolder);
};

} // namespace zq::platform
