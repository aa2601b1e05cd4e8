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

// A note under a control row of a card: why its setting cannot work as chosen. A symbol tile, a
// title and a detail that wraps; no hover, it is not a control.
class MenuNoteRow : public QWidget {
    Q_OBJECT
public:
    MenuNoteRow(QString symbol, QWidget *parent = nullptr);
    void setText(const QString &title, const QString &detail);
    QString title() const { return m_title; }
    QString detail() const { return m_detail; }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_symbol;
    QString m_title;
    QString m_detail;
};

} // namespace zq
