#include "runtime/QuitDeadline.h"

#include "support/Polling.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include <unistd.h>

using namespace std::chrono_literals;

TEST(QuitDeadlineTest, EndsTheProcessWithItsStatusOnlyWhenTheQuitOverrunsIt)
{
    // A quit that ends in time ends the watch at once, not when its deadline passes: a day away
    // here, so an outer deadline fails the quit that would wait for it. The last step runs once,
    // whoever comes first: the quit in time, or the deadline as it ends it.
    EXPECT_EXIT(
        {
            const zq::rt::QuitDeadline bound(zq::test::kLoadedMachineTimeout, 4);
            {
                zq::rt::QuitDeadline met(24h, 3);
                met.setLastStep([] { std::fputs("last step\n", stderr); });
                met.runLastStep();
                met.runLastStep();
            }
            std::fputs("quit through\n", stderr);
            ::_exit(0);
        },
        testing::ExitedWithCode(0), "^last step\nquit through\n$");
    EXPECT_EXIT(
        {
            zq::rt::QuitDeadline missed(10ms, 3);
            missed.setLastStep([] { std::fputs("last step\n", stderr); });
            for (;;)
                std::this_thread::sleep_for(1s); // a thread that never comes back
        },
        testing::ExitedWithCode(3), "last step");
}
