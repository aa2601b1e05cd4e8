#include "pipeline/InputTransport.h"

namespace zq {

InputTransport inputTransport(std::uint32_t transportTypeCode)
{
    switch (transportTypeCode) {
    case transportType::builtIn:
        return InputTransport::builtIn;
    // Wired buses all count as USB: they start fast, like a USB microphone.
    case transportType::usb:
    case transportType::pci:
    case transportType::thunderbolt:
    case transportType::fireWire:
        return InputTransport::usb;
    case transportType::bluetooth:
    case transportType::bluetoothLE:
        return InputTransport::bluetooth;
    case transportType::continuityCapture:
    case transportType::continuityCaptureWired:
    case transportType::continuityCaptureWireless:
        return InputTransport::continuity;
    case transportType::virtualDevice:
    case transportType::aggregate:
    case transportType::autoAggregate:
        return InputTransport::virtual_;
    default:
        return InputTransport::other;
    }
}

} // namespace zq
