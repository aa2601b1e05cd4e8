#pragma once

#include "menubar/brand/HoverFade.h"
#include "menubar/brand/Palette.h"

#include <QWidget>

namespace zq {

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

} // namespace zq
