#include "platform/windows/EchoProber.h"

#include <winsock2.h>
#include <iphlpapi.h>
#include <icmpapi.h>
#include <windows.h>

#include <QMetaObject>
#include <QObject>
#include <algorithm>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "protocol/EchoStatus.h"

namespace valdrune {

int EchoCodeForStatus(unsigned long status, std::uint32_t replyAddress, std::uint32_t target) {
    if (status == IP_SUCCESS) return replyAddress != 0 ? ECHO_ANSWERED : ECHO_NET_UNREACHABLE;
    if (status == IP_REQ_TIMED_OUT) return ECHO_TIMED_OUT;
    const int code = static_cast<int>(status);
    if (IsIcmpErrorStatus(code)) return EchoCodeForIcmpError(code, replyAddress, target);
    // A failure of the local stack: nothing was sent, so nothing answered.
    return ECHO_NET_UNREACHABLE;
}

// Where workers deliver: a QObject on the owning thread, cleared (under the lock) before it
// goes, so that a worker finishing late posts nothing.
struct WindowsEchoProber::Mailbox {
    std::mutex lock;
    QObject* receiver = nullptr;
};

namespace {

// One echo, synchronously: runs on the worker.
int SendOneEcho(std::uint32_t address, const std::string& data, DWORD timeoutMs) {
    const HANDLE icmp = ::IcmpCreateFile();
    if (icmp == INVALID_HANDLE_VALUE) return ECHO_NOT_PREPARED;
    // One reply with the echoed data, and room for an ICMP error's quoted datagram.
    std::vector<std::uint8_t> reply(sizeof(ICMP_ECHO_REPLY) + data.size() + 8 + 128, 0);
    const DWORD count = ::IcmpSendEcho2(
        icmp, nullptr, nullptr, nullptr, htonl(address), const_cast<char*>(data.data()),
        static_cast<WORD>(data.size()), nullptr, reply.data(), static_cast<DWORD>(reply.size()),
        timeoutMs);
    const DWORD error = ::GetLastError();
    ::IcmpCloseHandle(icmp);
    if (count == 0) return EchoCodeForStatus(error, 0, address);
    ICMP_ECHO_REPLY first{};
    std::memcpy(&first, reply.data(), sizeof first);
    return EchoCodeForStatus(first.Status, ntohl(first.Address), address);
}

}  // namespace

WindowsEchoProber::WindowsEchoProber(IScheduler& scheduler)
    : scheduler_(scheduler),
      mailbox_(std::make_shared<Mailbox>()) {
    mailbox_->receiver = new QObject();
}

WindowsEchoProber::~WindowsEchoProber() {
    CancelAll();
    QObject* receiver = nullptr;
    {
        std::lock_guard<std::mutex> guard(mailbox_->lock);
        receiver = std::exchange(mailbox_->receiver, nullptr);
    }
    // Deleting it drops the outcomes already posted to it.
    delete receiver;
    // Each worker returns by its request's own time-out at the latest.
    ReapWorkers(true);
}

bool WindowsEchoProber::CanProbe() const {
    const HANDLE icmp = ::IcmpCreateFile();
    if (icmp == INVALID_HANDLE_VALUE) return false;
    ::IcmpCloseHandle(icmp);
    return true;
}

void WindowsEchoProber::Probe(std::uint32_t address, const std::string& data, Milliseconds timeout,
                              std::function<void(int)> done) {
    if (data.size() > 0xFFFF) {
        // Never call back from inside Probe: the caller is usually still setting up.
        results_.PostResult(scheduler_, std::move(done), ECHO_NOT_PREPARED);
        return;
    }
    const auto milliseconds =
        static_cast<DWORD>(std::clamp<long long>(timeout.count(), 1, 0x7FFFFFFF));
    const std::uint64_t key = nextKey_++;
    Pending& p = probes_[key];
    p.done = std::move(done);
    p.timer = scheduler_.StartTimer(timeout, false, [this, key]() {
        const auto it = probes_.find(key);
        if (it != probes_.end()) it->second.timer = 0;
        Finish(key, ECHO_TIMED_OUT);
    });
    ReapWorkers(false);
    try {
        auto finished = std::make_shared<std::atomic<bool>>(false);
        std::thread worker([mailbox = mailbox_, finished, this, key, address, data, milliseconds]() {
            const int code = SendOneEcho(address, data, milliseconds);
            std::lock_guard<std::mutex> guard(mailbox->lock);
            // `this` is used only on the owning thread, and only while the receiver lives.
            if (mailbox->receiver != nullptr)
                QMetaObject::invokeMethod(
                    mailbox->receiver, [this, key, code]() { Finish(key, code); },
                    Qt::QueuedConnection);
            *finished = true;
        });
        workers_.push_back(Worker{std::move(worker), std::move(finished)});
    } catch (const std::system_error&) {
        // No thread to be had.
        const auto it = probes_.find(key);
        auto callback = std::move(it->second.done);
        scheduler_.CancelTimer(it->second.timer);
        probes_.erase(it);
        results_.PostResult(scheduler_, std::move(callback), ECHO_NOT_PREPARED);
    }
}

void WindowsEchoProber::ReapWorkers(bool all) {
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (all || *it->finished) {
            it->thread.join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
}

void WindowsEchoProber::Finish(std::uint64_t key, int code) {
    const auto it = probes_.find(key);
    if (it == probes_.end()) return;  // timed out or cancelled already
    Pending p = std::move(it->second);
    probes_.erase(it);
    if (p.timer != 0) scheduler_.CancelTimer(p.timer);
    if (p.done) p.done(code);
}

void WindowsEchoProber::CancelAll() {
    auto probes = std::move(probes_);
    probes_.clear();
    for (auto& [key, p] : probes)
        if (p.timer != 0) scheduler_.CancelTimer(p.timer);
    // The posted results of probes that failed at once are dropped too.
    results_.Cut();
}

}  // namespace valdrune
