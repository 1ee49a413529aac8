#pragma once

class QSettings;

// The one settings store of the process: INI format, user scope, organisation
// "Quillfen", application "LumacastPRO" (on Linux ~/.config/Quillfen/LumacastPRO.ini).
// The caller owns the returned object.
QSettings *createAppSettings();
