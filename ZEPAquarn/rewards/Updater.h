#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>

namespace zq {

// Where an update check stands, as the menu and the settings show it.
struct AppUpdateState {
    enum class Kind { idle, checking, available, upToDate, failed };
    Kind kind = Kind::idle;
    QString version;   // with available
    QDateTime checked; // with upToDate

    friend bool operator==(const AppUpdateState &, const AppUpdateState &) = default;
};

// The update service. A check runs the injected check request; without one (and with no update
// feed checker started) a check does nothing.
class Updater : public QObject {
    Q_OBJECT
public:
    using CheckRequest = std::function<void(Updater &)>;

    explicit Updater(CheckRequest checkRequest = {}, QObject *parent = nullptr);

    const AppUpdateState &state() const { return m_state; }
    bool isChecking() const { return m_state.kind == AppUpdateState::Kind::checking; }
    // The check request reports its outcome here.
    void setState(AppUpdateState state);

    void checkForUpdates();

signals:
    void stateChanged();

private:
    CheckRequest m_checkRequest;
    AppUpdateState m_state;
};

} // namespace zq
