#pragma once

#include "menubar/brand/HoverFade.h"
#include "menubar/brand/Palette.h"

#include <QAbstractButton>

class QPainter;

namespace zq {

// A full-width button row of the footer: icon tile, title over an optional subtitle, and a
// trailing chevron or shortcut tag. The whole row takes clicks.
class MenuActionRow : public QAbstractButton {
    Q_OBJECT
public:
    enum class Accessory { chevron, shortcut };

    MenuActionRow(QString symbol, QString title, QString subtitle, Accessory accessory, QString shortcutText = {},
                  QWidget *parent = nullptr);

    QSize sizeHint() const override;
    // The subtitle wraps onto as many lines as it needs, and the row grows with it.
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    static qreal heightFor(qreal width, const QString &subtitle, Accessory accessory, const QString &shortcutText);
    static void paint(QPainter &painter, const QRectF &rect, const QString &symbol, const QString &title,
                      const QString &subtitle, Accessory accessory, const QString &shortcutText, double hover,
                      ColorScheme scheme);

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    QString m_symbol;
    QString m_subtitle;
    Accessory m_accessory;
    QString m_shortcutText;
    HoverFade m_hover;
};

} // namespace zq
