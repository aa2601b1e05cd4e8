#include "records/StatsStore.h"

#include "records/StoreFile.h"
#include "records/StoreWriter.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <climits>
#include <cmath>

namespace zq {

namespace {

std::optional<qint64> readInteger(const QJsonObject &object, const char *key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isDouble())
        return std::nullopt;
    // A number with a fraction (or beyond 64 bits) is not a count.
    constexpr qint64 invalid = LLONG_MIN;
    const qint64 integer = value.toInteger(invalid);
    if (integer == invalid)
        return std::nullopt;
    return integer;
}

} // namespace

StatsStore::StatsStore(const QString &folder, const QTimeZone &timeZone, QObject *parent)
    : QObject(parent), m_filePath(folder + QLatin1String("/stats.json")),
      m_timeZone(timeZone.isValid() ? timeZone : QTimeZone::utc())
{
    StoreFile::ensureFolder(folder, "statistics");
    load();
}

void StatsStore::load()
{
    const StoreFile::Contents contents = StoreFile::read(m_filePath, maximumFileBytes);
    if (contents.status == StoreFile::Status::missing)
        return;
    if (contents.status == StoreFile::Status::unreadable) {
        m_keptAside = StoreFile::keepAside(m_filePath, "statistics", contents);
        return;
    }
    const auto reject = [this](const char *why) {
        m_keptAside = StoreFile::keepAside(m_filePath, "statistics", QLatin1String(why));
    };

    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(contents.bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return reject("not a JSON object");
    const QJsonObject ledger = document.object();
    // The stored version is not used: a missing or wrong-typed one counts as one entry left out,
    // so it cannot hide every day.
    const bool versionDropped = !readInteger(ledger, "version");
    const QJsonValue daysValue = ledger.value(QLatin1String("days"));
    if (!daysValue.isObject())
        return reject("no days");

    // Day by day: one damaged day must not hide the others. A negative or impossible count is
    // as damaged as a missing one.
    QMap<QString, DayStats> loaded;
    const QJsonObject days = daysValue.toObject();
    for (auto it = days.begin(); it != days.end(); ++it) {
        const QJsonObject day = it.value().toObject();
        const auto takes = readInteger(day, "takes");
        const auto words = readInteger(day, "words");
        const auto speakingMs = readInteger(day, "speakingMs");
        if (!it.value().isObject() || !takes || !words || !speakingMs)
            continue;
        if (const DayStats stats{*takes, *words, *speakingMs}; stats.isPlausible())
            loaded.insert(it.key(), stats);
    }
    m_days = std::move(loaded);
    if (const qsizetype dropped = days.size() - m_days.size() + (versionDropped ? 1 : 0); dropped > 0)
        m_keptAside =
            StoreFile::keepAsideAfterDropping(m_filePath, "statistics", dropped, m_days.size(), encode(m_days));
}

QString StatsStore::dayKey(const QDate &day)
{
    return QString::asprintf("%04d-%02d-%02d", day.year(), day.month(), day.day());
}

QString StatsStore::dayKey(const QDateTime &date) const
{
    return dayKey(date.toTimeZone(m_timeZone).date());
}

bool StatsStore::commitTake(qint64 words, const QDateTime &date)
{
    if (!m_armedTake)
        return false;
    countTake(*std::exchange(m_armedTake, std::nullopt), words, date);
    return true;
}

void StatsStore::countTake(double seconds, qint64 words, const QDateTime &date)
{
    const QString key = dayKey(date);
    DayStats day = m_days.value(key);
    day.takes = saturatingAdd(day.takes, 1);
    day.words = saturatingAdd(day.words, words);
    // llround rounds halves away from zero.
    day.speakingMs = saturatingAdd(day.speakingMs, std::isfinite(seconds) ? std::llround(seconds * 1000.0) : 0);
    m_days.insert(key, day);
    emit daysChanged();
    save();
}

QByteArray StatsStore::encode(const QMap<QString, DayStats> &ledgerDays)
{
    QJsonObject days;
    for (auto it = ledgerDays.cbegin(); it != ledgerDays.cend(); ++it) {
        days.insert(it.key(), QJsonObject{{QStringLiteral("takes"), it->takes},
                                          {QStringLiteral("words"), it->words},
                                          {QStringLiteral("speakingMs"), it->speakingMs}});
    }
    const QJsonObject ledger{{QStringLiteral("version"), 1}, {QStringLiteral("days"), days}};
    return QJsonDocument(ledger).toJson(QJsonDocument::Compact);
}

void StatsStore::save()
{
    // The map is shared, not copied, until the next change here.
    if (m_writer)
        m_writer->write(
            m_filePath, [days = m_days] { return encode(days); }, "statistics");
    else
        m_lastSaveOnDisk = StoreFile::write(m_filePath, encode(m_days), "statistics");
}

void StatsStore::whenSaved(std::function<void(bool onDisk)> done)
{
    if (m_writer)
        m_writer->whenWritten(m_filePath, std::move(done));
    else
        done(m_lastSaveOnDisk);
}

qint64 StatsStore::lifetimeTakes() const
{
    qint64 total = 0;
    for (const DayStats &day : m_days)
        total = saturatingAdd(total, day.takes);
    return total;
}

double StatsStore::lifetimeReclaimed() const
{
    qint64 words = 0;
    qint64 speakingMs = 0;
    for (const DayStats &day : m_days) {
        words = saturatingAdd(words, day.words);
        speakingMs = saturatingAdd(speakingMs, day.speakingMs);
    }
    const double reclaimed =
        static_cast<double>(words) / typingWordsPerMinute * 60.0 - static_cast<double>(speakingMs) / 1000.0;
    return reclaimed < 0.0 ? 0.0 : reclaimed;
}

WeekSummary StatsStore::summary(const StatsWeek &week) const
{
    WeekSummary result;
    result.week = week;
    const QDate monday = week.start.toTimeZone(m_timeZone).date();
    qint64 speakingMs = 0;
    for (int i = 0; i < 7; ++i) {
        const DayStats day = m_days.value(dayKey(monday.addDays(i)));
        result.dailyWords[static_cast<std::size_t>(i)] = day.words;
        result.words = saturatingAdd(result.words, day.words);
        result.takes = saturatingAdd(result.takes, day.takes);
        speakingMs = saturatingAdd(speakingMs, day.speakingMs);
    }
    result.speaking = static_cast<double>(speakingMs) / 1000.0;
    return result;
}

} // namespace zq
