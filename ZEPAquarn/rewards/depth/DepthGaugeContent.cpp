#include "rewards/depth/DepthGaugeContent.h"

#include "rewards/depth/InviteService.h"

namespace zq {

namespace {

struct TierTexts {
    DepthTier tier;
    const char16_t *name;
    const char16_t *depthLabel;
    const char16_t *colorwayPhrase;
};

// The depth labels start with a minus sign (U+2212), not a hyphen.
constexpr TierTexts kTierTexts[] = {
    {DepthTier::shallows, u"Shallows", u"\u22121", u"1 colorway"},
    {DepthTier::twilight, u"Twilight", u"\u22123", u"2 colorways"},
    {DepthTier::abyss, u"Abyss", u"\u22125", u"no color"},
};

} // namespace

DepthGaugeContent::DepthGaugeContent(const std::set<DepthTier> &unlocked)
{
    rows.push_back({QStringLiteral("Surface"),
                    QStringLiteral("0 m"),
                    QStringLiteral("Shipped \u00B7 everyone"),
                    true,
                    {Colorway::consensusMint}});
    for (const TierTexts &texts : kTierTexts) {
        const bool isUnlocked = unlocked.count(texts.tier) > 0;
        const QString prefix = isUnlocked ? QStringLiteral("Unlocked \u00B7 ") : QStringLiteral("Locked \u00B7 ");
        rows.push_back({QString::fromUtf16(texts.name), QString::fromUtf16(texts.depthLabel),
                        prefix + QString::fromUtf16(texts.colorwayPhrase), isUnlocked, colorwaysOf(texts.tier)});
    }
}

InviteShareContent::InviteShareContent(const std::optional<QString> &code, std::optional<qint64> count)
    : verifiedDownloads(count),
      disclosure(QStringLiteral("Creating a link asks ") + InviteService::host() +
                 QStringLiteral(" for a six-character code. No audio, transcripts, history, or device identifier is "
                                "sent. Afterward ZEPA QUARN checks only that code\u2019s verified-download count."))
{
    if (code && InviteService::isInviteCode(*code)) {
        actionLabel = QStringLiteral("Copy invite link");
        shareURL = QUrl(QStringLiteral("https://") + InviteService::host() + QStringLiteral("/i/") + *code);
    } else {
        actionLabel = QStringLiteral("Create invite link");
    }
}

std::optional<QString> InviteShareContent::verifiedDownloadsText() const
{
    if (!verifiedDownloads)
        return std::nullopt;
    if (*verifiedDownloads == 1)
        return QStringLiteral("1 verified download");
    return QString::number(*verifiedDownloads) + QStringLiteral(" verified downloads");
}

} // namespace zq
