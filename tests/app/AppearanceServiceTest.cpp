#include "app/AppearanceService.h"
#include "runtime/Settings.h"
#include "support/FakeDesktopAppearance.h"
#include "support/ViewRender.h"

#include <QApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

using zq::AppAppearance;
using zq::AppearanceService;
using zq::ColorScheme;
using zq::Palette;
using zq::test::FakeDesktopAppearance;

namespace {

const QString kAppearance = QStringLiteral("appearance");

struct AppearanceServiceTest : testing::Test {
    zq::rt::Settings settings{QString()};
    FakeDesktopAppearance desktop;

    void TearDown() override { zq::applyAppearance(*qApp, AppAppearance::system); }
};

// Fills itself with the page background of the scheme in effect where it draws.
class ProbeWindow : public QWidget {
public:
    QColor lastPainted;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        lastPainted = Palette::color(Palette::background, zq::colorSchemeOf(*this));
        painter.fillRect(rect(), lastPainted);
    }
};

} // namespace

TEST_F(AppearanceServiceTest, TheSettingForcesASchemeAndSystemFollowsTheDesktop)
{
    desktop.setColorScheme(ColorScheme::dark);
    AppearanceService service(settings, &desktop, nullptr);
    EXPECT_EQ(service.appearance(), AppAppearance::system);
    EXPECT_EQ(service.colorScheme(), ColorScheme::dark);

    settings.setValue(kAppearance, QStringLiteral("light"));
    EXPECT_EQ(service.colorScheme(), ColorScheme::light);
    desktop.setColorScheme(ColorScheme::light);
    settings.setValue(kAppearance, QStringLiteral("dark"));
    EXPECT_EQ(service.colorScheme(), ColorScheme::dark);

    // An unknown text follows the system; a desktop with no preference is light.
    settings.setValue(kAppearance, QStringLiteral("Dark"));
    EXPECT_EQ(service.appearance(), AppAppearance::system);
    EXPECT_EQ(service.colorScheme(), ColorScheme::light);
    desktop.setColorScheme(std::nullopt);
    EXPECT_EQ(service.colorScheme(), ColorScheme::light);

    // Without a desktop to ask, as when the application is built without one: light, with motion.
    desktop.setColorScheme(ColorScheme::dark);
    desktop.setReduceMotion(true);
    const AppearanceService alone(settings, nullptr, nullptr);
    EXPECT_EQ(alone.colorScheme(), ColorScheme::light);
    EXPECT_FALSE(alone.reduceMotion());
}

TEST_F(AppearanceServiceTest, ChangesAreSignalledOnlyWhenWhatViewsDrawChanges)
{
    settings.setValue(kAppearance, QStringLiteral("dark"));
    AppearanceService service(settings, &desktop, nullptr);
    QSignalSpy changed(&service, &AppearanceService::changed);

    // A forced scheme ignores the desktop's.
    desktop.setColorScheme(ColorScheme::light);
    EXPECT_EQ(changed.count(), 0);
    // Reduce motion comes from the desktop whatever the scheme.
    desktop.setReduceMotion(true);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_TRUE(service.reduceMotion());
    // Another key of the settings is not an appearance change.
    settings.setValue(QStringLiteral("soundCues"), false);
    EXPECT_EQ(changed.count(), 1);
    settings.setValue(kAppearance, QStringLiteral("system"));
    EXPECT_EQ(changed.count(), 2);
    EXPECT_EQ(service.colorScheme(), ColorScheme::light);
}

TEST_F(AppearanceServiceTest, TheApplicationPaletteCarriesTheScheme)
{
    desktop.setColorScheme(ColorScheme::dark);
    AppearanceService service(settings, &desktop, qApp);
    EXPECT_EQ(zq::colorSchemeOf(QApplication::palette()), ColorScheme::dark);
    settings.setValue(kAppearance, QStringLiteral("light"));
    EXPECT_EQ(zq::colorSchemeOf(QApplication::palette()), ColorScheme::light);
    // Back to system: the desktop prefers dark, so the palette is dark again.
    settings.setValue(kAppearance, QStringLiteral("system"));
    EXPECT_EQ(zq::colorSchemeOf(QApplication::palette()), ColorScheme::dark);
    desktop.setColorScheme(ColorScheme::light);
    EXPECT_EQ(zq::colorSchemeOf(QApplication::palette()), ColorScheme::light);
}

TEST_F(AppearanceServiceTest, SwitchingToDarkRepaintsAnOpenWindow)
{
    desktop.setColorScheme(ColorScheme::light);
    AppearanceService service(settings, &desktop, qApp);
    ProbeWindow window;
    window.resize(120, 80);
    window.show();
    const QColor light = Palette::color(Palette::background, ColorScheme::light);
    const QColor dark = Palette::color(Palette::background, ColorScheme::dark);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.lastPainted == light; }));

    settings.setValue(kAppearance, QStringLiteral("dark"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.lastPainted == dark; }));
    const QImage shot = zq::test::renderWidget(window, 2.0);
    zq::test::saveRender(shot, QStringLiteral("appearance-switch-dark"));
    EXPECT_TRUE(zq::test::sameColor(zq::test::pixelAt(shot, {60, 40}), dark));
}
