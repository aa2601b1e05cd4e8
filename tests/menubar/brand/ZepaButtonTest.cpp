#include "menubar/brand/ZepaButton.h"
#include "menubar/brand/Metrics.h"
#include "menubar/brand/Motion.h"
#include "menubar/brand/Typography.h"
#include "menubar/brand/ZepaSpinner.h"
#include "menubar/brand/ZepaSwitch.h"
#include "support/ViewRender.h"
#include "support/VirtualLoop.h"

#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

using zq::ColorScheme;
using zq::Palette;
using zq::ZepaButtonStyle;

TEST(ZepaButtonTest, EachStyleTakesItsColoursSizeAndPressedLook)
{
    // The history page's primary button: white on deep green; its success look in the dark
    // appearance, #141417 on mint.
    const auto primary = zq::zepaButtonLook(ZepaButtonStyle::primary, false, false, ColorScheme::light);
    EXPECT_EQ(primary.text, QColor(0xFF, 0xFF, 0xFF));
    EXPECT_EQ(primary.fill, QColor(0x05, 0x51, 0x47));
    EXPECT_FALSE(primary.border.has_value());
    EXPECT_EQ(primary.height, 30);
    EXPECT_EQ(primary.horizontalPadding, 13);
    const auto done = zq::zepaButtonLook(ZepaButtonStyle::primary, true, true, ColorScheme::dark);
    EXPECT_EQ(done.text, QColor(0x14, 0x14, 0x17));
    EXPECT_EQ(done.fill, QColor(0xA4, 0xDC, 0xB5));
    EXPECT_EQ(done.scale, 0.985);
    EXPECT_EQ(done.opacity, 0.9);

    const auto quiet = zq::zepaButtonLook(ZepaButtonStyle::quiet, false, true, ColorScheme::light);
    EXPECT_EQ(quiet.text, Palette::color(Palette::textSecondary, ColorScheme::light));
    EXPECT_EQ(quiet.fill, Palette::color(Palette::controlFill, ColorScheme::light));
    EXPECT_EQ(quiet.border, Palette::color(Palette::hairline, ColorScheme::light));
    EXPECT_EQ(quiet.height, 28);
    EXPECT_EQ(quiet.scale, 0.985);
    EXPECT_EQ(quiet.opacity, 1.0); // no pressed dimming in the quiet style
    const auto quietDone = zq::zepaButtonLook(ZepaButtonStyle::quiet, true, false, ColorScheme::dark);
    EXPECT_EQ(quietDone.text, Palette::color(Palette::success, ColorScheme::dark));
    EXPECT_EQ(quietDone.fill, Palette::color(Palette::accentWash, ColorScheme::dark));
    EXPECT_EQ(quietDone.border, Palette::color(Palette::hairline, ColorScheme::dark));
}

TEST(ZepaButtonTest, ButtonsRenderTheirFillLabelAndBorder)
{
    const zq::ZepaButtonLabel label{QStringLiteral("Copy Last"), QStringLiteral("doc.on.doc"),
                                    zq::textFont(zq::textStyle::button)};
    for (ZepaButtonStyle style : {ZepaButtonStyle::primary, ZepaButtonStyle::quiet}) {
        const QSizeF size = zq::zepaButtonSize(style, label);
        const bool primary = style == ZepaButtonStyle::primary;
        EXPECT_EQ(size.height(), primary ? 30 : 28);
        for (ColorScheme scheme : {ColorScheme::light, ColorScheme::dark}) {
            const QColor page = Palette::color(Palette::background, scheme);
            for (bool success : {false, true}) {
                SCOPED_TRACE(testing::Message() << int(style) << int(scheme) << success);
                const auto look = zq::zepaButtonLook(style, success, false, scheme);
                const QImage image = zq::test::renderPaint(
                    size,
                    [&](QPainter &painter, const QRectF &rect) {
                        zq::paintZepaButton(painter, rect, style, label, success, false, scheme);
                    },
                    2.0, page);
                zq::test::saveRender(
                    image, QStringLiteral("button-%1-%2%3")
                               .arg(primary ? QStringLiteral("primary") : QStringLiteral("quiet"),
                                    scheme == ColorScheme::dark ? QStringLiteral("dark") : QStringLiteral("light"),
                                    success ? QStringLiteral("-success") : QString()));
                EXPECT_TRUE(zq::test::sameColor(zq::test::pixelAt(image, {size.width() / 2, 3}),
                                                zq::test::over(look.fill, page), 3));
                // The label in the text colour, centred, inside the padding.
                // Rows clear of the rounded corners, where the page shows through.
                const QImage band = image.copy(QRect(0, 16, int(size.width() * 2), int(size.height() * 2) - 32));
                const QRectF ink =
                    zq::test::colorBounds(band, zq::test::over(look.text, zq::test::over(look.fill, page)), 24);
                ASSERT_FALSE(ink.isEmpty());
                EXPECT_NEAR(ink.center().x(), size.width() / 2, 2.0);
                EXPECT_GE(ink.left(), look.horizontalPadding - 1);
                if (look.border) {
                    const QColor edge = zq::test::over(*look.border, zq::test::over(look.fill, page));
                    EXPECT_TRUE(zq::test::sameColor(zq::test::pixelAt(image, {size.width() / 2, 0.25}), edge, 3));
                }
            }
        }
    }
}

