#include "support/FakePermissionProbe.h"

namespace zq::test {

void FakePermissionProbe::requestMicrophone(std::function<void(bool heard)> completion)
{
    m_micRequests.push_back(std::move(completion));
}

bool FakePermissionProbe::answerMicrophone(bool heard)
{
    if (m_micRequests.empty())
        return false;
    std::function<void(bool)> completion = std::move(m_micRequests.front());
    m_micRequests.erase(m_micRequests.begin());
    if (completion)
        completion(heard);
    return true;
}

platform::KeyboardMap FakePermissionProbe::keyboardWithFn(bool hasFn)
{
    platform::KeyboardMap map;
    for (std::size_t code = 0; code < map.logicalCodes.size(); ++code)
        map.logicalCodes[code] = 0x1000 + std::int64_t(code);
    map.hasFnKey = hasFn;
    return map;
}

} // namespace zq::test
