#include "transcription/OpenAIPrewarmThrottle.h"

namespace zq {

OpenAIPrewarmThrottle &OpenAIPrewarmThrottle::shared()
{
    static OpenAIPrewarmThrottle throttle;
    return throttle;
}

bool OpenAIPrewarmThrottle::claim(rt::Nanos uptimeNow)
{
    std::lock_guard lock(m_mutex);
    if (m_lastPrewarm && uptimeNow - *m_lastPrewarm < interval)
        return false;
    m_lastPrewarm = uptimeNow;
    return true;
}

} // namespace zq
