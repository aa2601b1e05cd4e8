#include "platform/SharedLibrary.h"
#include "platform/linux/EspeakPronouncer.h"

#include <gtest/gtest.h>

#include <gnu/libc-version.h>
#include <unistd.h>

#include <thread>
#include <vector>

using namespace zq;
using platform::SharedLibrary;

namespace {

constexpr const char *kMissing = "libzq-no-such-library.so.0";

// libm's cosine, as a feature's table of functions.
struct Cosine {
    double (*cos)(double) = nullptr;
    void bind(SharedLibrary &library) { library.bind(cos, "cos"); }
};

// Two functions of the C library, declared as the stand-ins declare theirs.
#define ZQ_TEST_LIBC_FUNCTIONS(X)                                                                                      \
    X(getpid)                                                                                                          \
    X(gnu_get_libc_version)
ZQ_LIBRARY_FUNCTIONS(Libc, ZQ_TEST_LIBC_FUNCTIONS);

} // namespace

TEST(SharedLibraryTest, FunctionsAreBoundByNameOrTheErrorSaysWhatIsMissing)
{
    struct Row {
        const char *soname;
        const char *function;
        const char *named; // what the error names; null when everything binds
    };
    const Row rows[] = {
        {"libm.so.6", "cos", nullptr},
        {kMissing, "cos", kMissing},
        {"libm.so.6", "zq_no_such_function", "zq_no_such_function"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.function);
        auto library = SharedLibrary::open(row.soname);
        if (!library) {
            ASSERT_TRUE(row.named);
            EXPECT_TRUE(library.error().message.contains(QLatin1String(row.named)))
                << qPrintable(library.error().message);
            continue;
        }
        double (*function)(double) = nullptr;
        const auto bound = library.value().bind(function, row.function).status();
        if (row.named) {
            ASSERT_FALSE(bound);
            EXPECT_TRUE(bound.error().message.contains(QLatin1String(row.named))) << qPrintable(bound.error().message);
            EXPECT_EQ(function, nullptr);
        } else {
            ASSERT_TRUE(bound) << qPrintable(bound.error().message);
            EXPECT_EQ(function(0.0), 1.0);
        }
    }
}

TEST(SharedLibraryTest, ATableIsLoadedOnceForEveryThread)
{
    const platform::LibraryOnFirstUse<Cosine> real("libm.so.6");
    std::vector<const Cosine *> seen(8);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&, i] { seen[i] = real.get() ? &real.get().value() : nullptr; });
    for (std::thread &thread : threads)
        thread.join();
    ASSERT_NE(seen.front(), nullptr);
    for (const Cosine *table : seen)
        EXPECT_EQ(table, seen.front());
    EXPECT_EQ(seen.front()->cos(0.0), 1.0);
}

TEST(SharedLibraryTest, AMissingLibraryLeavesNoTableAndAReasonThatNamesIt)
{
    // What the stand-ins for a library's own functions answer with when it cannot be opened.
    const platform::LibraryOnFirstUse<Cosine> missing(kMissing);
    EXPECT_EQ(missing.functions(), nullptr);
    EXPECT_EQ(missing.functions(), nullptr);
    EXPECT_TRUE(QByteArray(missing.failureReason()).contains(kMissing)) << missing.failureReason();
    const platform::LibraryOnFirstUse<Cosine> real("libm.so.6");
    ASSERT_NE(real.functions(), nullptr);
    EXPECT_EQ(real.functions()->cos(0.0), 1.0);
    EXPECT_STREQ(real.failureReason(), "");
}

TEST(SharedLibraryTest, PronunciationsComeFromTheRealLibraryAndNoneWhenItIsMissing)
{
    // A missing espeak-ng leaves a word unpronounced, as an engine that fails to start does.
    EXPECT_EQ(platform::EspeakPronouncer(kMissing).pronounce(QStringLiteral("Zorblatt")), std::nullopt);
    EXPECT_EQ(platform::EspeakPronouncer().pronounce(QStringLiteral("Zorblatt")), QStringLiteral("Z AO R B L AE T"));
}

// A stand-in forwards to the library, or answers as the library answers a failed call; the reason it
// may answer with is read only once the first call has tried to load the library.
TEST(SharedLibraryTest, AStandInForwardsOrGivesItsFailureAnswerFromTheFirstCall)
{
    using Library = platform::LibraryOnFirstUse<Libc>;
    const Library real("libc.so.6");
    EXPECT_EQ(real.forwardOr<&Libc::getpid>(-1), ::getpid());
    EXPECT_STREQ(real.forwardOr<&Libc::gnu_get_libc_version>(Library::Reason{}), ::gnu_get_libc_version());

    const Library missing(kMissing);
    const char *reason = missing.forwardOr<&Libc::gnu_get_libc_version>(Library::Reason{});
    ASSERT_NE(reason, nullptr);
    EXPECT_TRUE(QByteArray(reason).contains(kMissing)) << "the first call's answer: \"" << reason << '"';
    EXPECT_EQ(missing.forwardOr<&Libc::getpid>(-1), -1);
}
