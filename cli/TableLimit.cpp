#include "cli/TableLimit.h"

#include "protocol/DeviceTable.h"

namespace valdrune::cli {

std::string BeyondTableText(std::size_t count) {
    return "Note: the device table is full at " + std::to_string(MAX_DEVICES) + " devices; " +
           std::to_string(count) + " more device" + (count == 1 ? "" : "s") + " answered and " +
           (count == 1 ? "is" : "are") + " not listed. Search on a smaller segment to see them.";
}

}  // namespace valdrune::cli
