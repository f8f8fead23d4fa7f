// Exit status of valdrune-cli. Documented in --help and in the man page; scripts rely on them.
#pragma once

namespace valdrune::cli {

inline constexpr int EXIT_OK = 0;
inline constexpr int EXIT_FAILED = 1;        // socket, adapter, file or send failure
inline constexpr int EXIT_USAGE = 2;         // unknown command or option, missing argument
inline constexpr int EXIT_REFUSED = 3;       // an entry the rules refuse; nothing was sent
inline constexpr int EXIT_CONFLICT = 4;      // an address is already in use; nothing was sent
inline constexpr int EXIT_TIMEOUT = 5;       // the device did not accept in time
inline constexpr int EXIT_NOT_BACK = 6;      // the device was not seen again after its restart
inline constexpr int EXIT_NOT_FOUND = 7;     // device, adapter or echo answer not found
inline constexpr int EXIT_CANNOT_PROBE = 8;  // no permission to send ICMP echo
inline constexpr int EXIT_PROBLEM = 9;       // doctor: a check found a problem
inline constexpr int EXIT_NOT_PERMITTED = 10;  // reach: no right to change addresses and routes

// The block printed at the end of --help.
const char* ExitCodeHelp();

}  // namespace valdrune::cli
