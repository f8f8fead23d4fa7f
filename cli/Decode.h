// Field diagnosis of what a device really sent: validates datagrams step by step and decodes
// the ones that pass, from hex text or from a capture file.
#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/RecordView.h"
#include "protocol/Datagram.h"

namespace valdrune::cli {

struct DecodedItem {
    std::uint16_t tag = 0;
    std::vector<std::uint8_t> value;
};

struct DecodedDatagram {
    std::vector<std::uint8_t> bytes;
    bool valid = false;
    int failedStep = 0;  // 1-6: the validation step that failed
    std::string reason;
    AnswerHeader header;
    std::vector<DecodedItem> items;
    bool endTagReached = false;
    std::optional<_CommandDataTable> record;  // commands 1 and 14

    // Where it came from, when read from a capture.
    std::string source;
};

// Hex digits, optionally separated by spaces, colons, dashes or line breaks; "0x" prefixes
// allowed. False with a message on an odd digit count or a stray character.
bool ParseHex(std::string_view text, std::vector<std::uint8_t>& bytes, std::string& error);

// Validates like the engine does. pcMac: the selected adapter's MAC for the requester check;
// without it the datagram's own requester MAC is taken, so that check always passes.
DecodedDatagram DecodeDatagram(std::span<const std::uint8_t> bytes,
                               const std::optional<MacAddress>& pcMac);

// UDP payloads to or from the device ports in one captured frame. linkType is the capture's
// data-link type, a LINKTYPE_* of CaptureFile.h (Ethernet, Linux cooked v1/v2, raw IPv4, BSD
// loopback). Never reads past the frame.
struct UdpPayload {
    std::uint32_t sourceIp = 0, destinationIp = 0;
    std::uint16_t sourcePort = 0, destinationPort = 0;
    std::vector<std::uint8_t> payload;
};
std::optional<UdpPayload> ExtractUdp(int linkType, std::span<const std::uint8_t> frame);

// True when the first bytes of a file are a pcap (either byte order, micro- or nanosecond)
// or pcapng magic number; anything else is read as hex text.
bool IsCaptureMagic(std::span<const std::uint8_t> head);

// Reads a pcap or pcapng file frame by frame and hands over each datagram on ports
// 10669/10670 as it is read, so that a capture of any size needs the memory of one frame.
bool ReadCapture(const std::string& path, const std::function<void(UdpPayload&&)>& each,
                 std::string& error);

// Hex input and plan files are read up to this size and refused beyond it.
inline constexpr std::size_t kMaxTextInput = std::size_t{1} << 20;
inline constexpr char kMaxTextInputText[] = "1 MiB";
enum class TextRead { Ok, Unreadable, TooLarge };
// Reads at most limit + 1 bytes, so that endless input (a pipe, /dev/zero) ends too.
TextRead ReadBoundedText(std::istream& in, std::size_t limit, std::string& text);

// Writes decoded datagrams one at a time, as WriteDecoded writes them all.
class DecodedWriter {
  public:
    DecodedWriter(std::ostream& out, Format format) : out_(out), format_(format) {}
    void Add(const DecodedDatagram& d);
    void Finish();  // closes the JSON array
    std::size_t Count() const { return count_; }

  private:
    std::ostream& out_;
    Format format_;
    std::size_t count_ = 0;
};

void WriteDecoded(std::ostream& out, const std::vector<DecodedDatagram>& all, Format format);

}  // namespace valdrune::cli
