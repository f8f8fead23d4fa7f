// Icon 129: the application icon in its 16 and 32 pixel images.
#pragma once

#include <QIcon>

namespace valdrune {

QIcon AppIcon();

}  // namespace valdrune
