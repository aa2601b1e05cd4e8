// A live switch from Light to Dark on a real X display, with the Welcome window and every page of the
// main window built before it: afterwards every text still stands out from what it is drawn on.
#include "app/ZEPAquarnApp.h"
#include "menubar/brand/Palette.h"
#include "menubar/brand/ZepaPopover.h"
#include "pipeline/DictationController.h"
#include "pipeline/SettingsDefaults.h"
#include "records/HistoryStore.h"
#include "support/Contrast.h"
#include "support/FakePasteboard.h"
#include "support/FakePermissionProbe.h"
#include "support/ServiceEnvironment.h"
#include "support/ViewRender.h"
#include "support/WindowTestSupport.h"
#include "window/AppWindowView.h"
#include "window/onboarding/OnboardingView.h"
#include "window/recorder/TriggerBindingRecorderView.h"
#include "window/settings/AppSettingsView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>

using namespace std::chrono_literals;
using namespace zq;

namespace {

// What a text looks like on screen: the colour most of its rectangle shows (what it is drawn on) and
// the pixel that stands out from that the most (the strokes of its glyphs).
struct Ink {
    QColor background;
    QColor text;
    double ratio = 1;
};

Ink inkIn(const QImage &image, const QRect &area)
{
    std::map<QRgb, int> counts;
    const QRect rect = area.intersected(image.rect());
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            ++counts[image.pixel(x, y) | 0xFF000000];
    if (counts.empty())
        return {};
    Ink ink;
    ink.background = QColor(
        std::max_element(counts.begin(), counts.end(), [](auto &a, auto &b) { return a.second < b.second; })->first);
    ink.text = ink.background;
    for (const auto &[rgb, count] : counts) {
        const double ratio = test::contrastRatio(QColor(rgb), ink.background);
        if (ratio > ink.ratio) {
            ink.ratio = ratio;
            ink.text = QColor(rgb);
        }
    }
    return ink;
}

// The visible text widgets of a window: labels, fields, text areas and buttons that say something.
QList<QWidget *> textWidgets(QWidget &window)
{
    QList<QWidget *> found;
    for (QWidget *widget : window.findChildren<QWidget *>()) {
        if (!widget->isVisibleTo(&window) || !widget->isEnabled() || widget->width() < 4 || widget->height() < 4)
            continue;
        // Scrolled out of sight: nothing of it is on the screen to probe.
        if (widget->visibleRegion().boundingRect().height() < widget->height())
            continue;
        if (const auto *label = qobject_cast<QLabel *>(widget); label && !label->text().trimmed().isEmpty())
            found << widget;
        else if (const auto *field = qobject_cast<QLineEdit *>(widget);
                 field && !(field->text() + field->placeholderText()).isEmpty())
            found << widget;
        else if (const auto *area = qobject_cast<QPlainTextEdit *>(widget); area && !area->toPlainText().isEmpty())
            found << widget;
        else if (const auto *button = qobject_cast<QAbstractButton *>(widget);
                 button && !button->text().trimmed().isEmpty())
            found << widget;
    }
    return found;
}

class LiveAppearanceSwitchIntegrationTest : public test::WindowAppFixture {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(test::requireService(QGuiApplication::platformName() == QLatin1String("xcb"), "no X display"));
        // Pages an earlier test replaced wait for their deletion over settings that are gone: the
        // palette change below would reach them.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        services.settings.setValue(keys::onboarded, false);
        services.settings.setValue(keys::appearance, QStringLiteral("light"));
        makeApp(appServices(&pasteboard));
        app->showScenes();
        app->controller().history().add(QStringLiteral("Meet Ada at the station at nine."));
    }

