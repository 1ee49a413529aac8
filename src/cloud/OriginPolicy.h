#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

// Which web pages may open WebSockets to the relay. A browser always names the page's origin on
// a WebSocket handshake and lets any page open one to any server, so without this check any web
// site could use its visitors' browsers to watch, vote or flood a room. Allowed: the relay's own
// origin (the host and port the request was sent to, so also behind a balancer or a name of its
// own), the configured ones (--allow-origin), and no Origin at all: only non-browser clients
// (the studio, tools) leave it out, and they act for nobody else. Plain value, any thread.
class OriginPolicy
{
public:
    // `allowed`: origins such as "https://talks.example.org"; compared without a final '/'.
    explicit OriginPolicy(const QStringList &allowed = {});

    // `origin`: the handshake's Origin header (empty when none); `requestUrl`: the address the
    // client asked for (its Host header).
    bool allows(const QString &origin, const QUrl &requestUrl) const;

private:
    QStringList m_allowed;
};
