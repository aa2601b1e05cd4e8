#pragma once

#include <QString>

namespace zq {

// One element of a transcription stream: the text recognised so far (`partial`, replacing the
// previous partial text) or the complete transcript of the take (`final`).
struct TranscriptUpdate {
    enum class Kind { partial, final };

    Kind kind = Kind::partial;
    QString text;

    static TranscriptUpdate partial(QString text) { return {Kind::partial, std::move(text)}; }
    static TranscriptUpdate final(QString text) { return {Kind::final, std::move(text)}; }

    bool isFinal() const { return kind == Kind::final; }

    friend bool operator==(const TranscriptUpdate &, const TranscriptUpdate &) = default;
};

} // namespace zq
