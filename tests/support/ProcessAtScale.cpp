#include "support/ProcessAtScale.h"

#include "support/ChildProcess.h"
#include "support/Polling.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>

#include <gtest/gtest.h>

namespace zq::test {

bool ranInAProcessAtScale(int scale)
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    const int drawnAt = screen ? qRound(screen->devicePixelRatio()) : 1;
    if (drawnAt == scale)
        return false;
    const QString scaleText = QString::number(scale);
    if (qEnvironmentVariable("QT_SCALE_FACTOR") == scaleText) {
        ADD_FAILURE() << "the toolkit draws at " << drawnAt << " although asked for " << scale;
        return true;
    }
    const ::testing::TestInfo *test = ::testing::UnitTest::GetInstance()->current_test_info();
    ChildSpec spec;
    spec.program = QCoreApplication::applicationFilePath();
    spec.arguments = {QStringLiteral("--gtest_filter=%1.%2").arg(test->test_suite_name(), test->name())};
    spec.environment.insert(QStringLiteral("QT_SCALE_FACTOR"), scaleText);
    spec.standardOutput = ChildStream::Pipe;
    spec.standardError = ChildStream::Pipe;
    ChildProcess child;
    if (!child.start(spec)) {
        ADD_FAILURE() << child.errorString().toStdString();
        return true;
    }
    const std::optional<int> exit = child.waitForExit(QDeadlineTimer(10 * kLoadedMachineTimeout));
    EXPECT_EQ(exit, 0) << "at scale " << scale << ", " << child.howItEnded().toStdString() << ":\n"
                       << child.collected(ChildProcess::Channel::StandardOutput).toStdString()
                       << child.collected(ChildProcess::Channel::StandardError).toStdString();
    return true;
}

} // namespace zq::test
