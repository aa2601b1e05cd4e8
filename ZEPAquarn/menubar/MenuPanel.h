#pragma once

#include "menubar/MenuPanelModel.h"
#include "menubar/brand/Motion.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>

class QGraphicsOpacityEffect;
class QScrollArea;
class QVBoxLayout;

namespace zq {

class MenuActionRow;
class MenuNoteRow;
class MenuUpdateBanner;
class MenuWeekRecap;
class MilestoneLine;
class RecentIssueMenuBanner;
class UnseenTriggerMenuBanner;
class ZepaButton;
class ZepaMenuPicker;
class ZepaSwitch;

// The tray panel: a 372-point column of the header, the banners, the milestone line, the weekly
// recap and three cards (language and cleanup, microphone, footer). It never grows taller than the
// screen allows and scrolls beyond that. Everything it shows comes from its model. Its reveal runs on
// the ticker its window provides and, with animations off, keeps its fade but not its slide. Main
// thread only.
class MenuPanel : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 372;
    // The reveal: a fade with an 8-point slide down.
    static constexpr TimingCurve kRevealCurve{motion::standard, motion::panelReveal};
    static constexpr double kRevealOffset = 8;

    struct RevealLook {
        double opacity;
        double offset; // points, negative = up
    };
    // The look `elapsed` into the reveal; none: not revealed yet.
    static RevealLook revealLook(std::optional<motion::Seconds> elapsed, bool reduceMotion);

    explicit MenuPanel(MenuPanelModel &model, QWidget *parent = nullptr);
    ~MenuPanel() override;

    // The visible height of the screen the panel opens on; the primary screen's when not set.
    void setScreenHeight(std::function<std::optional<double>()> visibleHeight);

    // The panel came on screen: the model appears and, the first time, the panel reveals itself.
    void appear();
    // Puts the reveal at `elapsed` (its frames do this while it runs).
    void setRevealElapsed(motion::Seconds elapsed);

    double naturalHeight() const;
    double heightCap() const;
    bool isScrolling() const;

    MenuPanelModel &model() const { return m_model; }
    ZepaButton *copyLastButton() const { return m_copyLast; }
    ZepaButton *enableDictationButton() const { return m_enable; }
    UnseenTriggerMenuBanner *unseenTriggerBanner() const { return m_triggerBanner; }
    MenuUpdateBanner *updateBanner() const { return m_updateBanner; }
    RecentIssueMenuBanner *recentIssueBanner() const { return m_issueBanner; }
    MilestoneLine *milestoneLine() const { return m_milestoneLine; }
    MenuWeekRecap *weekRecap() const { return m_recap; }
    ZepaMenuPicker *languagePicker() const { return m_language; }
    MenuNoteRow *languageNote() const { return m_languageNote; }
    ZepaSwitch *cleanupSwitch() const { return m_cleanupSwitch; }
    QWidget *cleanupIncludedText() const { return m_included; }
    ZepaMenuPicker *microphonePicker() const { return m_microphone; }
    MenuActionRow *openRow() const { return m_openRow; }
    MenuActionRow *quitRow() const { return m_quitRow; }
    QScrollArea *scrollArea() const { return m_scroll; }

    // Hover goes to the row under the pointer and leaves every other one. Enter and leave events do
    // not reach the rows while a menu holds the pointer or the panel is hidden, so the panel asks
    // where the pointer is whenever one of those ends.
    void followPointer();

public slots:
    void refresh();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void makeScrollArea();
    void addHeader(QVBoxLayout &column);
    void addBanners(QVBoxLayout &column);
    void addLanguageCard(QVBoxLayout &column);
    void addMicrophoneCard(QVBoxLayout &column);
    void addFooter(QVBoxLayout &column);
    void layoutScroll();
    void applyHeight();
    // Hover on `under` and the hoverable widgets around it, with the pointer at `pointer` (screen
    // coordinates); off everywhere else: on every hoverable widget when `everyWidget`, else on those
    // it last turned on.
    void hoverOnly(QWidget *under, QPointF pointer, bool everyWidget);

    MenuPanelModel &m_model;
    std::function<std::optional<double>()> m_screenHeight;
    QScrollArea *m_scroll;
    QWidget *m_content;
    QWidget *m_header = nullptr;
    QGraphicsOpacityEffect *m_opacity;
    ZepaButton *m_copyLast;
    ZepaButton *m_enable;
    UnseenTriggerMenuBanner *m_triggerBanner;
    MenuUpdateBanner *m_updateBanner;
    RecentIssueMenuBanner *m_issueBanner;
    MilestoneLine *m_milestoneLine;
    MenuWeekRecap *m_recap;
    ZepaMenuPicker *m_language;
    MenuNoteRow *m_languageNote;
    ZepaSwitch *m_cleanupSwitch;
    QWidget *m_included;
    ZepaMenuPicker *m_microphone;
    MenuActionRow *m_openRow;
    MenuActionRow *m_quitRow;
    std::optional<motion::Seconds> m_revealElapsed;
    rt::Nanos m_revealStart{0};
    Motion::Frames m_revealFrames;
    QList<QPointer<QWidget>> m_hovered;
};

} // namespace zq
