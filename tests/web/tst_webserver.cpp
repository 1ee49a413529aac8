#include "ServerDependencies.h"
#include "net/ConnectionsPerAddress.h"
#include "support/LogCapture.h"
#include "support/RawHttpClient.h"
#include "web/WebServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QtTest>
#include <memory>
#include <vector>

using namespace RawHttpClient;

namespace {

QByteArray questionQuery(const QByteArray &json)
{
    return "/feedback.php?raw=" + QUrl::toPercentEncoding(json);
}

} // namespace

class TestWebServer : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void staticFiles_data();
    void staticFiles();
    void nonGetLinesGetNoReply();
    void requestLineInTwoSegmentsIsAnsweredOnce();
    void feedbackWithoutQueryIsBadRequest();
    void invalidPayloadIsRefused_data();
    void invalidPayloadIsRefused();
    void questionIsAnsweredAndStored();
    void plusSignsAreKept();
    void questionsArePacedPerAddressAndBounded();
    void questionThatCannotBeStoredIsToldSo();
    void oneAddressCannotLockOthersOut();
    void emptyLists_data();
    void emptyLists();
    void listShapes();
    void eachClientSeesItsOwnAddress();
    void prefixRouting();
    void configReportsCurrentLag();
    void voteResultsBeforeAndDuringVote();
    void stopListenAndListenAgain();

private:
    quint16 port() const { return m_server->serverPort(); }
    void storeQuestion(const QString &name, const QString &msg);

    std::unique_ptr<ServerDependencies> m_deps;
    std::unique_ptr<WebServer> m_server;
};

void TestWebServer::init()
{
    m_deps = std::make_unique<ServerDependencies>();
    m_server = std::make_unique<WebServer>(&m_deps->vote, &m_deps->storage);
    m_server->listen("127.0.0.1", 0, m_deps->web.dir(), 0.5);
    QVERIFY(port() != 0);
    QVERIFY(m_deps->waitForStore());
}

void TestWebServer::cleanup()
{
    m_server.reset();
    m_deps.reset();
}

void TestWebServer::storeQuestion(const QString &name, const QString &msg)
{
    const int before = m_deps->storage.selectQuestions().size();
    const QJsonObject payload{{"name", name}, {"msg", msg}};
    QCOMPARE(get(port(), questionQuery(QJsonDocument(payload).toJson())), textReply("200", "OK"));
    QTRY_COMPARE(m_deps->storage.selectQuestions().size(), before + 1);
}

void TestWebServer::staticFiles_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("reply");

    const QByteArray html = "text/html; charset=\"utf-8\"";
    const QByteArray index = WebDirFixture::kIndex;
    QTest::newRow("root") << QByteArray("/") << typedReply(html, index);
    QTest::newRow("query ignored") << QByteArray("/index.html?v=2") << typedReply(html, index);
    QTest::newRow("file below root")
        << QByteArray("/sub/page.html") << typedReply(html, "sub page");
    QTest::newRow("zero bytes") << QByteArray("/empty.txt")
                                << typedReply("text/plain; charset=\"utf-8\"", "");
    // Each page part with its own type, so that no file is taken for a page of another kind.
    QTest::newRow("script") << QByteArray("/player.js")
                            << typedReply("application/javascript; charset=\"utf-8\"", "js");
    QTest::newRow("style") << QByteArray("/look.css")
                           << typedReply("text/css; charset=\"utf-8\"", "css");
    QTest::newRow("json file") << QByteArray("/data.json")
                               << typedReply("application/json; charset=\"utf-8\"", "{}");
    QTest::newRow("png") << QByteArray("/logo.png") << typedReply("image/png", "png");
    QTest::newRow("svg") << QByteArray("/logo.svg") << typedReply("image/svg+xml", "svg");
    QTest::newRow("icon") << QByteArray("/favicon.ico") << typedReply("image/x-icon", "ico");
    QTest::newRow("extension case") << QByteArray("/LOGO.PNG") << typedReply("image/png", "PNG");
    QTest::newRow("unknown kind") << QByteArray("/notes.md")
                                  << typedReply("application/octet-stream", "md");
    QTest::newRow("no default below root") << QByteArray("/sub/") << notFound();
    QTest::newRow("missing") << QByteArray("/missing.html") << notFound();
    QTest::newRow("case matters") << QByteArray("/INDEX.html") << notFound();
    QTest::newRow("dot-dot") << QByteArray("/../secret.txt") << notFound();
    QTest::newRow("dot-dot below a folder") << QByteArray("/sub/../../secret.txt") << notFound();
    QTest::newRow("dot-dot inside") << QByteArray("/sub/../index.html") << notFound();
    QTest::newRow("encoded dot-dot") << QByteArray("/%2e%2e/secret.txt") << notFound();
    QTest::newRow("half-encoded dot-dot") << QByteArray("/.%2E/secret.txt") << notFound();
    QTest::newRow("no leading slash") << QByteArray("../secret.txt") << notFound();
    QTest::newRow("sibling by name") << QByteArray("_secret.txt") << notFound();
    QTest::newRow("absolute URI") << QByteArray("http://127.0.0.1/index.html") << notFound();
    QTest::newRow("backslash") << QByteArray("/..\\secret.txt") << notFound();
}

