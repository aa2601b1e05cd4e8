#pragma once

#include <QObject>

#include <functional>

namespace zq {

// "Settings…" on Ctrl+comma in every window of the application: installed on the application, it
// sees the key before any window or text field does.
class SettingsShortcut : public QObject {
    Q_OBJECT
public:
    explicit SettingsShortcut(std::function<void()> openSettings, QObject *parent = nullptr);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::function<void()> m_openSettings;
};

} // namespace zq
