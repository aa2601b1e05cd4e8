#pragma once

#include "runtime/Result.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace zq::platform {

// What a decoder has learnt about the microphone and voice: the mean of the cepstra it has heard,
// which it subtracts from every frame (cepstral mean normalisation). A decoder that starts from the
// model's stock value mishears its first phrase until it has heard a few seconds, so the estimate
// is kept in the state folder and the next launch starts where this one ended.
//
// The file is small JSON: {"model": "<model fingerprint>", "cepstralMean": [13 numbers]}. An
// estimate only fits the model whose front end made it, so the fingerprint is checked on reading.
struct PocketSphinxChannelEstimate {
    QString model;
    std::vector<float> cepstralMean;

    QByteArray encode() const;
    // The estimate in `data` if it is whole and was made by `model` with `length` values; otherwise
    // none, with the reason (not the contents) in `why`.
    static std::optional<PocketSphinxChannelEstimate> decode(const QByteArray &data, const QString &model,
                                                             std::size_t length, QString *why = nullptr);

    // Reads the file; a missing file gives none quietly, an unusable one gives none with a log line.
    static std::optional<PocketSphinxChannelEstimate> read(const QString &path, const QString &model,
                                                           std::size_t length);
    // Replaces the file atomically.
    [[nodiscard]] rt::Result<void> write(const QString &path) const;

    friend bool operator==(const PocketSphinxChannelEstimate &, const PocketSphinxChannelEstimate &) = default;
};

} // namespace zq::platform
