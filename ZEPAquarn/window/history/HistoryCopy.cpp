#include "window/history/HistoryCopy.h"

#include "pipeline/DictationController.h"

namespace zq {

bool copyHistoryText(platform::Pasteboard &pasteboard, const std::optional<QString> &text)
{
    if (!text || text->isEmpty())
        return false;
    return DictationController::copyToPasteboard(pasteboard, *text);
}

} // namespace zq
