#include "res/IconResource.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must be used outside any namespace.
static void InitIcons() { Q_INIT_RESOURCE(valdrune_icons); }

namespace valdrune {

void InitIconResource() { InitIcons(); }

}  // namespace valdrune
