#include "platform/linux/appcast/Appcast.h"

#include <QVersionNumber>
#include <QXmlStreamReader>

#include <limits>

namespace zq::platform::appcast {

namespace {

// Notes longer than any real ones are cut, never between the two halves of a character.
QString cutDescription(QString text)
{
    constexpr qsizetype maximum = AppcastItem::kMaximumDescriptionLength;
    if (text.size() <= maximum)
        return text;
    qsizetype end = maximum - 1;
    if (text[end - 1].isHighSurrogate())
        --end;
    text.truncate(end);
    text.append(QChar(0x2026));
    return text;
}

void readItem(QXmlStreamReader &xml, const QUrl &feedUrl, AppcastItem &item)
{
    const QString ns = QString::fromLatin1(kNamespace);
    while (xml.readNextStartElement()) {
        const auto name = xml.name();
        const bool ours = xml.namespaceUri() == ns;
        if (xml.namespaceUri().isEmpty() && name == u"title") {
            item.title = xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
        } else if (xml.namespaceUri().isEmpty() && name == u"description") {
            item.description = cutDescription(xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed());
        } else if (xml.namespaceUri().isEmpty() && name == u"enclosure") {
            const QXmlStreamAttributes attributes = xml.attributes();
            item.enclosureUrl = feedUrl.resolved(QUrl(attributes.value(QLatin1String("url")).toString().trimmed()));
            bool ok = false;
            const qint64 length = attributes.value(QLatin1String("length")).toString().trimmed().toLongLong(&ok);
            item.enclosureLength = ok && length > 0 ? length : -1;
            item.enclosureType = attributes.value(QLatin1String("type")).toString().trimmed();
            item.enclosureSignature =
                attributes.value(ns, QLatin1String("ed25519Signature")).toString().trimmed().toLatin1();
            xml.skipCurrentElement();
        } else if (ours && name == u"build") {
            item.versionString = xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
        } else if (ours && name == u"displayVersion") {
            item.displayVersionString = xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
        } else if (ours && name == u"minimumSystemVersion") {
            item.minimumSystemVersion = xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
        } else if (ours && name == u"releaseNotesLink") {
            item.releaseNotesLink =
                feedUrl.resolved(QUrl(xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed()));
        } else if (ours && name == u"critical") {
            item.critical = true;
            xml.skipCurrentElement();
        } else {
            xml.skipCurrentElement();
        }
    }
    // People see the build when the feed names no version for them.
    if (item.displayVersionString.isEmpty())
        item.displayVersionString = item.versionString;
}

} // namespace

rt::Result<std::vector<AppcastItem>> parse(const QByteArray &xml, const QUrl &feedUrl)
{
    QXmlStreamReader reader(xml);
    std::vector<AppcastItem> items;
    bool sawChannel = false;
    if (!reader.readNextStartElement() || reader.name() != u"rss")
        return rt::Error{QStringLiteral("The update feed could not be read."), QStringLiteral("appcast"), 1};
    while (reader.readNextStartElement()) {
        if (reader.name() != u"channel") {
            reader.skipCurrentElement();
            continue;
        }
        sawChannel = true;
        while (reader.readNextStartElement()) {
            if (reader.name() == u"item" && reader.namespaceUri().isEmpty()) {
                AppcastItem item;
                readItem(reader, feedUrl, item);
                items.push_back(std::move(item));
            } else {
                reader.skipCurrentElement();
            }
        }
    }
    // Read to the end, so that garbage after a good start still counts as a broken feed.
    while (!reader.atEnd())
        reader.readNext();
    if (reader.hasError() || !sawChannel)
        return rt::Error{QStringLiteral("The update feed could not be read."), QStringLiteral("appcast"), 2};
    return items;
}

bool isUsable(const AppcastItem &item, const QString &systemVersion)
{
    if (!parseBuildNumber(item.versionString))
        return false;
    // A version is shown in wrapping labels before anything is verified: it stays short.
    constexpr qsizetype longestVersion = 64;
    if (item.displayVersionString.size() > longestVersion)
        return false;
    // An executable with its assets is far below this bound.
    constexpr qint64 maximumLength = qint64(1) << 30;
    if (item.enclosureUrl.scheme() != u"https" || item.enclosureLength <= 0 || item.enclosureLength > maximumLength ||
        item.enclosureSignature.isEmpty())
        return false;
    if (!item.minimumSystemVersion.isEmpty() && !systemVersion.isEmpty()) {
        const QVersionNumber minimum = QVersionNumber::fromString(item.minimumSystemVersion);
        const QVersionNumber running = QVersionNumber::fromString(systemVersion);
        if (!minimum.isNull() && !running.isNull() && QVersionNumber::compare(running, minimum) < 0)
            return false;
    }
    return true;
}

std::optional<AppcastItem> bestItem(const std::vector<AppcastItem> &items, qint64 runningBuild,
                                    const QString &skippedBuild, const QString &systemVersion)
{
    const std::optional<qint64> skipped = parseBuildNumber(skippedBuild);
    const AppcastItem *best = nullptr;
    qint64 bestBuild = std::numeric_limits<qint64>::min();
    for (const AppcastItem &item : items) {
        if (!isUsable(item, systemVersion))
            continue;
        const qint64 build = *parseBuildNumber(item.versionString);
        if (build <= runningBuild || (skipped && build == *skipped))
            continue;
        if (!best || build > bestBuild) {
            best = &item;
            bestBuild = build;
        }
    }
    return best ? std::optional<AppcastItem>(*best) : std::nullopt;
}

} // namespace zq::platform::appcast
