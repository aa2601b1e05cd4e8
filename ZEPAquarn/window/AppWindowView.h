#pragma once

#include "window/AppWindowKept.h"
#include "window/AppWindowModel.h"
#include "window/settings/SettingsPages.h"

#include <QWidget>

#include <functional>

class QStackedWidget;

namespace zq {

class AppSettingsModel;
class AppSettingsView;
class AppSidebar;
class IncidentStore;
class Updater;

// The main window's least and first size on a screen whose available area (less the window frame)
// is `available`: the design's 820 × 540 and 960 × 680, each giving way to the area where it does
// not fit, so the window never opens larger than the screen.
struct AppWindowSizes {
    QSize minimum;
    QSize initial;
};
AppWindowSizes appWindowSizes(const QSize &available);

// The main window: the sidebar of the eight pages and the selected page beside it. Statistics and
// history come from their own views; the six settings sections share one AppSettingsView. Found by
// the window model through its identifier "zepaquarn-main" and title "ZEPA QUARN".
class AppWindowView : public QWidget {
    Q_OBJECT
public:
    struct Pages {
        SettingsPageHosts::Factory stats;
        SettingsPageHosts::Factory history;
        SettingsPageHosts settings;
    };

    // `updater` and `settingsModel` may be null: no update dot, and settings sections that show their
    // titles only.
    AppWindowView(AppWindowModel &model, IncidentStore &incidents, Updater *updater, AppSettingsModel *settingsModel,
                  Pages pages, QWidget *parent = nullptr);

    AppSidebar *sidebar() const { return m_sidebar; }
    AppSettingsView *settingsView() const { return m_settingsView; }
    // The page shown now.
    QWidget *currentPage() const;
    // On the General page: scrolls to the trigger recorder and gives its primary picker the keyboard.
    // False when the page shows no recorder.
    bool focusTriggerRecorder();
    // Sizes the window for the screen it opens on (appWindowSizes): a new window opens centred on the
    // screen with the pointer; one given back its place (restore) keeps it, within its screen.
    void fitScreen();

    // How the user left this window, and giving a new window (before it shows) what an old one kept.
    AppWindowKept kept() const;
    void restore(const AppWindowKept &kept);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void showSelection(AppWindowSection section);
    void refreshSidebar();
    void applyHistoryQuery();

    AppWindowModel &m_model;
    IncidentStore &m_incidents;
    Updater *m_updater;
    Pages m_pages;
    AppSidebar *m_sidebar;
    QStackedWidget *m_detail;
    QWidget *m_statsPage = nullptr;
    QWidget *m_historyPage = nullptr;
    AppSettingsView *m_settingsView = nullptr;
    QWidget *m_placeholder = nullptr;
    bool m_settingsShown = false;
    bool m_placeRestored = false;
    // A restored search for a History page not built yet.
    QString m_restoredQuery;
};

} // namespace zq
