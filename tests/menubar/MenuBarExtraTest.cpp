#include "menubar/MenuBarExtra.h"

#include <QImage>
#include <QPushButton>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

int maximumAlpha(const QIcon &icon)
{
    const QImage image = icon.pixmap(18, 18).toImage().convertToFormat(QImage::Format_ARGB32);
    int alpha = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            alpha = std::max(alpha, qAlpha(image.pixel(x, y)));
    return alpha;
}

QPushButton *button(QWidget *panel, const QString &text)
{
    for (auto *candidate : panel->findChildren<QPushButton *>()) {
        if (candidate->text() == text)
            return candidate;
    }
    return nullptr;
}

} // namespace

TEST(MenuBarExtraTest, IconIsDimmedWhileTheTriggerIsNotRunning)
{
    zq::MenuBarExtra extra({});
    const int full = maximumAlpha(extra.icon());
    extra.setTapRunning(false);
    EXPECT_TRUE(extra.isDimmed());
    const int dimmed = maximumAlpha(extra.icon());
    EXPECT_GT(full, 240);
    EXPECT_NEAR(dimmed, full * 0.55, 6) << "dimmed to 0.55";
    extra.setTapRunning(true);
    EXPECT_EQ(maximumAlpha(extra.icon()), full);
}

TEST(MenuBarExtraTest, PanelOffersTheCommandsAndDisablesTheUpdateCheckWhileChecking)
{
    bool checking = false;
    int checks = 0, settingsOpened = 0, quits = 0;
    zq::MenuBarExtra extra({[&] { ++checks; }, [&] { return checking; }, [&] { ++settingsOpened; }, [&] { ++quits; }});
    extra.openPanel();
    QWidget *panel = extra.panel();
    ASSERT_TRUE(panel->isVisible());
    auto *check = button(panel, QStringLiteral("Check for Updates…"));
    auto *settings = button(panel, QStringLiteral("Settings…"));
    auto *quit = button(panel, QStringLiteral("Quit ZEPA QUARN"));
    ASSERT_TRUE(check && settings && quit);
    EXPECT_TRUE(check->isEnabled());
    check->click();
    settings->click();
    quit->click();
    EXPECT_EQ(checks, 1);
    EXPECT_EQ(settingsOpened, 1);
    EXPECT_EQ(quits, 1);
    EXPECT_FALSE(panel->isVisible()) << "a command closes the panel";

    checking = true;
    extra.openPanel();
    EXPECT_FALSE(check->isEnabled()) << "disabled exactly while checking";
}