void TestWebServer::staticFiles()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, reply);
    QCOMPARE(get(port(), path), reply);
}

void TestWebServer::nonGetLinesGetNoReply()
{
    // The connection stays open after each refused line, so the last line still gets its one
    // reply on it, and nothing else arrives.
    const QByteArray reply =
        exchange(port(), {"POST /feedback.php?raw=x HTTP/1.0\r\n", "get / HTTP/1.0\r\n",
                          "Host: localhost\r\n", "GET /feedback.php HTTP/1.0\r\n"});
    QCOMPARE(reply, textReply("400", "Bad request"));
}

void TestWebServer::requestLineInTwoSegmentsIsAnsweredOnce()
{
    QCOMPARE(exchange(port(), {"GET /feedback_li", "st.json HTTP/1.0\r\n"}), jsonReply("[\n]\n"));
}

void TestWebServer::feedbackWithoutQueryIsBadRequest()
{
    const QByteArray reply = get(port(), "/feedback.php");
    QCOMPARE(reply, QByteArray("HTTP/1.0 400 Bad Request\r\nContent-Type: text/html; "
                               "charset=\"utf-8\"\r\nContent-length: 11\r\n\r\nBad request"));
    storeQuestion("marker", "marker");
    QCOMPARE(m_deps->storage.selectQuestions().size(), 1);
}

void TestWebServer::invalidPayloadIsRefused_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::newRow("not JSON") << QByteArray("/feedback.php?raw=hello");
    QTest::newRow("empty query") << QByteArray("/feedback.php?");
    QTest::newRow("without msg") << questionQuery(R"({"name":"Ann"})");
    QTest::newRow("without name") << questionQuery(R"({"msg":"Hi"})");
    QTest::newRow("name not a string") << questionQuery(R"({"name":7,"msg":"Hi"})");
    QTest::newRow("array") << questionQuery(R"(["Ann","Hi"])");
    QTest::newRow("truncated") << questionQuery(R"({"name":"Ann","msg":"Hi")");
}

void TestWebServer::invalidPayloadIsRefused()
{
    QFETCH(QByteArray, path);
    QCOMPARE(get(port(), path), textReply("400", "Bad request"));
    storeQuestion("marker", "marker");
    const QuestionRecords records = m_deps->storage.selectQuestions();
    QCOMPARE(records.size(), 1);
    QCOMPARE(records.first().name, QString("marker"));
}

void TestWebServer::questionIsAnsweredAndStored()
{
    const QByteArray json = R"({"name":"Ann","msg":"Hello world"})";
    QCOMPARE(get(port(), questionQuery(json)),
             QByteArray("HTTP/1.0 200 OK\r\nContent-Type: text/html; "
                        "charset=\"utf-8\"\r\nContent-length: 2\r\n\r\nOK"));
    QTRY_COMPARE(m_deps->storage.selectQuestions().size(), 1);
    const QuestionRecord record = m_deps->storage.selectQuestions().first();
    QCOMPARE(record.name, QString("Ann"));
    QCOMPARE(record.question, QString("Hello world"));
}

