// Windows Sockets 2 started for the lifetime of this object. Without it every socket call
// fails (WSANOTINITIALISED), which the transport reports as its bind failure.
#pragma once

namespace valdrune {

class WinsockSession {
  public:
    WinsockSession();
    ~WinsockSession();
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;

    bool Started() const { return started_; }

  private:
    bool started_ = false;
};

}  // namespace valdrune
