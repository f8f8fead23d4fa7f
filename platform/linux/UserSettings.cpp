// The user's settings in QSettings' native place (~/.config/<organisation>/<application>.conf).
#include "platform/qt/QtSettingsValues.h"

namespace valdrune {

std::unique_ptr<ISettingsValues> OpenUserSettings(const std::string& organisation,
                                                  const std::string& application,
                                                  const std::string& group) {
    const QString org = QString::fromStdString(organisation);
    const QString app = QString::fromStdString(application);
    return std::make_unique<QtSettingsValues>(
        [org, app] {
            return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, org,
                                               app);
        },
        group);
}

}  // namespace valdrune
