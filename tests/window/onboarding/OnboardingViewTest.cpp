// The first-run window and the trigger recorder as widgets: a few probes of what shows, what the
// keys do, and renders under build/view-renders/.
#include "window/onboarding/OnboardingView.h"
#include "menubar/brand/Motion.h"
#include "menubar/brand/Palette.h"
#include "menubar/brand/ZepaMenuPicker.h"
#include "menubar/brand/ZepaSpinner.h"
#include "pipeline/TriggerRecordingGate.h"
#include "platform/linux/x11/X11KeyCodes.h"
#include "runtime/Settings.h"
#include "support/FakePermissionProbe.h"
#include "support/ViewRender.h"
#include "support/VirtualLoop.h"
#include "window/recorder/TriggerBindingRecorderView.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QWindow>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

using namespace std::chrono_literals;
using zq::OnboardingContent;
using zq::OnboardingView;
using zq::test::FakePermissionProbe;

namespace {

QImage saveRender(QWidget &widget, const QString &name)
{
    const QImage image = zq::test::renderWidget(widget);
    EXPECT_FALSE(zq::test::saveRender(image, name).isEmpty());
    return image;
}

// Whether a status mark inside `window`'s render is drawn in `token`.
bool markDrawnIn(const QImage &render, QWidget *window, QWidget *mark, zq::Palette::Token token)
{
    const QRect at(mark->mapTo(window, QPoint(0, 0)), mark->size());
    const QRectF inked = zq::test::colorBounds(render.copy(at), zq::Palette::color(token, zq::ColorScheme::light), 8);
    return inked.width() >= mark->width() / 2 && inked.height() >= mark->height() / 2;
}

// X key codes of Escape and F5 on an evdev keyboard.
constexpr std::uint32_t kXEscape = 9, kXF5 = 71;

std::optional<zq::platform::KeyboardMap> keyboardMap()
{
    zq::platform::KeyboardMap map = FakePermissionProbe::keyboardWithFn(false);
    map.logicalCodes[kXEscape] = *zq::platform::x11::logicalKeyCode("ESC");
    map.logicalCodes[kXF5] = *zq::platform::x11::logicalKeyCode("FK05");
    return map;
}

class OnboardingViewTest : public ::testing::Test {
protected:
    std::unique_ptr<OnboardingView> make()
    {
        auto *model = new zq::OnboardingModel(settings, probe, loop, [this] { ++doneCalls; });
        auto view = std::make_unique<OnboardingView>(
            *model, zq::makeSettingsTriggerRecorder(zq::TriggerRecorderServices{loop, &gate, &keyboardMap}, settings));
        model->setParent(view.get());
        animations.provide(*view);
        view->show();
        view->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(view.get()));
        return view;
    }

    zq::test::VirtualLoop loop;
    zq::Motion animations{loop};
    zq::rt::Settings settings{QString()};
    FakePermissionProbe probe;
    zq::TriggerRecordingGate gate;
    int doneCalls = 0;
};

