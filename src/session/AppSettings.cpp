#include "session/AppSettings.h"

#include <QSettings>

QSettings *createAppSettings()
{
    QSettings::setDefaultFormat(QSettings::IniFormat);
    return new QSettings(QSettings::IniFormat, QSettings::UserScope, "Quillfen", "LumacastPRO");
}
