// How the tools' messages name this host's rights: each platform supplies its own words
// (kHostRights in its PlatformServices.h), so no shared text names another system's.
#pragma once

#include <string_view>

namespace valdrune {

struct HostRights {
    // Named in brackets in the note that neighbour-cache entries cannot be dropped.
    std::string_view flush = {};
    // The sentence that ends the message when no echo probe may run: what to do about it.
    std::string_view probe = {};
    // What valdrune-cli reach needs and how to get it, ending the sentence "... which needs ".
    std::string_view reach = {};
};

}  // namespace valdrune
