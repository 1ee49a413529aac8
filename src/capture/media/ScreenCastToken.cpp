#include "capture/media/ScreenCastToken.h"

#include "session/AppSettings.h"

#include <QSettings>
#include <memory>

namespace ScreenCastToken {

const char *const settingsKey = "SCREENCAST_RESTORE_TOKEN";

QString load()
{
    std::unique_ptr<QSettings> settings(createAppSettings());
    return settings->value(settingsKey).toString();
}

void save(const QString &token)
{
    std::unique_ptr<QSettings> settings(createAppSettings());
    settings->setValue(settingsKey, token);
}

} // namespace ScreenCastToken
