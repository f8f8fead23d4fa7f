// Calls a function whenever a file descriptor is readable, on the Qt event loop.
#pragma once

#include <cstdint>
#include <functional>

class QSocketNotifier;

namespace valdrune {

class FdWatch {
  public:
    FdWatch(std::intptr_t fd, std::function<void()> onReadable);
    // Safe to destroy from inside onReadable; the descriptor is not closed (it is the owner's),
    // but the watch stops before the owner closes it.
    ~FdWatch();
    FdWatch(const FdWatch&) = delete;
    FdWatch& operator=(const FdWatch&) = delete;

    std::intptr_t Fd() const { return fd_; }

  private:
    std::intptr_t fd_;  // a descriptor, or a SOCKET on Windows
    std::function<void()> onReadable_;
    QSocketNotifier* notifier_ = nullptr;
    bool* destroyedFlag_ = nullptr;  // set while onReadable runs
};

}  // namespace valdrune
