#include "runtime/BoundedCall.h"

#include "support/Polling.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;
using zq::rt::callWithin;

TEST(BoundedCallTest, WaitsForACallThatReturnsButNotForOneThatNeverDoes)
{
    auto result = std::make_shared<int>(0);
    EXPECT_TRUE(callWithin(zq::test::kLoadedMachineTimeout, [result] { *result = 1; }));
    EXPECT_EQ(*result, 1);

    // An open that does not return, as one into a folder that stopped answering: a FIFO nobody writes.
    QTemporaryDir dir;
    const QByteArray fifo = QFile::encodeName(dir.filePath(QStringLiteral("fifo")));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    auto reader = std::make_shared<std::atomic<int>>(-1);
    EXPECT_FALSE(callWithin(10ms, [fifo, reader] { *reader = ::open(fifo.constData(), O_RDONLY | O_CLOEXEC); }));
    // Once it answers, the call left behind ends by itself.
    const int writer = ::open(fifo.constData(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    EXPECT_TRUE(zq::test::waitFor([&reader] { return *reader >= 0; }, zq::test::kLoadedMachineTimeout));
    ::close(writer);
    ::close(*reader);
}