TEST(ZepaButtonTest, APressedButtonShrinksAboutItsCentre)
{
    const zq::ZepaButtonLabel label{QStringLiteral("Copy"), {}, zq::textFont(zq::textStyle::figureValue)};
    const QSizeF size(200, 30);
    const auto render = [&](bool pressed) {
        return zq::test::renderPaint(size, [&](QPainter &painter, const QRectF &rect) {
            zq::paintZepaButton(painter, rect, ZepaButtonStyle::primary, label, false, pressed, ColorScheme::light);
        });
    };
    const QRectF still = zq::test::inkBounds(render(false));
    const QRectF pressed = zq::test::inkBounds(render(true));
    EXPECT_LT(pressed.width(), still.width());
    EXPECT_NEAR(pressed.center().x(), still.center().x(), 0.6);
    // Dimmed to 0.9 while pressed.
    EXPECT_NEAR(zq::test::pixelAt(render(true), {100, 15}).alpha(), 230, 2);

    zq::ZepaButton button(ZepaButtonStyle::quiet, QStringLiteral("Copy"), QStringLiteral("doc.on.doc"));
    button.setFont(label.font);
    EXPECT_EQ(button.sizeHint().height(), 28);
    EXPECT_EQ(button.sizeHint().width(),
              int(std::ceil(zq::zepaButtonSize(ZepaButtonStyle::quiet,
                                               {QStringLiteral("Copy"), QStringLiteral("doc.on.doc"), label.font})
                                .width())));
}

TEST(ZepaButtonTest, ADisabledButtonIsDrawnFaded)
{
    zq::ZepaButton button(ZepaButtonStyle::primary, QStringLiteral("Copy Last"), QStringLiteral("doc.on.doc"));
    button.resize(button.sizeHint());
    const QColor page = Palette::color(Palette::background, ColorScheme::light);
    const QColor fill = zq::zepaButtonLook(ZepaButtonStyle::primary, false, false, ColorScheme::light).fill;
    for (bool enabled : {true, false}) {
        SCOPED_TRACE(enabled);
        button.setEnabled(enabled);
        zq::test::wearColorScheme(button, ColorScheme::light);
        const QImage image = zq::test::renderWidget(button, 2.0, page);
        zq::test::saveRender(image, enabled ? QStringLiteral("button-primary-enabled")
                                            : QStringLiteral("button-primary-disabled"));
        QColor shown = fill;
        shown.setAlphaF(enabled ? 1.0 : zq::Metrics::kDisabledOpacity);
        EXPECT_TRUE(
            zq::test::sameColor(zq::test::pixelAt(image, {button.width() / 2.0, 3}), zq::test::over(shown, page), 3));
    }
}

TEST(ZepaSwitchTest, TheKnobSidesAndTheTrackColourFollowTheState)
{
    const QSizeF track = zq::ZepaSwitch::trackSize(zq::ZepaSwitch::Size::regular);
    for (ColorScheme scheme : {ColorScheme::light, ColorScheme::dark}) {
        const QColor page = Palette::color(Palette::background, scheme);
        for (bool on : {false, true}) {
            const QImage image = zq::test::renderPaint(
                track,
                [&](QPainter &painter, const QRectF &rect) { zq::ZepaSwitch::paint(painter, rect, on, true, scheme); },
                2.0, page);
            zq::test::saveRender(
                image, QStringLiteral("switch-%1-%2")
                           .arg(on ? QStringLiteral("on") : QStringLiteral("off"),
                                scheme == ColorScheme::dark ? QStringLiteral("dark") : QStringLiteral("light")));
            const QColor trackColor = Palette::color(on ? Palette::brandGreen : Palette::pending, scheme);
            const QColor knob = Palette::color(Palette::onBrand, scheme);
            const QPointF knobSide(on ? track.width() - 11 : 11, 11);
            const QPointF trackSide(on ? 8 : track.width() - 8, 11);
            EXPECT_TRUE(zq::test::sameColor(zq::test::pixelAt(image, knobSide), knob, 3));
            EXPECT_TRUE(zq::test::sameColor(zq::test::pixelAt(image, trackSide), trackColor, 3));
        }
    }
    zq::ZepaSwitch mini(zq::ZepaSwitch::Size::mini);
    EXPECT_EQ(mini.sizeHint(), QSize(26 + 6, 15 + 6)) << "the track and room for the focus ring around it";
    EXPECT_TRUE(mini.isCheckable());
}

TEST(ZepaSpinnerTest, TheLeadingSpokeTurnsWithTimeAndTheTimerRunsOnlyWhileShown)
{
    const QColor ink(0x57, 0x57, 0x57);
    const auto render = [&](double seconds) {
        return zq::test::renderPaint(QSizeF(32, 32), [&](QPainter &painter, const QRectF &rect) {
            zq::ZepaSpinner::paint(painter, rect, ink, seconds);
        });
    };
    const QImage atZero = render(0.0);
    zq::test::saveRender(atZero, QStringLiteral("spinner"));
    // At 0 the top spoke leads; a quarter second later the one at three o'clock does.
    EXPECT_GT(zq::test::pixelAt(atZero, {16, 4}).alpha(), zq::test::pixelAt(atZero, {28, 16}).alpha() + 60);
    const QImage later = render(0.25);
    EXPECT_GT(zq::test::pixelAt(later, {28, 16}).alpha(), zq::test::pixelAt(later, {16, 4}).alpha() + 60);
    EXPECT_LT(zq::test::pixelAt(atZero, {16, 16}).alpha(), 10);

    // On its window's ticker: a frame per spoke while shown, none once hidden.
    zq::test::VirtualLoop loop;
    zq::Motion animations(loop);
    QWidget window;
    animations.provide(window);
    auto *spinner = new zq::ZepaSpinner(16, &window);
    EXPECT_FALSE(spinner->isAnimating());
    window.show();
    EXPECT_TRUE(spinner->isAnimating());
    EXPECT_EQ(loop.advance(std::chrono::milliseconds(500)), 4) << "one frame per spoke";
    spinner->hide();
    EXPECT_FALSE(spinner->isAnimating());
    EXPECT_FALSE(animations.isTicking());
}
