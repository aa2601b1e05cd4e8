#include "rewards/RewardsFont.h"

#include "menubar/brand/BrandFont.h"

namespace zq {

QFont rewardsFont(RewardsFace face, double pointSize, QFont::Weight weight, double tracking)
{
    const BrandWeight brandWeight = weight <= QFont::Light    ? BrandWeight::light
                                    : weight >= QFont::Medium ? BrandWeight::medium
                                                              : BrandWeight::regular;
    return brandTextStyle(face == RewardsFace::system, brandWeight, pointSize,
                          pointSize > 0 ? tracking / pointSize : 0.0);
}

} // namespace zq
