// Builds device answers byte by byte, independently of the product's request builders, so
// that tests and fuzz seeds exercise the decoder with datagrams a device would send.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <string_view>
#include <vector>

#include "protocol/Record.h"

namespace valdrune::test {

class AnswerBuilder {
public:
    AnswerBuilder& Command(std::uint16_t c) { command_ = c; return *this; }
    AnswerBuilder& Device(const MacAddress& m) { device_ = m; return *this; }
    AnswerBuilder& Requester(const MacAddress& m, std::uint32_t ip) {
        requester_ = m;
        requesterIp_ = ip;
        return *this;
    }
    AnswerBuilder& Sequence(std::uint16_t s) { sequence_ = s; return *this; }
    AnswerBuilder& Mode(std::uint8_t m) { mode_ = m; return *this; }
    AnswerBuilder& Capability(std::uint8_t c) { capability_ = c; return *this; }

    AnswerBuilder& Item(std::uint16_t tag, std::vector<std::uint8_t> value) {
        Put16(items_, tag);
        Put16(items_, static_cast<std::uint16_t>(value.size()));
        items_.insert(items_.end(), value.begin(), value.end());
        return *this;
    }
    AnswerBuilder& U8(std::uint16_t tag, std::uint8_t v) { return Item(tag, {v}); }
    AnswerBuilder& U16(std::uint16_t tag, std::uint16_t v) {
        return Item(tag, {static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)});
    }
    AnswerBuilder& U32(std::uint16_t tag, std::uint32_t v) {
        return Item(tag, {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
                          static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)});
    }
    // A text value in a field of `width` bytes, NUL-padded (or cut).
    AnswerBuilder& Text(std::uint16_t tag, std::string_view text, std::size_t width = 16) {
        std::vector<std::uint8_t> v(width, 0);
        for (std::size_t i = 0; i < text.size() && i < width; ++i)
            v[i] = static_cast<std::uint8_t>(text[i]);
        return Item(tag, std::move(v));
    }
    // Raw bytes appended to the item list (for malformed items).
    AnswerBuilder& Raw(std::initializer_list<std::uint8_t> bytes) {
        items_.insert(items_.end(), bytes.begin(), bytes.end());
        return *this;
    }

    std::vector<std::uint8_t> Build() const {
        std::vector<std::uint8_t> d;
        Put16(d, 1);
        Put16(d, static_cast<std::uint16_t>(items_.size()));
        Put16(d, command_);
        d.insert(d.end(), device_.begin(), device_.end());
        d.insert(d.end(), requester_.begin(), requester_.end());
        Put16(d, static_cast<std::uint16_t>(requesterIp_ >> 16));
        Put16(d, static_cast<std::uint16_t>(requesterIp_));
        Put16(d, sequence_);
        static constexpr std::uint8_t kMagicAndFormat[] = {0x20, 0x11, 0x1E, 0x11, 0x23,
                                                           0x1F, 0x1E, 0x19, 0x13, 0x00};
        d.insert(d.end(), std::begin(kMagicAndFormat), std::end(kMagicAndFormat));
        d.push_back(0);
        d.push_back(mode_);
        d.push_back(capability_);
        d.resize(48, 0);
        d.insert(d.end(), items_.begin(), items_.end());
        Put16(d, 0xFFFF);
        Seal(d);
        return d;
    }

    // Rewrites the checksum after the end tag at 48+L (after a test changed bytes).
    static void Seal(std::vector<std::uint8_t>& d) {
        const std::size_t length = static_cast<std::size_t>(d[2] << 8 | d[3]);
        const std::size_t at = 50 + length;
        if (d.size() < at + 2) d.resize(at + 2, 0);
        unsigned sum = 1;
        for (std::size_t i = 0; i < at; ++i) sum += d[i];
        d[at] = static_cast<std::uint8_t>(sum >> 8);
        d[at + 1] = static_cast<std::uint8_t>(sum);
    }

private:
    static void Put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
        out.push_back(static_cast<std::uint8_t>(v >> 8));
        out.push_back(static_cast<std::uint8_t>(v));
    }

    std::uint16_t command_ = 14;
    MacAddress device_{0x02, 0x00, 0x00, 0x00, 0x00, 0x02};
    MacAddress requester_{};
    std::uint32_t requesterIp_ = 0;
    std::uint16_t sequence_ = 0;
    std::uint8_t mode_ = 2;
    std::uint8_t capability_ = 0;
    std::vector<std::uint8_t> items_;
};

}  // namespace valdrune::test
