#include "runtime/BoundedCall.h"

#include "support/Polling.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

TEST(BoundedCallTest, WaitsForACallThatReturnsButNotForOneThatNeverDoes)
{
    bool returned = false;
    EXPECT_TRUE(zq::rt::callWithin(zq::test::kLoadedMachineTimeout, [&returned] { returned = true; }));
    EXPECT_TRUE(returned);

    // An open that does not return, as one into a folder that stopped answering: a FIFO nobody writes.
    QTemporaryDir dir;
    const QByteArray fifo = QFile::encodeName(dir.filePath(QStringLiteral("fifo")));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    EXPECT_FALSE(zq::rt::callWithin(10ms, [fifo] { ::close(::open(fifo.constData(), O_RDONLY | O_CLOEXEC)); }));
    // Once it answers, the call left behind ends by itself.
    ::close(::open(fifo.constData(), O_WRONLY | O_CLOEXEC));
}
