// The model lists and XML templates built into the program, by resource id.
#pragma once

#include <string_view>

namespace valdrune {

// Lists 143, 144, 145; empty for an unknown id.
std::string_view ModelListResource(int id);
// Templates 140, 141, 142; empty for an unknown id.
std::string_view XmlTemplateResource(int id);

}  // namespace valdrune
