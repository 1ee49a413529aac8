#include "ServerDependencies.h"
#include "support/LogCapture.h"
#include "support/RawHttpClient.h"
#include "web/APIWebServer.h"
#include "web/WebServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>
#include <memory>

using namespace RawHttpClient;

class TestAPIWebServer : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void portZeroLogsTheBoundPort();
    void newConnectionsAreLogged();
    void noQuestionIntake();
    void configIsOnlyAStaticFile();
    void staticFilesStayInsideWebDir_data();
    void staticFilesStayInsideWebDir();
    void listsMatchTheViewerServer_data();
    void listsMatchTheViewerServer();
    void voteResultsAreServed();
    void listenAgainOnlyAfterClose();

private:
    std::unique_ptr<ServerDependencies> m_deps;
    std::unique_ptr<APIWebServer> m_server;
};

void TestAPIWebServer::init()
{
    m_deps = std::make_unique<ServerDependencies>();
    m_server = std::make_unique<APIWebServer>(&m_deps->vote, &m_deps->storage);
    QVERIFY(m_server->listen("127.0.0.1", 0, m_deps->web.dir()));
    QVERIFY(m_deps->waitForStore());
}

void TestAPIWebServer::cleanup()
{
    m_server.reset();
    m_deps.reset();
}

void TestAPIWebServer::portZeroLogsTheBoundPort()
{
    LogCapture log;
    APIWebServer server(&m_deps->vote, &m_deps->storage);
    QCOMPARE(server.serverPort(), quint16(0));
    QVERIFY(server.listen("", 0, m_deps->web.dir()));
    QVERIFY(server.serverPort() != 0);
    QVERIFY(log.contains(QString(" START API SERVER: true %1").arg(server.serverPort())));
    QCOMPARE(get(server.serverPort(), "/"), get(m_server->serverPort(), "/"));
}

void TestAPIWebServer::newConnectionsAreLogged()
{
    LogCapture log;
    get(m_server->serverPort(), "/");
    QVERIFY(log.contains("NEW CONNECTION TO API SERVER"));
}

void TestAPIWebServer::noQuestionIntake()
{
    const QByteArray json = R"({"name":"Ann","msg":"Hello world"})";
    QCOMPARE(get(m_server->serverPort(), "/feedback.php?raw=" + QUrl::toPercentEncoding(json)),
             notFound());
    QCOMPARE(get(m_server->serverPort(), "/feedback.php"), notFound());
    // Anything queued would be stored before this marker.
    m_deps->storage.postQuestion(R"({"name":"marker","msg":"marker"})");
    QTRY_COMPARE(m_deps->storage.selectQuestions().size(), 1);
    QCOMPARE(m_deps->storage.selectQuestions().first().name, QString("marker"));
}

void TestAPIWebServer::configIsOnlyAStaticFile()
{
    QCOMPARE(get(m_server->serverPort(), "/config.js"), notFound());
    m_deps->web.write("WEB/config.js", "var lag = 1;");
    QCOMPARE(get(m_server->serverPort(), "/config.js"),
             typedReply("application/javascript; charset=\"utf-8\"", "var lag = 1;"));
}

void TestAPIWebServer::staticFilesStayInsideWebDir_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::newRow("dot-dot") << QByteArray("/../secret.txt");
    QTest::newRow("encoded dot-dot") << QByteArray("/%2e%2e/secret.txt");
    QTest::newRow("no leading slash") << QByteArray("_secret.txt");
}

void TestAPIWebServer::staticFilesStayInsideWebDir()
{
    QFETCH(QByteArray, path);
    QCOMPARE(get(m_server->serverPort(), path), notFound());
}

void TestAPIWebServer::listsMatchTheViewerServer_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::newRow("flat") << QByteArray("/feedback_list.json");
    QTest::newRow("raw") << QByteArray("/feedback_list.php");
}

void TestAPIWebServer::listsMatchTheViewerServer()
{
    QFETCH(QByteArray, path);
    WebServer viewer(&m_deps->vote, &m_deps->storage);
    viewer.listen("127.0.0.1", 0, m_deps->web.dir(), 0);
    QCOMPARE(get(m_server->serverPort(), path), jsonReply("[\n]\n"));
    for (const char *msg : {"first", "second <b>&"})
        m_deps->storage.postQuestion(
            QJsonDocument(QJsonObject{{"name", "Ann"}, {"msg", msg}}).toJson());
    QTRY_COMPARE(m_deps->storage.selectQuestions().size(), 2);
    const QHostAddress client("127.0.0.5");
    const QByteArray reply = get(m_server->serverPort(), path, client);
    QVERIFY(reply.contains("\"addr\": \"127.0.0.5\""));
    QCOMPARE(reply, get(viewer.serverPort(), path, client));
}

void TestAPIWebServer::voteResultsAreServed()
{
    QCOMPARE(get(m_server->serverPort(), "/vote_result_json.php"),
             jsonReply("{\n    \"options\": [\n    ],\n    \"results\": [\n        0,\n   "
                       "     0,\n        0,\n        0,\n        0,\n        0,\n        "
                       "0,\n        0,\n        0\n    ],\n    \"total\": 0\n}\n"));
}

void TestAPIWebServer::listenAgainOnlyAfterClose()
{
    LogCapture log;
    const quint16 port = m_server->serverPort();
    QVERIFY(!m_server->listen("127.0.0.1", port, m_deps->web.dir()));
    QVERIFY(log.contains(" START API SERVER: false"));
    m_server->close();
    QTcpSocket refused;
    refused.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(!refused.waitForConnected(2000));
    QVERIFY(m_server->listen("127.0.0.1", port, m_deps->web.dir()));
    QCOMPARE(get(m_server->serverPort(), "/feedback_list.json"), jsonReply("[\n]\n"));
}

QTEST_GUILESS_MAIN(TestAPIWebServer)
#include "tst_apiwebserver.moc"
