#include "app/AppIcon.h"

#include <QString>

#include "res/IconResource.h"

namespace valdrune {

QIcon AppIcon() {
    InitIconResource();
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/valdrune-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/icons/valdrune-32.png"), QSize(32, 32));
    return icon;
}

}  // namespace valdrune