    void TearDown() override
    {
        services.settings.setValue(keys::appearance, QStringLiteral("system"));
        WindowAppFixture::TearDown();
        // The pages replaced here go while the settings they read are still alive.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // Lets layout and painting settle, grabs the window as the screen shows it and saves it.
    QImage shoot(QWidget &window, const QString &name)
    {
        for (int pass = 0; pass < 4; ++pass)
            QApplication::processEvents();
        const QImage image = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
        test::saveRender(image, name);
        return image;
    }

    // Every text of `window` against what it is drawn on: 4.5:1, or 3:1 for the faint tertiary
    // captions of the design, which the palette makes so in both schemes.
    void expectLegible(QWidget &window, const QString &name)
    {
        const QImage image = shoot(window, name);
        const QColor tertiary = Palette::color(Palette::textTertiary, colorSchemeOf(window));
        int probed = 0;
        for (QWidget *widget : textWidgets(window)) {
            const QRect area(widget->mapTo(&window, QPoint(0, 0)) * image.devicePixelRatio(),
                             widget->size() * image.devicePixelRatio());
            const Ink ink = inkIn(image, area);
            const bool faint = test::contrastRatio(ink.text, tertiary) < 1.15;
            const double least = faint ? 3.0 : 4.5;
            ++probed;
            EXPECT_GE(ink.ratio, least) << name.toStdString() << ": " << widget->metaObject()->className() << " \""
                                        << widget->objectName().toStdString() << "\" " << ink.text.name().toStdString()
                                        << " on " << ink.background.name().toStdString();
        }
        EXPECT_GT(probed, 0) << name.toStdString();
    }

    test::FakePasteboard pasteboard;
};

TEST_F(LiveAppearanceSwitchIntegrationTest, EveryTextBuiltInLightStaysLegibleAfterASwitchToDark)
{
    OnboardingView *welcome = app->onboardingWindow();
    ASSERT_NE(welcome, nullptr);
    ASSERT_TRUE(settle([&] { return welcome->isVisible(); }));

    // Every page built in light; the History search holds a query, so its text shows.
    app->openMainWindow();
    AppWindowView *window = app->mainWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(settle([&] { return window->isVisible(); }));
    for (const AppWindowSection section : allAppWindowSections) {
        app->windowModel().setSelection(section);
        QApplication::processEvents();
    }
    app->windowModel().setSelection(AppWindowSection::history);
    auto *search = window->findChild<QLineEdit *>(QStringLiteral("historySearch"));
    ASSERT_NE(search, nullptr);
    search->setText(QStringLiteral("Ada"));
    QApplication::processEvents();
    ASSERT_EQ(colorSchemeOf(*window), ColorScheme::light);

    services.settings.setValue(keys::appearance, QStringLiteral("dark"));
    ASSERT_TRUE(settle([&] { return colorSchemeOf(*window) == ColorScheme::dark; }));
    EXPECT_EQ(colorSchemeOf(*search), ColorScheme::dark);

    // The search field, with its text and then with its placeholder.
    expectLegible(*window, QStringLiteral("live-switch-dark-history"));
    const Ink typed = inkIn(shoot(*window, QStringLiteral("live-switch-dark-history")),
                            QRect(search->mapTo(window, QPoint(0, 0)), search->size()));
    EXPECT_GE(typed.ratio, 4.5) << "search text " << typed.text.name().toStdString();
    search->clear();
    const Ink placeholder = inkIn(shoot(*window, QStringLiteral("live-switch-dark-history-placeholder")),
                                  QRect(search->mapTo(window, QPoint(0, 0)), search->size()));
    EXPECT_GE(placeholder.ratio, 4.5) << "search placeholder " << placeholder.text.name().toStdString();

    for (const AppWindowSection section : allAppWindowSections) {
        if (section == AppWindowSection::history)
            continue;
        app->windowModel().setSelection(section);
        expectLegible(*window, QStringLiteral("live-switch-dark-") + rawValue(section));
    }
    // The scroll bar of a long page is drawn in the dark palette: no light track anywhere.
    app->windowModel().setSelection(AppWindowSection::faq);
    QScrollBar *bar = window->settingsView()->verticalScrollBar();
    window->resize(window->width(), 560);
    const QImage page = shoot(*window, QStringLiteral("live-switch-dark-faq-scrolled"));
    ASSERT_TRUE(bar->isVisible());
    const QRect track(bar->mapTo(window, QPoint(0, 0)), bar->size());
    const QColor background = Palette::color(Palette::windowBackground, ColorScheme::dark);
    int light = 0;
    for (int y = track.top(); y <= track.bottom(); ++y)
        for (int x = track.left(); x <= track.right(); ++x)
            light +=
                test::relativeLuminance(page.pixelColor(x, y)) > test::relativeLuminance(background) + 0.25 ? 1 : 0;
    EXPECT_EQ(light, 0) << "light pixels in the scroll bar";

    // The Welcome window and its recording popover, both built in light.
    expectLegible(*welcome, QStringLiteral("live-switch-dark-welcome"));
    TriggerBindingRecorderView *recorder = welcome->recorder();
    recorder->recordButton()->click();
    ASSERT_TRUE(settle([&] { return recorder->popup()->isVisible(); }));
    expectLegible(*recorder->popup(), QStringLiteral("live-switch-dark-recording-popover"));
    recorder->model().cancelRecording();
}

} // namespace
