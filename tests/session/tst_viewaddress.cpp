#include "relay/PresenterClaim.h"
#include "session/CloudServerList.h"
#include "session/RoomIdentifier.h"
#include "session/ViewerAddress.h"

#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

class TestViewerAddress : public QObject
{
    Q_OBJECT
private slots:
    void usableInterfaces_data();
    void usableInterfaces();
    void chosenInterface_data();
    void chosenInterface();
    void viewerUrl_data();
    void viewerUrl();
    void questionsBaseFollowsMode();
    void shownText_data();
    void shownText();
    void presenterKeyIsMadeOnceAndKeptPrivate();
    void roomTagIsMadeOnceAndKept();
    void roomIdBelongsToTheKeyAndCanBeRenewed();
    void serverList_data();
    void serverList();
    void serverItems_data();
    void serverItems();
    void listAddressCanBeOverridden();
};

void TestViewerAddress::usableInterfaces_data()
{
    QTest::addColumn<QStringList>("addresses");
    QTest::addColumn<QStringList>("usable");
    QTest::newRow("loopback left out")
        << QStringList{"127.0.0.1", "192.168.1.5"} << QStringList{"192.168.1.5"};
    QTest::newRow("link-local left out")
        << QStringList{"169.254.3.4", "10.0.0.7"} << QStringList{"10.0.0.7"};
    QTest::newRow("IPv6 left out")
        << QStringList{"::1", "fe80::1", "2001:db8::5", "10.1.2.3"} << QStringList{"10.1.2.3"};
    QTest::newRow("order kept") << QStringList{"10.0.0.2", "172.16.0.1", "10.0.0.1"}
                                << QStringList{"10.0.0.2", "172.16.0.1", "10.0.0.1"};
    QTest::newRow("other loopback kept") << QStringList{"127.0.1.1"} << QStringList{"127.0.1.1"};
    QTest::newRow("nothing usable") << QStringList{"127.0.0.1", "::1"} << QStringList{};
}

void TestViewerAddress::usableInterfaces()
{
    QFETCH(QStringList, addresses);
    QFETCH(QStringList, usable);
    QList<QHostAddress> hosts;
    for (const QString &text : addresses)
        hosts.append(QHostAddress(text));
    QCOMPARE(ViewerAddress::usableInterfaces(hosts), usable);
}

void TestViewerAddress::chosenInterface_data()
{
    QTest::addColumn<QString>("saved");
    QTest::addColumn<int>("index");
    QTest::newRow("still here") << "10.0.0.7" << 1;
    QTest::newRow("gone") << "10.9.9.9" << 0;
    QTest::newRow("none saved") << "" << 0;
}

void TestViewerAddress::chosenInterface()
{
    QFETCH(QString, saved);
    QFETCH(int, index);
    QCOMPARE(ViewerAddress::chosenInterface({"192.168.1.4", "10.0.0.7"}, saved), index);
}

void TestViewerAddress::viewerUrl_data()
{
    QTest::addColumn<bool>("cloud");
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("url");
    QTest::newRow("local") << false << "relay.example.com:8089"
                           << "http://192.168.1.5:8080";
    QTest::newRow("cloud") << true << "relay.example.com:8089"
                           << "http://relay.example.com:8089?room=R";
    // A server typed as a link gets no second scheme and no slash before the room.
    QTest::newRow("typed with https and slash") << true << "https://relay.example.org:8089/"
                                                << "https://relay.example.org:8089?room=R";
    QTest::newRow("typed with http") << true << "HTTP://relay.example.org"
                                     << "http://relay.example.org?room=R";
    QTest::newRow("spaces around") << true << " relay.example.org:80// "
                                   << "http://relay.example.org:80?room=R";
}

void TestViewerAddress::viewerUrl()
{
    QFETCH(bool, cloud);
    QFETCH(QString, server);
    QFETCH(QString, url);
    QCOMPARE(ViewerAddress::viewerUrl(cloud, "192.168.1.5", 8080, server, "R"), url);
}

void TestViewerAddress::questionsBaseFollowsMode()
{
    QCOMPARE(ViewerAddress::apiBaseUrl(false, 41000, "http://192.168.1.5:8080"),
             QString("http://192.168.1.5:8080"));
    QCOMPARE(ViewerAddress::apiBaseUrl(true, 41000, "http://192.168.1.5:8080"),
             QString("http://127.0.0.1:41000"));
    QCOMPARE(ViewerAddress::apiBaseUrl(true, 0, "x"), QString("http://127.0.0.1:0"));
}

void TestViewerAddress::shownText_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("shown");
    QTest::newRow("24 characters") << "http://192.168.1.5:8080"
                                   << "http://192.168.1.5:8080";
    const QString thirty = "http://192.168.100.200:8080/ab";
    QTest::newRow("30 characters") << thirty << thirty;
    QTest::newRow("31 characters") << thirty + "c" << thirty + "...";
    QTest::newRow("cloud") << "http://relay.example.com:8089?room=0123"
                           << "http://relay.example.com:8089?...";
}

void TestViewerAddress::shownText()
{
    QFETCH(QString, url);
    QFETCH(QString, shown);
    QCOMPARE(ViewerAddress::shownText(url), shown);
}

