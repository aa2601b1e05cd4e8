#include "window/recorder/TriggerBindingCaptureMonitor.h"

#include "pipeline/TriggerKey.h"

namespace zq {

TriggerBindingCaptureMonitor::TriggerBindingCaptureMonitor(rt::MainLoop &loop) : m_loop(loop) {}

TriggerBindingCaptureMonitor::~TriggerBindingCaptureMonitor()
{
    stopMonitoring();
}

void TriggerBindingCaptureMonitor::setRecording(bool recording, CaptureHandler onCapture, CancelHandler onCancel)
{
    m_onCapture = std::move(onCapture);
    m_onCancel = std::move(onCancel);
    if (recording == m_isRecording)
        return;
    m_isRecording = recording;
    if (!recording) {
        stopMonitoring();
        return;
    }
    m_keyboardEvents.clear();
}

void TriggerBindingCaptureMonitor::stopMonitoring()
{
    m_completionWork.cancel();
    m_completionWork = {};
    m_keyboardEvents.clear();
    m_isRecording = false;
}

bool TriggerBindingCaptureMonitor::handle(const TriggerEvent &event)
{
    if (!m_isRecording)
        return false;
    if (event.type == TriggerEventType::keyDown && event.keyCode == KeyCode::escape) {
        // Copies: the callbacks end recording, which replaces them while they run.
        if (CancelHandler onCancel = m_onCancel)
            onCancel();
        return true;
    }
    switch (event.type) {
    case TriggerEventType::otherMouseDown:
        if (std::optional<TriggerBinding> binding = TriggerBinding::fromEvent(event)) {
            if (CaptureHandler onCapture = m_onCapture)
                onCapture(*binding);
            return true;
        }
        return false;
    case TriggerEventType::flagsChanged:
        // The modifier events reach the application too: they only arm the capture.
        if (std::optional<TriggerBinding> binding = TriggerBinding::fromEvent(event))
            scheduleModifierCapture(std::move(*binding));
        return false;
    case TriggerEventType::keyDown:
        if (event.isAutoRepeat)
            return false;
        m_keyboardEvents.push_back(event);
        scheduleKeyboardCompletion();
        return true;
    default:
        return false;
    }
}

void TriggerBindingCaptureMonitor::scheduleModifierCapture(TriggerBinding binding)
{
    m_completionWork.cancel();
    m_completionWork = m_loop.postDelayed(kCaptureDelay, m_lifetime.guard([this, binding = std::move(binding)] {
        if (CaptureHandler onCapture = m_onCapture)
            onCapture(binding);
    }));
}

void TriggerBindingCaptureMonitor::scheduleKeyboardCompletion()
{
    m_completionWork.cancel();
    m_completionWork = m_loop.postDelayed(kCaptureDelay, m_lifetime.guard([this] { completeKeyboardCapture(); }));
}

void TriggerBindingCaptureMonitor::completeKeyboardCapture()
{
    std::optional<TriggerBinding> binding = TriggerBinding::fromEvents(m_keyboardEvents);
    if (!binding)
        return;
    m_keyboardEvents.clear();
    if (CaptureHandler onCapture = m_onCapture)
        onCapture(*binding);
}

} // namespace zq
