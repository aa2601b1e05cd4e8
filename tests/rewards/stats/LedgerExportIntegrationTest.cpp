#include "platform/linux/x11/X11Pasteboard.h"
#include "rewards/stats/LedgerCard.h"
#include "support/Polling.h"
#include "support/ServiceEnvironment.h"

#include <QCoreApplication>
#include <QImage>
#include <QProcess>

#include <gtest/gtest.h>

using namespace zq;
using namespace std::chrono_literals;

namespace {

// Runs a clipboard reader in another process while this one keeps serving the selection it owns.
QByteArray readFromOtherProcess(const QStringList &arguments)
{
    QProcess xclip;
    xclip.start(QStringLiteral("xclip"), arguments);
    if (!xclip.waitForStarted(5000))
        return {};
    QByteArray output;
    test::processEventsUntil(
        [&] {
            output += xclip.readAllStandardOutput();
            return xclip.state() == QProcess::NotRunning;
        },
        10s);
    output += xclip.readAllStandardOutput();
    return output;
}

} // namespace

TEST(LedgerExportIntegrationTest, AnotherProcessReadsTheCardAsPngFromTheXClipboard)
{
    ZQ_REQUIRE_SERVICE(!test::sharedDisplay().isEmpty(), test::sharedDisplayError());

    WeekSummary summary;
    summary.week.weekOfYear = 11;
    summary.dailyWords = {40, 0, 320, 75, 0, 12, 0};
    summary.words = 447;
    summary.takes = 9;
    summary.speaking = 200;

    platform::X11Pasteboard clipboard;
    clipboard.setString(QStringLiteral("before"));
    LedgerExporter exporter{std::make_shared<LedgerImageRenderer>(), std::make_shared<LedgerPasteboard>(clipboard),
                            QLocale(QLocale::English, QLocale::UnitedStates)};
    ASSERT_TRUE(exporter.copy(summary, 40, QStringLiteral("7K3M9Q"), Colorway::agentTeal));

    const QByteArray targets =
        readFromOtherProcess({QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard"),
                              QStringLiteral("-t"), QStringLiteral("TARGETS")});
    EXPECT_TRUE(targets.contains("image/png")) << targets.toStdString();
    EXPECT_FALSE(targets.contains("UTF8_STRING")) << "the image replaced the text";

    const QByteArray png =
        readFromOtherProcess({QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard"),
                              QStringLiteral("-t"), QStringLiteral("image/png")});
    QImage image;
    ASSERT_TRUE(image.loadFromData(png, "PNG")) << png.size() << " bytes read";
    EXPECT_EQ(image.size(), QSize(960, 760));
    EXPECT_FALSE(image.hasAlphaChannel());
    EXPECT_EQ(image.pixelColor(0, 0), Palette::color(Palette::windowBackground, ColorScheme::dark));
}
