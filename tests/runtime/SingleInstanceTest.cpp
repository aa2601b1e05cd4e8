#include "runtime/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <sys/stat.h>

using zq::rt::SingleInstance;
using Outcome = zq::rt::SingleInstance::Outcome;

TEST(SingleInstanceTest, OnlyOneHolderOfAnyLockAtATimeAndTheLocksEndWithTheirHolder)
{
    QTemporaryDir dir;
    const QString data = dir.filePath("data/instance.lock");
    const QString config = dir.filePath("config/instance.lock");

    auto first = std::make_unique<SingleInstance>(QStringList{data, config});
    ASSERT_EQ(first->tryAcquire().outcome, Outcome::acquired) << "missing folders are made";
    EXPECT_EQ(first->tryAcquire().outcome, Outcome::acquired) << "asking again keeps the locks";
    EXPECT_TRUE(first->isHeld());

    // Another set of folders that shares only the settings folder meets the first at its lock, and
    // keeps none of its own.
    const QString otherData = dir.filePath("data2/instance.lock");
    SingleInstance second(QStringList{otherData, config});
    const SingleInstance::Attempt refused = second.tryAcquire();
    EXPECT_EQ(refused.outcome, Outcome::heldByAnother);
    EXPECT_EQ(refused.detail, config);
    EXPECT_FALSE(second.isHeld());
    {
        SingleInstance third(QStringList{otherData});
        EXPECT_EQ(third.tryAcquire().outcome, Outcome::acquired) << "the refused launch let go of its own folder";
    }

    first.reset();
    EXPECT_EQ(second.tryAcquire().outcome, Outcome::acquired) << "lock files left behind are no stale locks";
}

TEST(SingleInstanceTest, ALockThatCannotBeMadeIsToldApartFromOneHeldByAnother)
{
    QTemporaryDir dir;
    const QString usable = dir.filePath("state/instance.lock");
    // What a read-only folder does to the lock file, in ways even root cannot write through: a
    // folder, a link (never followed), a FIFO in its place.
    ASSERT_TRUE(QDir().mkpath(dir.filePath("folder/instance.lock")));
    ASSERT_TRUE(QDir().mkpath(dir.filePath("link")));
    ASSERT_TRUE(QFile::link(dir.filePath("elsewhere.lock"), dir.filePath("link/instance.lock")));
    const QString blocked[] = {dir.filePath("folder/instance.lock"), dir.filePath("link/instance.lock")};
    for (const QString &lock : blocked) {
        SingleInstance instance(QStringList{lock, usable});
        const SingleInstance::Attempt attempt = instance.tryAcquire();
        EXPECT_EQ(attempt.outcome, Outcome::unavailable) << lock.toStdString();
        EXPECT_TRUE(attempt.detail.contains(lock)) << attempt.detail.toStdString();
        EXPECT_FALSE(instance.isHeld());

        // The locks that could be taken are held: a second launch is still kept out of them.
        SingleInstance other(QStringList{usable});
        EXPECT_EQ(other.tryAcquire().outcome, Outcome::heldByAnother) << lock.toStdString();
    }
    EXPECT_FALSE(QFile::exists(dir.filePath("elsewhere.lock"))) << "nothing made through the link";

    // Held by another wins over unusable: that launch must not run.
    SingleInstance holder(QStringList{usable});
    ASSERT_EQ(holder.tryAcquire().outcome, Outcome::acquired);
    SingleInstance late(QStringList{blocked[0], usable});
    EXPECT_EQ(late.tryAcquire().outcome, Outcome::heldByAnother);
}