void TestViewerAddress::presenterKeyIsMadeOnceAndKeptPrivate()
{
    QTemporaryDir dir;
    QSettings settings(dir.filePath("s.ini"), QSettings::IniFormat);
    QVERIFY(!settings.contains("PRESENTER_KEY"));
    const PresenterIdentity first = RoomIdentifier::presenterIdentity(settings);
    QVERIFY(first.isValid());
    QCOMPARE(RoomIdentifier::presenterIdentity(settings).publicKey(), first.publicKey());
    // The secret is in the file, which only its owner may read.
    QCOMPARE(QFile::permissions(settings.fileName()) &
                 (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther),
             QFile::Permissions());
    settings.setValue("PRESENTER_KEY", "not a key");
    QVERIFY(RoomIdentifier::presenterIdentity(settings).publicKey() != first.publicKey());
}

void TestViewerAddress::roomTagIsMadeOnceAndKept()
{
    QTemporaryDir dir;
    QSettings settings(dir.filePath("s.ini"), QSettings::IniFormat);
    const QString first = RoomIdentifier::roomTag(settings);
    QVERIFY(QRegularExpression("^[0-9a-f]{16}$").match(first).hasMatch());
    QCOMPARE(settings.value("ROOM_TAG").toString(), first);
    QCOMPARE(RoomIdentifier::roomTag(settings), first);
    settings.setValue("ROOM_TAG", "../../x");
    QVERIFY(RoomIdentifier::roomTag(settings) != first);
}

void TestViewerAddress::roomIdBelongsToTheKeyAndCanBeRenewed()
{
    QTemporaryDir dir;
    QSettings settings(dir.filePath("s.ini"), QSettings::IniFormat);
    const QString room = RoomIdentifier::roomId(settings);
    QCOMPARE(room.size(), 49);
    QCOMPARE(RoomIdentifier::roomId(settings), room);
    const QByteArray key = RoomIdentifier::presenterIdentity(settings).publicKey();
    QVERIFY(PresenterClaim::belongsTo(room, key));
    QVERIFY(!PresenterClaim::belongsTo(room, PresenterIdentity::generate().publicKey()));
    const QString renewed = RoomIdentifier::newRoom(settings);
    QVERIFY(renewed != room);
    QCOMPARE(RoomIdentifier::roomId(settings), renewed);
    QVERIFY(PresenterClaim::belongsTo(renewed, key));
}

void TestViewerAddress::serverList_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("servers");
    QTest::newRow("array") << QByteArray(R"(["a.example:8089","b.example:8089"])")
                           << QStringList{"a.example:8089", "b.example:8089"};
    QTest::newRow("non-string element")
        << QByteArray(R"(["a.example:8089",5])") << QStringList{"a.example:8089", ""};
    QTest::newRow("object") << QByteArray(R"({"servers":["a.example:8089"]})") << QStringList{};
    QTest::newRow("invalid JSON") << QByteArray("<html>502</html>") << QStringList{};
    QTest::newRow("empty body") << QByteArray() << QStringList{};
}

void TestViewerAddress::serverList()
{
    QFETCH(QByteArray, body);
    QFETCH(QStringList, servers);
    QCOMPARE(CloudServerList::parseServerList(body), servers);
}

void TestViewerAddress::serverItems_data()
{
    QTest::addColumn<QStringList>("custom");
    QTest::addColumn<QStringList>("publicServers");
    QTest::addColumn<bool>("answered");
    QTest::addColumn<QStringList>("items");
    const QString loading = CloudServerList::kLoadingItem;
    QTest::newRow("nothing yet") << QStringList{"", "", ""} << QStringList{} << false
                                 << QStringList{loading};
    QTest::newRow("list failed") << QStringList{"", "", ""} << QStringList{} << true
                                 << QStringList{CloudServerList::kUnavailableItem};
    QTest::newRow("custom only") << QStringList{"", "mine:8089", ""} << QStringList{} << true
                                 << QStringList{"mine:8089"};
    QTest::newRow("custom first") << QStringList{"c1:1", "", "c3:3"} << QStringList{"p:2"} << true
                                  << QStringList{"c1:1", "c3:3", "p:2"};
    QTest::newRow("public only") << QStringList{"", "", ""} << QStringList{"p:1", "q:2"} << true
                                 << QStringList{"p:1", "q:2"};
}

void TestViewerAddress::serverItems()
{
    QFETCH(QStringList, custom);
    QFETCH(QStringList, publicServers);
    QFETCH(bool, answered);
    QFETCH(QStringList, items);
    QTemporaryDir dir;
    QSettings settings(dir.filePath("s.ini"), QSettings::IniFormat);
    for (int i = 0; i < custom.size(); ++i)
        settings.setValue(CloudServerList::customServerKey(i), custom[i]);
    QCOMPARE(CloudServerList::serverItems(settings, publicServers, answered), items);
    for (const QString &item : items)
        QCOMPARE(CloudServerList::isServer(item), item != CloudServerList::kLoadingItem &&
                                                      item != CloudServerList::kUnavailableItem);
    QVERIFY(!CloudServerList::isServer(CloudServerList::kAddCustomItem));
}

void TestViewerAddress::listAddressCanBeOverridden()
{
    QTemporaryDir dir;
    QSettings settings(dir.filePath("s.ini"), QSettings::IniFormat);
    QCOMPARE(CloudServerList::publicListUrl(settings).path(),
             QString("/api/lumacast/servers/list"));
    settings.setValue("SERVER_LIST_HOST", "http://127.0.0.1:4567");
    QCOMPARE(CloudServerList::publicListUrl(settings),
             QUrl("http://127.0.0.1:4567/api/lumacast/servers/list"));
}

QTEST_GUILESS_MAIN(TestViewerAddress)
#include "tst_viewaddress.moc"
