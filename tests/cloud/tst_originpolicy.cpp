#include "cloud/OriginPolicy.h"

#include <QtTest>

class TestOriginPolicy : public QObject
{
    Q_OBJECT
private slots:
    void allows_data();
    void allows();
};

void TestOriginPolicy::allows_data()
{
    QTest::addColumn<QString>("origin");
    QTest::addColumn<QString>("request");
    QTest::addColumn<bool>("allowed");
    const QString relay = "ws://relay.example:8089/websocket/right/r/readvideo";
    QTest::newRow("no origin: not a browser") << "" << relay << true;
    QTest::newRow("own page") << "http://relay.example:8089" << relay << true;
    QTest::newRow("own page, other case") << "http://RELAY.example:8089" << relay << true;
    QTest::newRow("configured") << "https://talks.example.org" << relay << true;
    QTest::newRow("configured, final slash") << "https://talks.example.org/" << relay << true;
    QTest::newRow("other site") << "http://evil.example" << relay << false;
    QTest::newRow("other port") << "http://relay.example:9000" << relay << false;
    QTest::newRow("look-alike host") << "http://relay.example.evil:8089" << relay << false;
    QTest::newRow("null origin") << "null" << relay << false;
    QTest::newRow("default ports") << "http://relay.example"
                                   << "ws://relay.example/websocket/left/r" << true;
    QTest::newRow("https page, relay behind TLS on 443")
        << "https://relay.example"
        << "ws://relay.example/websocket/right/r/readvideo" << true;
    QTest::newRow("https page, its port named")
        << "https://relay.example"
        << "wss://relay.example:443/websocket/left/r" << true;
    QTest::newRow("https page, another port") << "https://relay.example"
                                              << "ws://relay.example:80/websocket/left/r" << false;
}

void TestOriginPolicy::allows()
{
    QFETCH(QString, origin);
    QFETCH(QString, request);
    QFETCH(bool, allowed);
    const OriginPolicy policy({"https://talks.example.org"});
    QCOMPARE(policy.allows(origin, QUrl(request)), allowed);
}

QTEST_GUILESS_MAIN(TestOriginPolicy)
#include "tst_originpolicy.moc"
