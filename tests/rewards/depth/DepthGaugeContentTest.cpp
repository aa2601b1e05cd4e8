#include "rewards/depth/DepthGaugeContent.h"
#include "rewards/depth/InviteService.h"

#include <gtest/gtest.h>

using namespace zq;

namespace {

QStringList stateLabels(const DepthGaugeContent &content)
{
    QStringList labels;
    for (const auto &row : content.rows)
        labels.append(row.stateLabel);
    return labels;
}

} // namespace

TEST(DepthGaugeContentTest, LadderRowsWithTheirExactCharacters)
{
    const DepthGaugeContent fresh({});
    ASSERT_EQ(fresh.rows.size(), 4u);
    QStringList names, depths;
    for (const auto &row : fresh.rows) {
        names.append(row.id());
        depths.append(row.depthLabel);
    }
    EXPECT_EQ(names, (QStringList{"Surface", "Shallows", "Twilight", "Abyss"}));
    // Minus signs (U+2212), not hyphens; the surface is the digit zero, a space and "m".
    EXPECT_EQ(depths, (QStringList{"0 m", QString::fromUtf8("−1"), QString::fromUtf8("−3"), QString::fromUtf8("−5")}));
    EXPECT_EQ(fresh.rows[1].depthLabel.at(0).unicode(), 0x2212);
    EXPECT_EQ(stateLabels(fresh),
              (QStringList{QString::fromUtf8("Shipped · everyone"), QString::fromUtf8("Locked · 1 colorway"),
                           QString::fromUtf8("Locked · 2 colorways"), QString::fromUtf8("Locked · no color")}));
    EXPECT_EQ(fresh.rows[1].stateLabel.at(7).unicode(), 0x00B7) << "a middle dot";
    EXPECT_TRUE(fresh.rows[0].isUnlocked);
    EXPECT_EQ(fresh.rows[0].colorways, std::vector<Colorway>{Colorway::consensusMint});
    EXPECT_EQ(fresh.rows[2].colorways, (std::vector<Colorway>{Colorway::agentTeal, Colorway::deepOrbit}));
    EXPECT_EQ(fresh.rows[3].colorways, (std::vector<Colorway>{Colorway::systemGray, Colorway::monochrome}));

    const DepthGaugeContent all({DepthTier::shallows, DepthTier::twilight, DepthTier::abyss});
    EXPECT_EQ(stateLabels(all),
              (QStringList{QString::fromUtf8("Shipped · everyone"), QString::fromUtf8("Unlocked · 1 colorway"),
                           QString::fromUtf8("Unlocked · 2 colorways"), QString::fromUtf8("Unlocked · no color")}));
    EXPECT_EQ(all.rows[0], fresh.rows[0]) << "the surface never changes";

    const DepthGaugeContent twilight({DepthTier::twilight});
    EXPECT_FALSE(twilight.rows[1].isUnlocked) << "rungs do not depend on each other";
    EXPECT_TRUE(twilight.rows[2].isUnlocked);
    EXPECT_FALSE(twilight.rows[3].isUnlocked);
    EXPECT_NE(twilight.rows[2], fresh.rows[2]);
}

TEST(DepthGaugeContentTest, InviteCardFollowsTheCode)
{
    const InviteShareContent none(std::nullopt, std::nullopt);
    EXPECT_EQ(none.actionLabel, "Create invite link");
    EXPECT_FALSE(none.shareURL);

    for (const QString &bad : QStringList{"7K3M9", "7K3M9QQ", "7k3m9q", "7K3O9Q", ""}) {
        const InviteShareContent content(bad, 3);
        EXPECT_EQ(content.actionLabel, "Create invite link") << bad.toStdString();
        EXPECT_FALSE(content.shareURL) << bad.toStdString();
    }

    const InviteShareContent valid(QStringLiteral("7K3M9Q"), std::nullopt);
    EXPECT_EQ(valid.actionLabel, "Copy invite link");
    ASSERT_TRUE(valid.shareURL);
    EXPECT_EQ(valid.shareURL->toString(), "https://" + InviteService::host() + "/i/7K3M9Q");
    EXPECT_EQ(valid.shareURL->path(), "/i/7K3M9Q");
}

TEST(DepthGaugeContentTest, CountPhraseAndDisclosure)
{
    EXPECT_FALSE(InviteShareContent(std::nullopt, std::nullopt).verifiedDownloadsText());
    EXPECT_EQ(InviteShareContent(std::nullopt, 0).verifiedDownloadsText(), "0 verified downloads");
    EXPECT_EQ(InviteShareContent(std::nullopt, 1).verifiedDownloadsText(), "1 verified download");
    EXPECT_EQ(InviteShareContent(std::nullopt, 2).verifiedDownloadsText(), "2 verified downloads");
    EXPECT_EQ(InviteShareContent(std::nullopt, -3).verifiedDownloadsText(), "-3 verified downloads");

    const InviteShareContent a(std::nullopt, std::nullopt);
    const InviteShareContent b(QStringLiteral("7K3M9Q"), 9);
    EXPECT_EQ(a.disclosure, b.disclosure) << "the same whatever the code and count";
    EXPECT_EQ(a.disclosure,
              "Creating a link asks " + InviteService::host() +
                  QString::fromUtf8(" for a six-character code. No audio, transcripts, history, or device "
                                    "identifier is sent. Afterward ZEPA QUARN checks only that code’s "
                                    "verified-download count."));
    EXPECT_EQ(InviteShareContent(std::nullopt, std::nullopt), a);
    EXPECT_NE(InviteShareContent(std::nullopt, 0), a) << "an absent and a present count differ";
}
