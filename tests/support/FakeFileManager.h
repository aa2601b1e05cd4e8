#pragma once

#include "support/BusServiceHost.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace zq::test {

class FileManagerHandler;

// A minimal org.freedesktop.FileManager1 on a given bus that records every ShowItems call (the
// URIs it was asked to show). It answers on a thread of its own. Thread-safe accessors; the
// destructor releases the name.
class FakeFileManager {
public:
    static constexpr auto kServiceName = "org.freedesktop.FileManager1";
    static constexpr auto kObjectPath = "/org/freedesktop/FileManager1";

    FakeFileManager();
    ~FakeFileManager();
    FakeFileManager(const FakeFileManager &) = delete;
    FakeFileManager &operator=(const FakeFileManager &) = delete;

    // Connects to the bus at `busAddress` and takes the name; false with errorString() set.
    bool start(const QString &busAddress);
    void stop();
    QString errorString() const { return m_service.errorString(); }

    // The URI lists of the ShowItems calls, in order.
    std::vector<QStringList> shownItems() const;
    bool waitForCalls(size_t count, std::chrono::milliseconds timeout) const;

private:
    friend class FileManagerHandler;
    void record(const QStringList &uris);

    BusServiceHost m_service;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_arrived;
    std::vector<QStringList> m_calls;
};

// The D-Bus facing object; lives on the file manager's thread.
class FileManagerHandler : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    explicit FileManagerHandler(FakeFileManager &owner) : m_owner(owner) {}

public slots:
    void ShowItems(const QStringList &uris, const QString &startupId);
    void ShowFolders(const QStringList &uris, const QString &startupId);

private:
    FakeFileManager &m_owner;
};

} // namespace zq::test
