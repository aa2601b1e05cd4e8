#include "runtime/QuitDeadline.h"

#include "support/Polling.h"

#include <gtest/gtest.h>

#include <thread>

#include <unistd.h>

using namespace std::chrono_literals;

TEST(QuitDeadlineTest, EndsTheProcessWithItsStatusOnlyWhenTheQuitOverrunsIt)
{
    // A quit that ends in time ends the watch at once, not when its deadline passes: a day away
    // here, so an outer deadline fails the quit that would wait for it.
    EXPECT_EXIT(
        {
            const zq::rt::QuitDeadline bound(zq::test::kLoadedMachineTimeout, 4);
            {
                const zq::rt::QuitDeadline met(24h, 3);
            }
            ::_exit(0);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_EXIT(
        {
            const zq::rt::QuitDeadline missed(10ms, 3);
            for (;;)
                std::this_thread::sleep_for(1s); // a thread that never comes back
        },
        testing::ExitedWithCode(3), "");
}
