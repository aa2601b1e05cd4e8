#include "platform/linux/PocketSphinxChannelEstimate.h"

#include "runtime/FileOps.h"
#include "runtime/Log.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cmath>

namespace zq::platform {

namespace {

// Cepstra of 16-bit audio stay far inside this; anything beyond is damage, not a microphone.
constexpr double kLargestPlausibleValue = 1000.0;
constexpr qint64 kLargestPlausibleFileBytes = 64 * 1024;

} // namespace

QByteArray PocketSphinxChannelEstimate::encode() const
{
    QJsonArray values;
    for (const float value : cepstralMean)
        values.append(static_cast<double>(value));
    QJsonObject object;
    object.insert(QStringLiteral("model"), model);
    object.insert(QStringLiteral("cepstralMean"), values);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<PocketSphinxChannelEstimate>
PocketSphinxChannelEstimate::decode(const QByteArray &data, const QString &model, std::size_t length, QString *why)
{
    const auto reject = [why](const char *reason) {
        if (why)
            *why = QString::fromLatin1(reason);
        return std::nullopt;
    };
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return reject("not a JSON object");
    const QJsonObject object = document.object();
    const QJsonValue modelValue = object.value(QStringLiteral("model"));
    const QJsonValue meanValue = object.value(QStringLiteral("cepstralMean"));
    if (!modelValue.isString() || !meanValue.isArray())
        return reject("fields missing");
    if (modelValue.toString() != model)
        return reject("made by another speech model");
    const QJsonArray values = meanValue.toArray();
    if (static_cast<std::size_t>(values.size()) != length)
        return reject("wrong number of values");
    PocketSphinxChannelEstimate estimate{model, {}};
    estimate.cepstralMean.reserve(length);
    for (const QJsonValue &value : values) {
        if (!value.isDouble() || !std::isfinite(value.toDouble()) ||
            std::abs(value.toDouble()) > kLargestPlausibleValue)
            return reject("a value is not a plausible number");
        estimate.cepstralMean.push_back(static_cast<float>(value.toDouble()));
    }
    return estimate;
}

std::optional<PocketSphinxChannelEstimate> PocketSphinxChannelEstimate::read(const QString &path, const QString &model,
                                                                             std::size_t length)
{
    // Read on the recogniser's loader: a FIFO or a link to a device in its place must not hold it.
    const auto bytes = rt::readOwnFile(path, kLargestPlausibleFileBytes);
    if (!bytes) {
        if (bytes.error().code != ENOENT)
            qCWarning(lcLocalBackend).noquote()
                << "saved channel estimate unreadable (" + bytes.error().message + "); starting from the model's own";
        return std::nullopt;
    }
    QString why;
    auto estimate = decode(bytes.value(), model, length, &why);
    if (!estimate)
        qCWarning(lcLocalBackend).noquote()
            << "saved channel estimate ignored (" + why + "); starting from the model's own";
    return estimate;
}

rt::Result<void> PocketSphinxChannelEstimate::write(const QString &path) const
{
    return rt::writeFileAtomically(path, encode());
}

} // namespace zq::platform