TEST_F(OnboardingViewTest, AllChecksGrantedShowNoButtonsAndReturnIsDone)
{
    probe.keyboard = FakePermissionProbe::keyboardWithFn(true);
    auto view = make();
    EXPECT_EQ(view->windowTitle(), QStringLiteral("Welcome"));
    EXPECT_EQ(view->width(), 480);
    // Placed before it had a frame to measure, it allows for a title bar: centred to within half of one.
    const QPoint offCentre = view->frameGeometry().center() - view->screen()->availableGeometry().center();
    EXPECT_TRUE(std::abs(offCentre.x()) <= 2 && std::abs(offCentre.y()) <= 16)
        << "opens centred on the screen with the pointer, not " << offCentre.x() << "," << offCentre.y() << " off";
    for (const auto which :
         {OnboardingContent::microphone, OnboardingContent::inputMonitoring, OnboardingContent::accessibility}) {
        EXPECT_FALSE(view->row(which).button->isVisible());
        EXPECT_TRUE(view->row(which).icon->property("done").toBool());
    }
    EXPECT_EQ(view->triggerRow().detail->text(), QStringLiteral("Hold Fn to talk; tap it to lock."));
    EXPECT_FALSE(view->keyboardSettingsButton()->isVisible());
    const QImage render = saveRender(*view, QStringLiteral("onboarding-granted"));
    EXPECT_TRUE(markDrawnIn(render, view.get(), view->row(OnboardingContent::microphone).icon, zq::Palette::success));
    EXPECT_TRUE(zq::test::sameColor(zq::test::pixelAt(render, QPointF(4, 4)),
                                    zq::Palette::color(zq::Palette::windowBackground, zq::ColorScheme::light)));

    // Every title, the trigger's included, and the recorder below start on one line.
    const auto left = [&](QWidget *widget) { return widget->mapTo(view.get(), QPoint(0, 0)).x(); };
    const int titles = left(view->row(OnboardingContent::microphone).title);
    EXPECT_EQ(left(view->row(OnboardingContent::accessibility).title), titles);
    EXPECT_EQ(left(view->triggerRow().title), titles);
    EXPECT_EQ(left(view->recorder()), titles);

    QTest::keyClick(view.get(), Qt::Key_Return);
    EXPECT_EQ(doneCalls, 1);
    EXPECT_TRUE(settings.boolValue(QStringLiteral("onboarded")));

    // In the dark appearance the window follows at once.
    QPalette dark = view->palette();
    dark.setColor(QPalette::Window, zq::Palette::color(zq::Palette::windowBackground, zq::ColorScheme::dark));
    view->setPalette(dark);
    const QImage night = saveRender(*view, QStringLiteral("onboarding-granted-dark"));
    EXPECT_TRUE(zq::test::sameColor(zq::test::pixelAt(night, QPointF(4, 4)), QColor(0x14, 0x14, 0x17)));
    const QRect title(view->row(OnboardingContent::microphone).title->mapTo(view.get(), QPoint(0, 0)),
                      view->row(OnboardingContent::microphone).title->size());
    EXPECT_FALSE(zq::test::colorBounds(night.copy(title), QColor(0xF6, 0xF5, 0xFD), 40).isEmpty())
        << "titles are drawn in the dark appearance's primary text colour";

    // The record button is drawn in the dark palette too, and as high as the picker beside it, so
    // the two column headings stand on one line.
    QAbstractButton *record = view->recorder()->recordButton();
    QWidget *picker = view->recorder()->primaryPicker();
    EXPECT_EQ(record->height(), picker->height());
    EXPECT_EQ(record->mapTo(view.get(), QPoint(0, record->height())).y(),
              picker->mapTo(view.get(), QPoint(0, picker->height())).y());
    const QPointF inside = QPointF(record->mapTo(view.get(), QPoint(record->width() - 6, record->height() / 2)));
    EXPECT_TRUE(zq::test::sameColor(zq::test::pixelAt(night, inside),
                                    zq::Palette::color(zq::Palette::controlFill, zq::ColorScheme::dark), 3));
}

TEST_F(OnboardingViewTest, AMissingCheckShowsItsButtonAndKeepsDoneAndReturnInert)
{
    probe.microphone = false;
    probe.accessibilityCheck = {false, QStringLiteral("The X server lacks the XTest extension, which pasting needs.")};
    probe.keyboard = FakePermissionProbe::keyboardWithFn(false);
    auto view = make();
    const auto &mic = view->row(OnboardingContent::microphone);
    EXPECT_TRUE(mic.button->isVisible());
    EXPECT_EQ(mic.button->text(), QStringLiteral("Grant"));
    EXPECT_FALSE(view->row(OnboardingContent::accessibility).button->isVisible());
    EXPECT_EQ(view->row(OnboardingContent::accessibility).detail->text(), probe.accessibilityCheck.unavailableReason);
    EXPECT_FALSE(view->doneButton()->isEnabled());
    EXPECT_TRUE(view->keyboardSettingsButton()->isVisible()) << "Fn does not reach the desktop";
    const QImage render = saveRender(*view, QStringLiteral("onboarding-missing"));
    EXPECT_TRUE(markDrawnIn(render, view.get(), mic.icon, zq::Palette::pending));
    EXPECT_FALSE(markDrawnIn(render, view.get(), mic.icon, zq::Palette::success));

    QTest::keyClick(view.get(), Qt::Key_Return);
    EXPECT_EQ(doneCalls, 0);

    // The poll finds the microphone and the button goes.
    probe.microphone = true;
    probe.accessibilityCheck = {true, {}};
    loop.advance(1500ms);
    EXPECT_FALSE(mic.button->isVisible());
    EXPECT_TRUE(view->doneButton()->isEnabled());
    settings.setValue(QStringLiteral("secondaryTriggerKey"), QStringLiteral("f6"));
    EXPECT_FALSE(view->keyboardSettingsButton()->isVisible());
    EXPECT_EQ(view->recorder()->recordButton()->toolTip(), QStringLiteral("Record again"));
}

TEST_F(OnboardingViewTest, MappingFnWhileTheWindowIsShownClearsTheTriggerConflict)
{
    probe.keyboard = FakePermissionProbe::keyboardWithFn(false);
    auto view = make();
    ASSERT_TRUE(view->keyboardSettingsButton()->isVisible());
    QSignalSpy changes(&view->model(), &zq::OnboardingModel::changed);

    // The user maps Fn in the keyboard settings; the next poll sees the new map.
    probe.keyboard = FakePermissionProbe::keyboardWithFn(true);
    loop.advance(1500ms);
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(view->triggerRow().detail->text(), QStringLiteral("Hold Fn to talk; tap it to lock."));
    EXPECT_TRUE(view->triggerRow().icon->property("done").toBool());
    EXPECT_FALSE(view->keyboardSettingsButton()->isVisible());
}

