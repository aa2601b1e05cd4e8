#pragma once

#include "rewards/depth/DepthTier.h"

#include <QString>
#include <QUrl>

#include <optional>
#include <set>
#include <vector>

namespace zq {

// The four rungs of the depth ladder (the surface first, the deepest last), from the unlocked tiers.
struct DepthGaugeContent {
    struct Row {
        QString name; // also the row's identity
        QString depthLabel;
        QString stateLabel;
        bool isUnlocked = false;
        std::vector<Colorway> colorways;

        const QString &id() const { return name; }
        friend bool operator==(const Row &, const Row &) = default;
    };

    std::vector<Row> rows;

    explicit DepthGaugeContent(const std::set<DepthTier> &unlocked);
};

// The invite card's label, link and texts, from the invite code and its verified-download count.
struct InviteShareContent {
    QString actionLabel;
    std::optional<QUrl> shareURL; // none while there is no valid code
    std::optional<qint64> verifiedDownloads;
    QString disclosure;

    InviteShareContent(const std::optional<QString> &code, std::optional<qint64> verifiedDownloads);

    // "1 verified download", "n verified downloads", or none without a count.
    std::optional<QString> verifiedDownloadsText() const;

    friend bool operator==(const InviteShareContent &, const InviteShareContent &) = default;
};

} // namespace zq
