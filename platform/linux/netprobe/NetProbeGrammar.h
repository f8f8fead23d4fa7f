// The probe helper's command line and its one line of output: shared by the helper, which
// parses strictly, and by the tools, which start it and read its answer.
#pragma once

#include <cstdint>
#include <optional>

namespace valdrune {

enum class NetProbeOperation { Echo, Flush };

struct NetProbeRequest {
    NetProbeOperation operation = NetProbeOperation::Echo;
    std::uint32_t address = 0;  // host order
    std::int32_t ifIndex = 0;
};

// Exactly "echo|flush ADDRESS INDEX" (argv[1..3]). ADDRESS: four decimal octets without
// leading zeros, unicast only (not 0.0.0.0/8, multicast, reserved or broadcast). INDEX:
// decimal without sign or leading zeros, at most 2147483647; flush needs one above 0.
std::optional<NetProbeRequest> ParseNetProbeArguments(int argc, const char* const* argv);
inline std::optional<NetProbeRequest> ParseNetProbeArguments(int argc, char** argv) {
    return ParseNetProbeArguments(argc, const_cast<const char* const*>(argv));
}

// The line on standard output, and the exit status that goes with it.
inline constexpr char kNetProbeAnswered[] = "answered";
inline constexpr char kNetProbeNetUnreachable[] = "net-unreachable";
inline constexpr char kNetProbeHostUnreachable[] = "host-unreachable";
inline constexpr char kNetProbeTimedOut[] = "timed-out";
inline constexpr char kNetProbeFlushed[] = "flushed";
inline constexpr char kNetProbeNotCached[] = "not-cached";
inline constexpr char kNetProbeRefused[] = "refused";             // malformed arguments
inline constexpr char kNetProbeNotPermitted[] = "not-permitted";  // capability missing
inline constexpr char kNetProbeError[] = "error";                 // the kernel refused

inline constexpr int kNetProbeOk = 0;
inline constexpr int kNetProbeFailed = 1;
inline constexpr int kNetProbeUsage = 2;
inline constexpr int kNetProbeDenied = 3;

inline constexpr char kNetProbeName[] = "valdrune-netprobe";

}  // namespace valdrune
