#include "platform/UpdateFramework.h"

#include <limits>

namespace zq::platform {

namespace {

// The product's own feed, and the public half of the key its releases are signed with.
constexpr auto kFeedUrl = "https://zepaquarn.quorvane.io/updates/appcast.xml";
constexpr auto kPublicKey = "iZoDlV35BjE86/ORN0QDvbJbrehaTurGNwQJPaRvrGw=";

} // namespace

std::optional<qint64> parseBuildNumber(const QString &text)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    if (i == text.size())
        return std::nullopt;
    // Accumulate toward the negative side, which holds one more value than the positive side.
    qint64 value = 0;
    constexpr qint64 lowest = std::numeric_limits<qint64>::min();
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        const int digit = c.unicode() - '0';
        if (value < (lowest + digit) / 10)
            return std::nullopt;
        value = value * 10 - digit;
    }
    if (negative)
        return value;
    if (value == lowest)
        return std::nullopt;
    return -value;
}

QString feedTextForDisplay(const QString &text)
{
    const auto setsDirection = [](QChar c) {
        const char16_t u = c.unicode();
        return u == 0x061C || u == 0x200E || u == 0x200F || (u >= 0x202A && u <= 0x202E) ||
               (u >= 0x2066 && u <= 0x2069);
    };
    QString shown = text;
    shown.removeIf(setsDirection);
    return shown;
}

UpdateFeedConfiguration UpdateFeedConfiguration::forApplication()
{
    UpdateFeedConfiguration configuration;
    configuration.feedUrl = QUrl(QString::fromLatin1(kFeedUrl));
    configuration.publicKeyBase64 = QByteArray(kPublicKey);

    // Test-only: the loopback feed, its key pair and its certificate. All or nothing, so a stray
    // variable cannot point a normal run at another feed with the product's key, or the reverse.
    const QString feed = qEnvironmentVariable("ZQ_UPDATE_FEED_URL_FOR_TESTS");
    const QByteArray key = qgetenv("ZQ_UPDATE_PUBLIC_KEY_FOR_TESTS");
    if (!feed.isEmpty() && !key.isEmpty()) {
        configuration.feedUrl = QUrl(feed);
        configuration.publicKeyBase64 = key;
        configuration.extraCertificateFile = qEnvironmentVariable("ZQ_UPDATE_CERTIFICATE_FOR_TESTS");
        bool ok = false;
        const int timeoutMs = qEnvironmentVariableIntValue("ZQ_UPDATE_TIMEOUT_MS_FOR_TESTS", &ok);
        if (ok && timeoutMs > 0)
            configuration.transferTimeout = std::chrono::milliseconds(timeoutMs);
        const int delayMs = qEnvironmentVariableIntValue("ZQ_UPDATE_LAUNCH_CHECK_DELAY_MS_FOR_TESTS", &ok);
        if (ok && delayMs >= 0)
            configuration.launchCheckDelay = std::chrono::milliseconds(delayMs);
    }
    return configuration;
}

} // namespace zq::platform
