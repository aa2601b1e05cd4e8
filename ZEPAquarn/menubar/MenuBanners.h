#pragma once

#include "menubar/MenuPanelModel.h"
#include "menubar/brand/Palette.h"

#include <QAbstractButton>

namespace zq {

// The banner that offers an available update; a click starts the updater's check, which shows it.
class MenuUpdateBanner : public QAbstractButton {
    Q_OBJECT
public:
    explicit MenuUpdateBanner(QWidget *parent = nullptr);
    void setVersion(const QString &version);
    QString version() const { return m_version; }

    static QString title(const QString &version);
    static QString subtitle();
    // The banner's height at `width`: the subtitle wraps rather than being cut.
    static qreal heightFor(qreal width);
    static void paint(QPainter &painter, const QRectF &rect, const QString &version, ColorScheme scheme);

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_version;
};

// The banner shown while no trigger in force can be seen (Fn alone, and no key gives Fn); a click opens
// the trigger recorder.
class UnseenTriggerMenuBanner : public QAbstractButton {
    Q_OBJECT
public:
    explicit UnseenTriggerMenuBanner(QWidget *parent = nullptr);

    static QString title();
    static QString subtitle();
    static QString buttonLabel();
    static void paint(QPainter &painter, const QRectF &rect, ColorScheme scheme);

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
};

// The banner that names the newest incident while any is unread; a click opens Support.
class RecentIssueMenuBanner : public QAbstractButton {
    Q_OBJECT
public:
    explicit RecentIssueMenuBanner(QWidget *parent = nullptr);
    void setContent(const RecentIssueBannerContent &content);
    const RecentIssueBannerContent &content() const { return m_content; }

    static void paint(QPainter &painter, const QRectF &rect, const RecentIssueBannerContent &content,
                      ColorScheme scheme);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    RecentIssueBannerContent m_content;
};

} // namespace zq
