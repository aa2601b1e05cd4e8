#include "platform/linux/speech/PocketSphinxChannelEstimate.h"

#include "runtime/FileOps.h"
#include "runtime/Log.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cmath>

namespace zq::platform {

namespace {

// What real estimates span, with room to spare: the first value (the frame energy) sits near 40
// for speech at any sane level, the others within about ten of zero. A value outside is damage,
// and a decoder that subtracted it would hear silence in every take until it had relearnt.
constexpr double kLowestEnergy = -10.0;
constexpr double kHighestEnergy = 80.0;
constexpr double kLargestShapeMagnitude = 30.0;
constexpr qint64 kLargestPlausibleFileBytes = 64 * 1024;

bool isPlausible(std::size_t index, double value)
{
    if (!std::isfinite(value))
        return false;
    if (index == 0)
        return value >= kLowestEnergy && value <= kHighestEnergy;
    return std::abs(value) <= kLargestShapeMagnitude;
}

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
        if (!value.isDouble())
            return reject("a value is not a number");
        if (!isPlausible(estimate.cepstralMean.size(), value.toDouble()))
            return reject("a value is outside what a microphone gives");
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
