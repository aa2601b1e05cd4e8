#pragma once

#include "window/AppWindowSection.h"
#include "window/settings/SettingsPages.h"

#include <QScrollArea>

class QVBoxLayout;

namespace zq {

class AppSettingsModel;
class StyledLabel;

// The settings pane of the main window: the page's title and subtitle over the page body, in a
// column at most 700 wide on the leading side, scrolling vertically. One view serves every
// settings section: changing the section replaces only the page body.
class AppSettingsView : public QScrollArea {
    Q_OBJECT
public:
    AppSettingsView(AppWindowSection section, AppSettingsModel &model, SettingsPageHosts hosts,
                    QWidget *parent = nullptr);

    AppWindowSection section() const { return m_section; }
    void setSection(AppWindowSection section);
    // The view was shown anew (the window opened on a settings page, or the user came from Stats
    // or History): devices, read marks and the language are refreshed.
    void appeared();
    QWidget *page() const { return m_page; }

protected:
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void applyTint();

    AppWindowSection m_section;
    AppSettingsModel &m_model;
    SettingsPageHosts m_hosts;
    StyledLabel *m_title;
    StyledLabel *m_subtitle;
    QVBoxLayout *m_column;
    QWidget *m_page = nullptr;
};

} // namespace zq
