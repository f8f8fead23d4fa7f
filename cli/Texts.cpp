#include "cli/Texts.h"

#include "cli/ExitCodes.h"
#include "res/StringTable.h"

namespace valdrune::cli {

std::string Text(int id) {
    const std::string_view raw = LoadText(id, Language::English);
    std::string out;
    out.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r') continue;
        out += raw[i] == '\n' ? ' ' : raw[i];
    }
    return out;
}

std::string SetupFailedText(int id) {
    if (id == 439) {
        return Text(439) +
               ": the device did not accept the settings within 30 s, so it keeps its old "
               "ones. Check that it answers on this adapter (valdrune-cli search) and try again.";
    }
    return Text(440) +
           ": the device accepted the settings and restarted, but did not answer a search "
           "within 120 s. It may still be starting, or its new address may be unreachable from "
           "this adapter; search again (valdrune-cli search) before changing it once more.";
}

const char* ExitCodeHelp() {
    return "Exit status:\n"
           "  0  success\n"
           "  1  failure (no usable adapter, socket, file or send error)\n"
           "  2  usage error (unknown command or option, missing argument)\n"
           "  3  refused input: an entry the settings rules refuse, a malformed address,\n"
           "     MAC or plan; nothing was sent\n"
           "  4  address conflict: an address is already in use; nothing was sent\n"
           "  5  time-out: the device did not accept the settings in time\n"
           "  6  the device was not seen again after its restart\n"
           "  7  not found: the device (or adapter) did not answer, fewer devices than\n"
           "     --expect, or no echo answer\n"
           "  8  ICMP echo is not permitted for this process, so addresses cannot be probed\n"
           "  9  doctor: a check found a problem\n"
           "  10 reach: not permitted to change addresses and routes (needs root or\n"
           "     administrator rights)\n";
}

}  // namespace valdrune::cli
