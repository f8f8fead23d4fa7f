#include "platform/windows/Winsock.h"

#include <winsock2.h>

namespace valdrune {

WinsockSession::WinsockSession() {
    WSADATA data{};
    started_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

WinsockSession::~WinsockSession() {
    if (started_) ::WSACleanup();
}

}  // namespace valdrune
