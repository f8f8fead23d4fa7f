#include "platform/PrivilegeSummary.h"

namespace valdrune {

std::string PrivilegeSummary(bool canProbe, bool canFlush, std::string_view noEcho,
                             std::string_view noFlush, std::string_view remedy) {
    if (canProbe && canFlush) return "ICMP echo and neighbour-cache flush are available.";
    std::string text;
    if (!canProbe) text += noEcho;
    if (!canFlush) text += noFlush;
    text += remedy;
    return text;
}

}  // namespace valdrune