TEST_F(OnboardingViewTest, TheRecorderTakesTheKeysOfItsPopupAndStoresWhatWasPressed)
{
    auto view = make();
    zq::TriggerBindingRecorderView &recorder = *view->recorder();
    EXPECT_EQ(recorder.primaryPicker()->currentLabel(), QStringLiteral("Fn"));
    EXPECT_FALSE(recorder.clearButton()->isVisible());

    QTest::mouseClick(recorder.recordButton(), Qt::LeftButton);
    ASSERT_TRUE(recorder.popup()->isVisible());
    EXPECT_TRUE(gate.isRecording());
    EXPECT_TRUE(recorder.spinner()->isAnimating());
    saveRender(*recorder.popup(), QStringLiteral("trigger-recording-popup"));
    QWindow *window = recorder.popup()->windowHandle();
    ASSERT_NE(window, nullptr);

    QKeyEvent f5(QEvent::KeyPress, Qt::Key_F5, Qt::NoModifier, kXF5, 0, 0);
    QCoreApplication::sendEvent(window, &f5);
    loop.advance(250ms);
    EXPECT_FALSE(recorder.popup()->isVisible());
    EXPECT_FALSE(gate.isRecording());
    EXPECT_FALSE(recorder.spinner()->isAnimating()) << "no frames run once the popup is gone";
    const QString stored = settings.stringValue(QStringLiteral("secondaryTriggerKey"));
    EXPECT_EQ(stored, QStringLiteral("f5"));
    EXPECT_TRUE(recorder.recordButton()->text().endsWith(QStringLiteral("F5")));
    EXPECT_TRUE(recorder.clearButton()->isVisible());
    saveRender(recorder, QStringLiteral("trigger-recorder-key"));

    // Escape closes the popup and changes nothing.
    QTest::mouseClick(recorder.recordButton(), Qt::LeftButton);
    ASSERT_TRUE(recorder.popup()->isVisible());
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier, kXEscape, 0, 0);
    QCoreApplication::sendEvent(recorder.popup()->windowHandle(), &escape);
    EXPECT_FALSE(recorder.popup()->isVisible());
    EXPECT_EQ(settings.stringValue(QStringLiteral("secondaryTriggerKey")), stored);

    QTest::mouseClick(recorder.clearButton(), Qt::LeftButton);
    EXPECT_EQ(settings.stringValue(QStringLiteral("secondaryTriggerKey")), QString());
    EXPECT_FALSE(recorder.clearButton()->isVisible());

    // The picker's menu lists the predefined keys under their two headings and writes the choice.
    auto *menu = recorder.primaryPicker()->buildMenu();
    ASSERT_NE(menu, nullptr);
    QAction *rightAlt = nullptr;
    for (QAction *action : menu->actions()) {
        if (action->text() == QStringLiteral("Right Alt"))
            rightAlt = action;
    }
    ASSERT_NE(rightAlt, nullptr);
    rightAlt->trigger();
    EXPECT_EQ(settings.stringValue(QStringLiteral("triggerKey")), QStringLiteral("right-option"));
    EXPECT_EQ(recorder.primaryPicker()->currentLabel(), QStringLiteral("Right Alt"));
}

} // namespace

namespace {

TEST(TriggerBindingRecorderViewTest, RecordersOfTheSameSettingsShowWhatEitherStored)
{
    zq::test::VirtualLoop loop;
    zq::rt::Settings settings{QString()};
    const zq::TriggerRecorderServices services{loop, nullptr, &keyboardMap};
    std::unique_ptr<zq::TriggerBindingRecorderView> general(zq::makeSettingsTriggerRecorder(services, settings));
    std::unique_ptr<zq::TriggerBindingRecorderView> onboarding(zq::makeSettingsTriggerRecorder(services, settings));
    general->show();
    onboarding->show();

    onboarding->model().storeCapture(zq::TriggerBinding::mouse(3));
    EXPECT_TRUE(general->recordButton()->text().endsWith(QStringLiteral("Mouse Button 4")));
    EXPECT_TRUE(general->clearButton()->isVisible());
    settings.setValue(QStringLiteral("triggerKey"), QStringLiteral("f2"));
    EXPECT_EQ(onboarding->primaryPicker()->currentLabel(), QStringLiteral("F2"));
    general->model().clearSecondary();
    EXPECT_FALSE(onboarding->clearButton()->isVisible());
}

} // namespace
