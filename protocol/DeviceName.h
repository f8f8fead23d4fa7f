// A device name as UTF-8 text. Devices that report a capability level send UTF-8 (already cut
// to whole characters by the decoder); the others send 8-bit text in the host's ANSI code
// page, which only the platform can convert, so the converter is handed in.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "protocol/Record.h"

namespace valdrune {

using AnsiDecoder = std::function<std::string(std::string_view bytes)>;

// Without a decoder the bytes are returned as they are.
inline std::string DeviceNameText(const _CommandDataTable& record, const AnsiDecoder& ansi) {
    std::string raw = FieldText(record.deviceName);
    if (record.capabilityFlag != 0 || !ansi) return raw;
    return ansi(raw);
}

}  // namespace valdrune
