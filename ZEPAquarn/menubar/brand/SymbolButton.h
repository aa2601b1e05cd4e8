#pragma once

#include "menubar/brand/Palette.h"

#include <QAbstractButton>

namespace zq {

// A borderless button that is only a symbol (clear, close, delete, help): the symbol is tinted with
// its token when it is drawn, so it follows a light or dark switch, and a focused button shows the
// brand's focus ring. The button's tool tip names what it does.
class SymbolButton : public QAbstractButton {
    Q_OBJECT
public:
    // `symbolSize` is the symbol's side in points; the button is `side` square.
    SymbolButton(const QString &systemImage, qreal symbolSize, Palette::Token tint, int side,
                 QWidget *parent = nullptr);

    QString systemImage() const { return m_systemImage; }
    void setSystemImage(const QString &name);
    Palette::Token tint() const { return m_tint; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_systemImage;
    qreal m_symbolSize;
    Palette::Token m_tint;
    int m_side;
};

} // namespace zq
