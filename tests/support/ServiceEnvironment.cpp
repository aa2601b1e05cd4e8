#include "support/ServiceEnvironment.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace zq::test {

namespace {

QString s_sharedDisplay;
QString s_sharedDisplayError = QStringLiteral("this test binary did not start a display (unit tests run offscreen)");

} // namespace

bool isContinuousIntegration()
{
    const QByteArray ci = qgetenv("CI").trimmed().toLower();
    return !ci.isEmpty() && ci != "0" && ci != "false";
}

bool requireService(bool ok, const QString &why, std::source_location where)
{
    if (ok)
        return true;
    const std::string message = "required service unavailable: " + why.toStdString();
    // Recorded at the caller's line; a skip or fatal failure in SetUp also keeps the body from running.
    const auto type =
        isContinuousIntegration() ? ::testing::TestPartResult::kFatalFailure : ::testing::TestPartResult::kSkip;
    ::testing::internal::AssertHelper(type, where.file_name(), int(where.line()), message.c_str()) =
        ::testing::Message();
    return false;
}

std::unique_ptr<QTemporaryDir> makeServiceDir(const QString &prefix)
{
    // Leaves room for "/pulse/native" and the like under the 108-byte sun_path limit.
    constexpr qsizetype kMaxBaseLength = 60;
    QString base = QDir::tempPath();
    if (base.size() > kMaxBaseLength)
        base = QStringLiteral("/tmp");
    auto dir = std::make_unique<QTemporaryDir>(base + QLatin1Char('/') + prefix + QStringLiteral("-XXXXXX"));
    if (dir->isValid())
        QFile::setPermissions(dir->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return dir;
}

QString sharedDisplay()
{
    return s_sharedDisplay;
}

QString sharedDisplayError()
{
    return s_sharedDisplayError;
}

void setSharedDisplay(const QString &display, const QString &error)
{
    s_sharedDisplay = display;
    s_sharedDisplayError = error;
}

} // namespace zq::test
