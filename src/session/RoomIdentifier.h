#pragma once

#include <QString>

#include "relay/PresenterIdentity.h"

class QSettings;

// This studio's room on a cloud server and the credential that makes it the studio's: an Ed25519
// key kept in the settings ("PRESENTER_KEY", never shown, never sent) and a random tag
// ("ROOM_TAG"). The room id, which viewers see in the link, is made from the tag and the public
// key (PresenterClaim), so it says nothing about the machine and nobody else can present in it.
namespace RoomIdentifier {

// The key of the settings; a new one, stored there, when it is absent or unreadable. The
// settings file is then made readable by its owner only, since it holds the secret.
PresenterIdentity presenterIdentity(QSettings &settings);

// "ROOM_TAG" of the settings; a new random one, stored there, when it is absent or malformed.
QString roomTag(QSettings &settings);

// The room of the settings' key and tag: stable across runs until newRoom().
QString roomId(QSettings &settings);

// A new tag, so a new room and link for the same studio (a new talk); returns the new room id.
QString newRoom(QSettings &settings);

} // namespace RoomIdentifier
