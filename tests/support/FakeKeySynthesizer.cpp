#include "support/FakeKeySynthesizer.h"

namespace zq::test {

bool FakeKeySynthesizer::postPasteChord(platform::PasteChord chord)
{
    m_chords.push_back(chord);
    m_pasted.append(m_clipboardText ? m_clipboardText() : QString());
    return true;
}

} // namespace zq::test
