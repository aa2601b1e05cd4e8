#pragma once

#include "platform/UpdateFramework.h"

namespace zq::test {

// A scripted update framework: it keeps its two preferences, counts checks, and lets a test play
// the delegate callbacks of a cycle in the order the real framework makes them.
class FakeUpdateFramework final : public platform::UpdateFramework {
public:
    bool automaticChecks = true;
    bool automaticDownloads = false;
    // What checkForUpdates() answers once started.
    bool acceptsChecks = true;

    void start(platform::UpdaterDelegate &delegate) override { m_delegate = &delegate; }
    bool checkForUpdates() override;
    bool automaticallyChecksForUpdates() const override { return automaticChecks; }
    void setAutomaticallyChecksForUpdates(bool enabled) override;
    bool automaticallyDownloadsUpdates() const override { return automaticDownloads; }
    void setAutomaticallyDownloadsUpdates(bool enabled) override;
    void applicationWillTerminate() override { ++m_terminations; }
    QUrl feedUrl() const override { return QUrl(QStringLiteral("https://feed.example.test/appcast.xml")); }

    bool isStarted() const { return m_delegate != nullptr; }
    int checkCount() const { return m_checks; }
    int terminationCount() const { return m_terminations; }
    // The delegate; the test plays the framework's side of a cycle through it.
    platform::UpdaterDelegate &delegate() { return *m_delegate; }

    static platform::AppcastItem item(const QString &displayVersion, const QString &build);

private:
    platform::UpdaterDelegate *m_delegate = nullptr;
    int m_checks = 0;
    int m_terminations = 0;
};

} // namespace zq::test
