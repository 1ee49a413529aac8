#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>

class QSettings;

// The cloud servers the presenter can choose from: three of their own ("SERVER_1" to
// "SERVER_3") and the public list that the maker's web service returns.
namespace CloudServerList {

constexpr int kCustomServerCount = 3;
constexpr const char *kLoadingItem = "-- loading public servers list ... --";
constexpr const char *kUnavailableItem = "-- public servers list unavailable --";
constexpr const char *kAddCustomItem = "--- add custom server ---";
constexpr const char *kAddCustomData = "ADD_CUSTOM_SERVER";
// Where the public list comes from: scheme, host and port. The settings key "SERVER_LIST_HOST"
// replaces it, for a private deployment or a test's local server.
constexpr const char *kDefaultListHost = "https://lumacast.quillfen.com";
constexpr const char *kListPath = "/api/lumacast/servers/list";

// "SERVER_" followed by index + 1.
QString customServerKey(int index);

// The request address of the public list.
QUrl publicListUrl(const QSettings &settings);

// The server addresses of a reply body: a JSON array whose elements are strings (any other
// element counts as an empty text). Anything but an array gives no server.
QStringList parseServerList(const QByteArray &body);

// The server items of the combo, in order: the non-empty custom servers, the public ones, and
// when both are empty a placeholder: loading until the public list was answered, afterwards
// (a failed download, or no server in it) unavailable. The "add custom server" item is not
// included.
QStringList serverItems(const QSettings &settings, const QStringList &publicServers,
                        bool listAnswered);

// Whether a combo item names a server, rather than being a placeholder or "add custom server".
bool isServer(const QString &item);

} // namespace CloudServerList
