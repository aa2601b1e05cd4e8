#include "pipeline/ZEPAError.h"

namespace zq {

ZEPAError::ZEPAError(Kind kind, QString message)
    : m_kind(kind), m_message(std::move(message)), m_what(errorDescription().toUtf8())
{}

QString ZEPAError::errorDescription() const
{
    switch (m_kind) {
    case Kind::transcriptionFailed:
        return m_message;
    case Kind::wrongAudioSource:
        return QStringLiteral("Internal error: backend received the wrong audio source type.");
    case Kind::noAPIKey:
        return QStringLiteral("No OpenAI API key set. Add one in Settings, or switch to the Local backend.");
    }
    return m_message;
}

} // namespace zq
