#pragma once

#include <QString>

// The restore token of the desktop's screen-cast portal, kept in the studio's settings so that
// a later session shares the same monitor or window without the portal's picker. The portal
// hands out a new token at every start, and the old one is then spent: save each one.
namespace ScreenCastToken {

extern const char *const settingsKey;

QString load();
void save(const QString &token);

} // namespace ScreenCastToken
