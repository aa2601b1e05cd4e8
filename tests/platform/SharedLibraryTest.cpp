#include "platform/SharedLibrary.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace zq;
using platform::SharedLibrary;

// Declared for the table below, defined nowhere: libm lacks it as a library lacks a function an older
// version of it did not have yet.
extern "C" double zq_no_such_function(double);

namespace {

constexpr const char *kMissing = "libzq-no-such-library.so.0";

#define ZQ_TEST_COSINE_FUNCTIONS(X) X(cos)
ZQ_LIBRARY_FUNCTIONS(Cosine, ZQ_TEST_COSINE_FUNCTIONS);
// The missing one between two that exist: a later find must not hide it.
#define ZQ_TEST_LACKING_FUNCTIONS(X)                                                                                   \
    X(cos)                                                                                                             \
    X(zq_no_such_function)                                                                                             \
    X(sin)
ZQ_LIBRARY_FUNCTIONS(Lacking, ZQ_TEST_LACKING_FUNCTIONS);

// The warnings logged while it lives.
class WarningLog {
public:
    WarningLog() { m_previous = qInstallMessageHandler(&WarningLog::handle); }
    ~WarningLog() { qInstallMessageHandler(m_previous); }
    static QStringList &lines()
    {
        static QStringList logged;
        return logged;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext &, const QString &message)
    {
        if (type == QtWarningMsg)
            lines() << message;
    }
    QtMessageHandler m_previous = nullptr;
};

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

// A table is whole or not there: one function missing leaves none of the others to call, and the log
// names what is missing, once, however often the table is asked for.
TEST(SharedLibraryTest, ALibraryLackingOneFunctionOrMissingYieldsNoTableAndALogLineNamingIt)
{
    WarningLog::lines().clear();
    const WarningLog log;
    const platform::LibraryOnFirstUse<Lacking> lacking("libm.so.6");
    EXPECT_EQ(lacking.get(), nullptr);
    EXPECT_EQ(lacking.get(), nullptr);
    const platform::LibraryOnFirstUse<Cosine> missing(kMissing);
    EXPECT_EQ(missing.get(), nullptr);
    ASSERT_EQ(WarningLog::lines().size(), 2) << qPrintable(WarningLog::lines().join(QLatin1Char('\n')));
    EXPECT_TRUE(WarningLog::lines()[0].contains(QLatin1String("zq_no_such_function")))
        << qPrintable(WarningLog::lines()[0]);
    EXPECT_TRUE(WarningLog::lines()[1].contains(QLatin1String(kMissing))) << qPrintable(WarningLog::lines()[1]);
}

TEST(SharedLibraryTest, ATableIsLoadedOnceForEveryThread)
{
    const platform::LibraryOnFirstUse<Cosine> real("libm.so.6");
    std::vector<const Cosine *> seen(8);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&, i] { seen[i] = real.get(); });
    for (std::thread &thread : threads)
        thread.join();
    ASSERT_NE(seen.front(), nullptr);
    for (const Cosine *table : seen)
        EXPECT_EQ(table, seen.front());
    EXPECT_EQ(seen.front()->cos(0.0), 1.0);
}
