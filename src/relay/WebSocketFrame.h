#pragma once

#include <QByteArray>

namespace WebSocketFrame {

// One final, unmasked binary frame (server to client) carrying the payload.
// Built once per chunk so every viewer gets the same bytes without re-framing.
QByteArray binary(const QByteArray &payload);

} // namespace WebSocketFrame
