#pragma once

#include "relay/JoinCache.h"

#include <QByteArray>
#include <QList>

// One stream source's join cache, and the frames a joining viewer is sent from it. The frames are
// built once and shared by every joiner: a crowd joining while a large group of pictures is
// cached costs that group once, not once per viewer. The cache keeps growing as the stream goes
// on, so the frames are the group as it was when first framed plus one frame of what came since;
// once what came since is a good part of the group, the whole is framed anew. The frames are
// kept in the cache, so the process's join-cache budget counts them and drops them with it.
class HeadStart
{
public:
    // Below this, what came since the group was framed is framed on its own.
    static constexpr int kMinTailBytes = 256 * 1024;

    void append(const QByteArray &packets) { m_cache.append(packets); }
    // Starts over, from `head` (the group as another node cached it) when given.
    void restart(const QByteArray &head = QByteArray());

    const QByteArray &contents() const { return m_cache.contents(); }
    // What a joiner is sent, in order; empty before the first full picture.
    QList<QByteArray> frames();

private:
    JoinCache m_cache;
    int m_framedGeneration = -1;
    int m_groupBytes = 0; // of the cache when its framed group was made
    int m_tailBytes = 0;  // framed since
};
