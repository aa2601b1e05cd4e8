#include "rewards/RewardsFont.h"

namespace zq {

QFont rewardsFont(RewardsFace face, double pointSize, QFont::Weight weight, double tracking)
{
    QFont font;
    if (face == RewardsFace::brand) {
        // The brand family when it is installed, else the system's monospaced face.
        font.setFamilies(QStringList{QStringLiteral("Chivo Mono"), QStringLiteral("monospace")});
        font.setStyleHint(QFont::Monospace);
        font.setFixedPitch(true);
    }
    // A point is a logical pixel here, whatever the screen's or the image's resolution.
    font.setPixelSize(qMax(1, qRound(pointSize)));
    font.setWeight(weight);
    font.setLetterSpacing(QFont::AbsoluteSpacing, tracking);
    return font;
}

} // namespace zq
