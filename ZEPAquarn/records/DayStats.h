#pragma once

#include <QtGlobal>

namespace zq {

// The committed takes of one calendar day. JSON keys "takes", "words", "speakingMs", all required.
struct DayStats {
    qint64 takes = 0;
    qint64 words = 0;
    qint64 speakingMs = 0;

    friend bool operator==(const DayStats &, const DayStats &) = default;
};

} // namespace zq
