#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

// The addresses the presenter hands to viewers, and the local addresses to serve them on.
namespace ViewerAddress {

// Labels show at most this many characters of an address, then "...".
constexpr int kShownLength = 30;
constexpr const char *kNoNetwork = "not_found_network";

// The IPv4 addresses of `addresses` in their order, as dotted text, without 127.0.0.1 and
// without link-local ones ("169." ...).
QStringList usableInterfaces(const QList<QHostAddress> &addresses);

// The machine's usable local addresses (see usableInterfaces), each logged; kNoNetwork alone
// when there is none, so that the list says why Start cannot serve.
QStringList enumerateInterfaces();

// The address to offer first: `saved` when the machine still has it, else the first one.
int chosenInterface(const QStringList &interfaces, const QString &saved);

// A cloud server as the presenter typed it, reduced to host and port: without an "http://" or
// "https://" in front and without trailing slashes.
QString serverHost(const QString &server);

// Local: "http://ip:port". Cloud: "http://" (or "https://" for a server given so) + the
// server's host and port + "?room=" + room identifier.
QString viewerUrl(bool cloudMode, const QString &ip, int port, const QString &server,
                  const QString &roomId);

// Where the questions and vote pages are served: in cloud mode the API server on this machine
// alone, "http://127.0.0.1:apiPort"; locally the viewer address.
QString apiBaseUrl(bool cloudMode, quint16 apiPort, const QString &viewerUrl);

// `url` when shorter than kShownLength + 1 characters, else its first kShownLength characters
// and "...".
QString shownText(const QString &url);

} // namespace ViewerAddress
