#include "support/FakeKeySynthesizer.h"

namespace zq::test {

bool FakeKeySynthesizer::postPasteChord()
{
    m_pasted.append(m_clipboardText ? m_clipboardText() : QString());
    return true;
}

} // namespace zq::test
