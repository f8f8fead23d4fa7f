// The three built-in model lists and the browser class of a device.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/Record.h"

namespace valdrune {

// Resource ids of lists 0, 1 and 2.
inline constexpr std::array<int, 3> MODEL_LIST_RESOURCE_IDS{143, 144, 145};

using ModelList = std::vector<std::string>;
using ModelLists = std::array<ModelList, 3>;

// The rows of one list text: comments ("//" up to and including the next LF) removed, the rest
// split at CR LF, each piece trimmed of space, tab, vertical tab, CR and LF, empty pieces dropped.
ModelList LoadModelList(std::string_view text);

// True when some row of the list occurs anywhere inside the model name.
bool ModelListContains(const ModelList& list, std::string_view model);

// The number a text begins with: leading white space, optional sign, digits with optional
// fraction and exponent; reading stops at the first character that does not fit; 0 if none.
double LeadingNumber(std::string_view text);

// Class -1, 0, 1, 2 or 3 from the browser bits, the port kind and the model lists.
int ClassifyDevice(const _CommandDataTable& record, const ModelLists& lists);

// Whether the device's page has to open in IE mode (portKind-aware form of class 3 / -1), for a
// device of that browser class.
bool NeedsIeMode(const _CommandDataTable& record, int browserClass);

}  // namespace valdrune