void TestWebServer::plusSignsAreKept()
{
    QCOMPARE(get(port(), "/feedback.php?raw=%7B%22name%22%3A%22Ann%22%2C%22msg%22%3A%22Hello+"
                         "world%22%7D"),
             textReply("200", "OK"));
    QTRY_COMPARE(m_deps->storage.selectQuestions().size(), 1);
    QCOMPARE(m_deps->storage.selectQuestions().first().question, QString("Hello+world"));
}

void TestWebServer::questionsArePacedPerAddressAndBounded()
{
    const auto ask = [this](const QString &msg, const QString &name = "Ann") {
        return get(port(), questionQuery(QJsonDocument(QJsonObject{{"name", name}, {"msg", msg}})
                                             .toJson(QJsonDocument::Compact)));
    };
    QCOMPARE(ask(QString(WebServer::kMaxQuestionChars + 1, 'x')), textReply("400", "Bad request"));
    QCOMPARE(ask("ok", QString(WebServer::kMaxNameChars + 1, 'n')),
             textReply("400", "Bad request"));
    for (int i = 0; i < WebServer::kQuestionsPerAddressPerMinute; ++i)
        QCOMPARE(ask(QString("q%1").arg(i)), textReply("200", "OK"));
    QCOMPARE(ask("one more"), textReply("429", "Too many questions, please wait a minute"));
    QTRY_COMPARE(m_deps->storage.selectQuestions().size(),
                 WebServer::kQuestionsPerAddressPerMinute);
    m_server->setQuestionsPerMinute(0);
    QCOMPARE(ask("unlimited"), textReply("200", "OK"));
}

void TestWebServer::questionThatCannotBeStoredIsToldSo()
{
    QuestionStoreDir dir;
    QVERIFY(dir.blockDataDir());
    DBStorage brokenStore;
    WebServer server(&m_deps->vote, &brokenStore);
    server.listen("127.0.0.1", 0, m_deps->web.dir(), 0.5);
    const QByteArray reply =
        get(server.serverPort(), questionQuery(R"({"name":"Ann","msg":"Hello"})"));
    QVERIFY2(reply.startsWith("HTTP/1.0 500 Internal Server Error\r\n"), reply.constData());
    QVERIFY(reply.endsWith("Question not stored: the questions database is not open"));
}

void TestWebServer::oneAddressCannotLockOthersOut()
{
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i <= ConnectionsPerAddress::kDefaultCap; ++i) {
        auto socket = std::make_unique<QTcpSocket>();
        QVERIFY(socket->bind(QHostAddress("127.0.0.9")));
        socket->connectToHost(QHostAddress::LocalHost, port());
        QVERIFY(socket->waitForConnected(5000));
        socket->write("X-Header: never a request\r\n");
        idle.push_back(std::move(socket));
    }
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("refuses connections from 127.0.0.9"));
    QTRY_COMPARE(idle.back()->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(get(port(), "/config.js"), jsonReply("{\n    \"maxAudioLag\": 0.5\n}\n"));
    QCOMPARE(idle.front()->state(), QAbstractSocket::ConnectedState);
}

void TestWebServer::emptyLists_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::newRow("php") << QByteArray("/feedback_list.php");
    QTest::newRow("json") << QByteArray("/feedback_list.json");
}

void TestWebServer::emptyLists()
{
    QFETCH(QByteArray, path);
    QCOMPARE(get(port(), path), jsonReply("[\n]\n"));
}

