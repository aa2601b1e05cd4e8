#pragma once

#include "menubar/brand/HoverFade.h"
#include "menubar/brand/Palette.h"

#include <QAbstractButton>
#include <QWidget>

class QPainter;

namespace zq {

// The shape every card and banner of the tray panel shares: a 14-point rounded rectangle filled
// with `fill` and a 1-point `border` drawn inside it.
void paintMenuCard(QPainter &painter, const QRectF &rect, const QColor &fill, const QColor &border);
// The keyboard focus of a card-shaped button: a 2-point ring in the focus colour inside its edge.
void paintMenuFocusRing(QPainter &painter, const QRectF &rect, ColorScheme scheme);
// The 26-point tile that carries a row's symbol.
void paintMenuIconTile(QPainter &painter, const QRectF &rect, const QString &symbol, ColorScheme scheme);

// A card of the panel: its rows stacked with hairline dividers between them.
class MenuCard : public QWidget {
    Q_OBJECT
public:
    explicit MenuCard(const QList<QWidget *> &rows, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

// A control row: icon tile, title and the trailing control, with the row hover.
class MenuControlRow : public QWidget {
    Q_OBJECT
public:
    MenuControlRow(QString symbol, QString title, QWidget *control, QWidget *parent = nullptr);
    QString title() const { return m_title; }
    QWidget *control() const { return m_control; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    QString m_symbol;
    QString m_title;
    QWidget *m_control;
    HoverFade m_hover;
};

// A full-width button row of the footer: icon tile, title over an optional subtitle, and a
// trailing chevron or shortcut tag. The whole row takes clicks.
class MenuActionRow : public QAbstractButton {
    Q_OBJECT
public:
    enum class Accessory { chevron, shortcut };

    MenuActionRow(QString symbol, QString title, QString subtitle, Accessory accessory, QString shortcutText = {},
                  QWidget *parent = nullptr);

    QSize sizeHint() const override;
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
