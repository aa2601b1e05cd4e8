#pragma once

#include "support/BusServiceHost.h"

#include <QObject>
#include <QString>

#include <atomic>

namespace zq::test {

// A minimal screen locker (org.freedesktop.ScreenSaver) on a given bus, at the object path given: it
// answers GetActive from a thread of its own and signals ActiveChanged when told to. The destructor
// releases the name, as a locker that dies does.
class FakeScreenLocker {
public:
    static constexpr auto kServiceName = "org.freedesktop.ScreenSaver";

    FakeScreenLocker() : m_service(QStringLiteral("zq-screen-locker")) {}

    // Connects to the bus at `busAddress`, takes the name and serves `objectPath`, active or not,
    // without signalling; false with errorString() set.
    bool start(const QString &busAddress, const QString &objectPath, bool active);
    QString errorString() const { return m_service.errorString(); }
    // Answers GetActive with `active` from now on, and signals it.
    void setActive(bool active);

private:
    friend class ScreenLockerHandler;
    BusServiceHost m_service;
    std::atomic<bool> m_active{false};
};

// The D-Bus facing object; lives on the locker's thread.
class ScreenLockerHandler : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    explicit ScreenLockerHandler(FakeScreenLocker &owner) : m_owner(owner) {}

public slots:
    bool GetActive() { return m_owner.m_active.load(); }

signals:
    void ActiveChanged(bool active);

private:
    FakeScreenLocker &m_owner;
};

} // namespace zq::test
