#include "runtime/QuitDeadline.h"

#include <gtest/gtest.h>

#include <thread>

using namespace std::chrono_literals;

TEST(QuitDeadlineTest, EndsTheProcessWithItsStatusOnlyWhenTheQuitOverrunsIt)
{
    {
        const zq::rt::QuitDeadline met(10s, 3);
    } // ends its watch at once
    EXPECT_EXIT(
        {
            const zq::rt::QuitDeadline missed(10ms, 3);
            for (;;)
                std::this_thread::sleep_for(1s); // a thread that never comes back
        },
        testing::ExitedWithCode(3), "");
}
