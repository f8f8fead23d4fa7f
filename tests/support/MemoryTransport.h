// An in-memory datagram transport: records every broadcast with its virtual time and lets a
// test inject answers into the engine's receive buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "protocol/Seams.h"

namespace valdrune::test {

struct SentDatagram {
    Milliseconds time{0};
    std::vector<std::uint8_t> bytes;
    std::string bindAddress;  // the binding in force when it was sent
    std::int32_t ifIndex = -1;

    std::uint16_t Command() const {
        return bytes.size() >= 6 ? static_cast<std::uint16_t>(bytes[4] << 8 | bytes[5]) : 0;
    }
    std::uint16_t Sequence() const {
        return bytes.size() >= 24 ? static_cast<std::uint16_t>(bytes[22] << 8 | bytes[23]) : 0;
    }
    std::uint8_t Mode() const { return bytes.size() > 35 ? bytes[35] : 0; }
};

struct BindCall {
    std::string address;
    std::int32_t ifIndex = -1;
};

class MemoryTransport : public IDatagramTransport {
public:
    // The clock stamps each sent datagram; without one every time is 0.
    explicit MemoryTransport(const IScheduler* clock = nullptr) : clock_(clock) {}

    int CreateAndBind(const std::string& bindAddress, std::int32_t ifIndex) override;
    void Close() override;
    bool IsOpen() const override { return open_; }
    int SendBroadcast(const std::uint8_t* data, std::size_t size) override;
    void SetReceiver(std::uint8_t* buffer, std::size_t capacity,
                     std::function<void(std::size_t)> onReceived) override;

    // Copies at most the receiver's capacity into its buffer and calls it with the count, as
    // a real socket read would. Returns false when no receiver is set.
    bool Deliver(std::span<const std::uint8_t> bytes);

    // Failure switches.
    void FailNextSend(int count = 1) { failSends_ = count; }
    void FailAllSends(bool on) { failAllSends_ = on; }
    void FailBind(bool on) { failBind_ = on; }

    const std::vector<SentDatagram>& Sent() const { return sent_; }
    // Sent datagrams with the given command code.
    std::vector<SentDatagram> SentWithCommand(std::uint16_t command) const;
    void ClearSent() { sent_.clear(); }
    const std::vector<BindCall>& Binds() const { return binds_; }
    int CloseCount() const { return closes_; }
    int FailedSends() const { return failedSends_; }
    bool HasReceiver() const { return static_cast<bool>(onReceived_); }
    const std::string& BoundAddress() const { return boundAddress_; }
    std::int32_t BoundIfIndex() const { return boundIfIndex_; }

private:
    const IScheduler* clock_;
    bool open_ = false;
    bool failBind_ = false;
    bool failAllSends_ = false;
    int failSends_ = 0;
    int failedSends_ = 0;
    int closes_ = 0;
    std::string boundAddress_;
    std::int32_t boundIfIndex_ = -1;
    std::vector<SentDatagram> sent_;
    std::vector<BindCall> binds_;
    std::uint8_t* buffer_ = nullptr;
    std::size_t capacity_ = 0;
    std::function<void(std::size_t)> onReceived_;
};

}  // namespace valdrune::test
