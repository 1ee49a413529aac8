#pragma once

#include "relay/CLOUDProxy.h"
#include "relay/PresenterClaim.h"
#include "relay/PresenterIdentity.h"

#include <QString>

// The test studio's presenter key, and rooms that belong to it.
namespace StudioKey {

inline const PresenterIdentity &identity()
{
    static const PresenterIdentity key = PresenterIdentity::generate();
    return key;
}

// The room with tag `tag` (16 hexadecimal characters) of the test studio's key.
inline QString room(const char *tag)
{
    return PresenterClaim::roomFor(identity().publicKey(), QString::fromLatin1(tag));
}

} // namespace StudioKey

// CLOUDProxy presenting with the test studio's key.
class StudioProxy : public CLOUDProxy
{
public:
    explicit StudioProxy(DBStorage *store = nullptr, quint16 ingestPort = 0)
        : CLOUDProxy(store, ingestPort)
    {
        setIdentity(StudioKey::identity());
    }
};
