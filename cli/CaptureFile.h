// A reader of capture files in the pcap and pcapng formats: frames with their data-link type,
// nothing else. Standard library only, so the command-line tool reads captures the same way
// on every host. Malformed files give an error, never a read past a block or record.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

namespace valdrune::cli {

// Data-link types as capture files name them.
inline constexpr int LINKTYPE_NULL = 0;  // BSD loopback
inline constexpr int LINKTYPE_ETHERNET = 1;
inline constexpr int LINKTYPE_RAW_OLD = 12;  // raw IP, as older writers stored it
inline constexpr int LINKTYPE_RAW = 101;
inline constexpr int LINKTYPE_LOOP = 108;
inline constexpr int LINKTYPE_LINUX_SLL = 113;
inline constexpr int LINKTYPE_IPV4 = 228;
inline constexpr int LINKTYPE_LINUX_SLL2 = 276;

struct CapturedFrame {
    int linkType = 0;  // LINKTYPE_* of the frame's interface
    std::vector<std::uint8_t> data;  // the captured bytes (possibly cut by the snap length)
};

class CaptureReader {
  public:
    // Frames larger than this are refused as corrupt (as common capture tools do).
    static constexpr std::uint32_t LARGEST_FRAME = 262144;

    explicit CaptureReader(std::istream& in) : in_(in) {}

    // Reads the file header. False, with a message, when it is neither format.
    bool Open(std::string& error);
    // The next frame. False at the end (error empty) or on a malformed file (error says why).
    bool Next(CapturedFrame& frame, std::string& error);

  private:
    bool ReadExact(std::uint8_t* to, std::size_t size);
    std::uint32_t U32(const std::uint8_t* p) const;
    std::uint16_t U16(const std::uint8_t* p) const;
    bool NextPcap(CapturedFrame& frame, std::string& error);
    bool NextPcapng(CapturedFrame& frame, std::string& error);
    bool ReadSectionHeader(const std::uint8_t* rawLength, std::string& error);
    // The rest of a block of `total` bytes, `done` of them read already, up to and including
    // its trailing length, which must repeat `total`; `what` names the block in errors.
    bool ReadBlockRest(std::uint32_t total, std::uint32_t least, std::uint32_t done,
                       const char* what, std::vector<std::uint8_t>& rest, std::string& error);

    std::istream& in_;
    bool pcapng_ = false;
    bool swapped_ = false;
    int pcapLinkType_ = 0;
    std::vector<int> interfaces_;  // pcapng: link type per interface of the current section
};

}  // namespace valdrune::cli
