#pragma once

#include <cstdint>

namespace zq {

// How a microphone is attached. `virtual_` carries a trailing underscore only because `virtual`
// is a keyword.
enum class InputTransport { builtIn, usb, bluetooth, continuity, virtual_, other };

// A four-character transport-type code, read big-endian ("usb " -> 0x75736220).
constexpr std::uint32_t fourCharCode(const char (&code)[5])
{
    return (std::uint32_t(static_cast<unsigned char>(code[0])) << 24) |
           (std::uint32_t(static_cast<unsigned char>(code[1])) << 16) |
           (std::uint32_t(static_cast<unsigned char>(code[2])) << 8) |
           std::uint32_t(static_cast<unsigned char>(code[3]));
}

// The transport-type codes that mean something here; back-ends report devices in these terms.
namespace transportType {
inline constexpr std::uint32_t builtIn = fourCharCode("bltn");
inline constexpr std::uint32_t usb = fourCharCode("usb ");
inline constexpr std::uint32_t pci = fourCharCode("pci ");
inline constexpr std::uint32_t thunderbolt = fourCharCode("thun");
inline constexpr std::uint32_t fireWire = fourCharCode("1394");
inline constexpr std::uint32_t bluetooth = fourCharCode("blue");
inline constexpr std::uint32_t bluetoothLE = fourCharCode("blea");
inline constexpr std::uint32_t continuityCapture = fourCharCode("ccap");
inline constexpr std::uint32_t continuityCaptureWired = fourCharCode("ccwd");
inline constexpr std::uint32_t continuityCaptureWireless = fourCharCode("ccwl");
inline constexpr std::uint32_t virtualDevice = fourCharCode("virt");
inline constexpr std::uint32_t aggregate = fourCharCode("grup");
inline constexpr std::uint32_t autoAggregate = fourCharCode("fgrp");
} // namespace transportType

// The transport for a device's transport-type code; any unknown code (0 included) is `other`.
InputTransport inputTransport(std::uint32_t transportTypeCode);

} // namespace zq