void TestWebServer::listShapes()
{
    storeQuestion("Ann", "Is it \"live\"?");
    storeQuestion("Bo", "Ça va?");
    QCOMPARE(body(get(port(), "/feedback_list.json")),
             QByteArray("[\n"
                        "    {\n"
                        "        \"addr\": \"127.0.0.1\",\n"
                        "        \"id\": 1,\n"
                        "        \"name\": \"Ann\",\n"
                        "        \"question\": \"Is it \\\"live\\\"?\"\n"
                        "    },\n"
                        "    {\n"
                        "        \"addr\": \"127.0.0.1\",\n"
                        "        \"id\": 2,\n"
                        "        \"name\": \"Bo\",\n"
                        "        \"question\": \"Ça va?\"\n"
                        "    }\n"
                        "]\n"));
    QCOMPARE(
        body(get(port(), "/feedback_list.php")),
        QByteArray("[\n"
                   "    {\n"
                   "        \"addr\": \"127.0.0.1\",\n"
                   "        \"id\": 1,\n"
                   "        \"raw\": \"{\\n    \\\"msg\\\": \\\"Is it \\\\\\\"live\\\\\\\"?\\\","
                   "\\n    \\\"name\\\": \\\"Ann\\\"\\n}\\n\"\n"
                   "    },\n"
                   "    {\n"
                   "        \"addr\": \"127.0.0.1\",\n"
                   "        \"id\": 2,\n"
                   "        \"raw\": \"{\\n    \\\"msg\\\": \\\"Ça va?\\\",\\n    "
                   "\\\"name\\\": \\\"Bo\\\"\\n}\\n\"\n"
                   "    }\n"
                   "]\n"));
}

void TestWebServer::eachClientSeesItsOwnAddress()
{
    storeQuestion("Ann", "one");
    storeQuestion("Bo", "two");
    for (const char *address : {"127.0.0.2", "127.0.0.3"}) {
        const QJsonArray list =
            QJsonDocument::fromJson(body(get(port(), "/feedback_list.php", QHostAddress(address))))
                .array();
        QCOMPARE(list.size(), 2);
        for (const QJsonValue &element : list)
            QCOMPARE(element.toObject().value("addr").toString(), QString(address));
    }
}

void TestWebServer::prefixRouting()
{
    QCOMPARE(get(port(), "/config.jsx"), jsonReply("{\n    \"maxAudioLag\": 0.5\n}\n"));
    QCOMPARE(get(port(), "/feedback_list.json?t=5"), jsonReply("[\n]\n"));
    // A file of that name in the web directory is never reached.
    m_deps->web.write("WEB/config.js", "file");
    QCOMPARE(get(port(), "/config.js"), jsonReply("{\n    \"maxAudioLag\": 0.5\n}\n"));
}

void TestWebServer::configReportsCurrentLag()
{
    m_server->setMaxAudioLag(1.25);
    QCOMPARE(get(port(), "/config.js"), jsonReply("{\n    \"maxAudioLag\": 1.25\n}\n"));
}

void TestWebServer::voteResultsBeforeAndDuringVote()
{
    QCOMPARE(body(get(port(), "/vote_result_json.php")),
             QByteArray("{\n    \"options\": [\n    ],\n    \"results\": [\n        0,\n        "
                        "0,\n        0,\n        0,\n        0,\n        0,\n        0,\n        "
                        "0,\n        0\n    ],\n    \"total\": 0\n}\n"));

    m_deps->vote.setTallySource([] { return QVector<qint32>{3, 2, 1, 0, 0, 0, 0, 0, 0, 0}; });
    m_deps->vote.start({"100%25 yes", "No", "", "", ""});
    m_deps->vote.refresh();
    QCOMPARE(body(get(port(), "/vote_result_json.php")),
             QByteArray("{\n    \"options\": [\n        \"100% yes\",\n        \"No\",\n        "
                        "\"\",\n        \"\",\n        \"\"\n    ],\n    \"results\": [\n        "
                        "2,\n        1,\n        0,\n        0,\n        0,\n        0,\n        "
                        "0,\n        0,\n        0\n    ],\n    \"total\": 3\n}\n"));
}

void TestWebServer::stopListenAndListenAgain()
{
    LogCapture log;
    const quint16 first = port();
    m_server->stopListen();
    QVERIFY(log.contains("stopListen"));
    QTcpSocket refused;
    refused.connectToHost(QHostAddress::LocalHost, first);
    QVERIFY(!refused.waitForConnected(2000));
    m_server->listen("127.0.0.1", first, m_deps->web.dir(), 0.5);
    QVERIFY(log.contains("listen: true"));
    QCOMPARE(get(port(), "/config.js"), jsonReply("{\n    \"maxAudioLag\": 0.5\n}\n"));
}

QTEST_GUILESS_MAIN(TestWebServer)
#include "tst_webserver.moc"
