#include "runtime/SingleInstance.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using zq::rt::SingleInstance;

TEST(SingleInstanceTest, OnlyOneHolderAtATimeAndTheLockEndsWithItsHolder)
{
    QTemporaryDir dir;
    const QString lockFile = dir.filePath("not-yet/ZEPAquarn.lock");

    auto first = std::make_unique<SingleInstance>(lockFile);
    ASSERT_TRUE(first->tryAcquire()) << "a missing folder is made";
    EXPECT_TRUE(first->tryAcquire()) << "asking again keeps the lock";

    SingleInstance second(lockFile);
    EXPECT_FALSE(second.tryAcquire());
    EXPECT_FALSE(second.isHeld());

    first.reset();
    EXPECT_TRUE(second.tryAcquire()) << "the lock file left behind is no stale lock";
}

TEST(SingleInstanceTest, AnUnusableLockPathIsNotTreatedAsAcquired)
{
    QTemporaryDir dir;
    SingleInstance instance(dir.path()); // a folder cannot be opened for writing
    EXPECT_FALSE(instance.tryAcquire());
}
