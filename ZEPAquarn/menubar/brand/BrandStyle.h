#pragma once

#include "menubar/brand/FocusRing.h"

#include <QProxyStyle>

namespace zq {

// The application's style over the toolkit's own. The brand's controls draw themselves; this style
// draws the stock pieces that remain among them in the palette's colours, so they follow a live light
// or dark switch like everything else:
// - scroll bars: a thin rounded thumb with no track and no arrow buttons, on every scroll area;
// - push buttons (dialogs, the Welcome window): the brand buttons, primary for the default button and
//   quiet otherwise, faded while disabled;
// - text fields: a framed field is a rounded well 34 high like the pickers; a frameless one draws
//   nothing, so the well it sits in shows through;
// - focus: the brand's focus ring instead of the toolkit's focus frames, on buttons only once the
//   keyboard is used (FocusVisibility follows it for every window while this style is the application's).
class BrandStyle : public QProxyStyle {
    Q_OBJECT
public:
    static constexpr int kScrollBarExtent = 10;
    static constexpr int kFieldHeight = 34;

    // Over the Fusion style (the same on every desktop).
    BrandStyle();

    void polish(QApplication *application) override;
    void unpolish(QApplication *application) override;
    using QProxyStyle::polish;
    using QProxyStyle::unpolish;

    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget = nullptr) const override;
    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget = nullptr) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex *option, QPainter *painter,
                            const QWidget *widget = nullptr) const override;
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex *option, SubControl subControl,
                         const QWidget *widget = nullptr) const override;
    QRect subElementRect(SubElement element, const QStyleOption *option,
                         const QWidget *widget = nullptr) const override;
    int pixelMetric(PixelMetric metric, const QStyleOption *option = nullptr,
                    const QWidget *widget = nullptr) const override;
    QSize sizeFromContents(ContentsType type, const QStyleOption *option, const QSize &size,
                           const QWidget *widget = nullptr) const override;

private:
    FocusVisibility m_focusVisibility;
};

} // namespace zq
