#include "quiz/QuizSession.h"
#include "relay/CLOUDProxy.h"
#include "relay/CommandMessages.h"
#include "relay/WSServer.h"
#include "support/CloudService.h"
#include "support/RawWebSocketClient.h"
#include "support/StudioKey.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

#include <algorithm>
#include <memory>

namespace {

constexpr int kViewers = 5;
const QString kRoom = StudioKey::room("00000000000000c3");
// Long enough that answers given within the test all score the same for their speed.
constexpr int kQuestionSeconds = 600;

QJsonObject parsed(const QString &text)
{
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

// A message every command viewer ignores outside a vote. Sent through the relay and seen by a
// viewer, it shows that the viewer is registered and has had everything sent before it.
const QString kMarker = CommandMessages::voteStop();

// Sends the marker and waits until each client has it, then forgets it; false on a timeout.
template <typename Clients> bool settled(AudienceLink &link, const Clients &clients)
{
    link.sendCommand(kMarker);
    for (const auto &client : clients) {
        if (!QTest::qWaitFor([&] { return client->textMessages.contains(kMarker); }, 5000))
            return false;
        client->textMessages.removeAll(kMarker);
    }
    return true;
}

QuizInfo threeQuestions()
{
    QJsonArray questions;
    for (const char *title : {"First?", "Second?", "Third?"})
        questions.append(
            QJsonObject{{"title", title}, {"options", QJsonArray{"right", "no", "nope", "never"}}});
    return QuizInfo{"quiz", "Three questions", questions};
}

} // namespace

// A quiz played through the real local relay, and through the real lumacast-cloud, with command
// viewers on distinct loopback addresses: everyone sees each question, nobody learns the answer
// before it ends, the leaderboard follows the answers, and a viewer who joins late catches up.
class TestQuizSessionRelay : public QObject
{
    Q_OBJECT
private slots:
    void playedQuizGivesTheExpectedLeaderboard_data();
    void playedQuizGivesTheExpectedLeaderboard();
};

void TestQuizSessionRelay::playedQuizGivesTheExpectedLeaderboard_data()
{
    QTest::addColumn<bool>("cloud");
    QTest::newRow("local relay") << false;
    QTest::newRow("lumacast-cloud") << true;
}

void TestQuizSessionRelay::playedQuizGivesTheExpectedLeaderboard()
{
    QFETCH(bool, cloud);
    // Viewers see the options reversed: the right one is fourth on the wire.
    QuizSession session(threeQuestions(), kQuestionSeconds,
                        [](QVector<int> &order) { std::reverse(order.begin(), order.end()); });
    WSServer relay(0);
    std::unique_ptr<CloudService> service;
    StudioProxy proxy(nullptr, 0);
    QStringList viewerKeys;
    quint16 port = 0;
    QString path = "/";
    if (cloud) {
        service = std::make_unique<CloudService>();
        QVERIFY(proxy.connectToCloud(service->server(), kRoom));
        connect(&proxy, &CLOUDProxy::viewerCommand, [&](const QString &key) { viewerKeys << key; });
        port = service->port();
        path = "/websocket/right/" + kRoom + "/";
    } else {
        relay.start("127.0.0.1", 0);
        QVERIFY(relay.isListening());
        port = relay.serverPort();
    }
    AudienceLink &link = cloud ? static_cast<AudienceLink &>(proxy) : relay;
    connect(&session, &QuizSession::command, &link, &AudienceLink::sendCommand);
    connect(&link, &AudienceLink::viewerCommand, &session, &QuizSession::onViewerMessage);

    std::unique_ptr<RawWebSocketClient> viewers[kViewers];
    for (int i = 0; i < kViewers; ++i) {
        viewers[i] = std::make_unique<RawWebSocketClient>();
        QVERIFY(viewers[i]->open(QHostAddress(QString("127.0.0.%1").arg(i + 2)), port,
                                 path + "cmdchannel"));
    }
    RawWebSocketClient video;
    QVERIFY(video.open(QHostAddress("127.0.0.9"), port, path + "readvideo"));
    QVERIFY(settled(link, viewers));

    const char *nicknames[kViewers] = {"Ann", "Bob", "Cleo", "Dan", ""};
    // Per viewer and question, the option chosen (4 is right).
    const int choices[kViewers][3] = {{4, 4, 4}, {4, 4, 1}, {4, 4, 2}, {1, 4, 1}, {1, 1, 1}};
    for (int question = 0; question < 3; ++question) {
        QCOMPARE(session.nextStep(),
                 question == 0 ? QuizSession::Step::AskFirst : QuizSession::Step::AskNext);
        session.advance();
        for (auto &viewer : viewers) {
            QTRY_VERIFY(!viewer->textMessages.isEmpty() &&
                        parsed(viewer->textMessages.last())["command"] == "quiz_question");
            const QJsonObject asked = parsed(viewer->textMessages.last());
            QCOMPARE(asked["number"].toInt(), question + 1);
            QCOMPARE(asked["options"].toArray(), (QJsonArray{"never", "nope", "no", "right"}));
            QVERIFY(!asked.contains("right"));
        }
        if (question == 1) {
            // Some of the question's time has gone when the late viewer joins.
            QTRY_VERIFY(session.timeLeftMs() < kQuestionSeconds * 1000 - 50);
            RawWebSocketClient late;
            QVERIFY(late.open(QHostAddress("127.0.0.10"), port, path + "cmdchannel"));
            QTRY_VERIFY(!late.textMessages.isEmpty());
            const QJsonObject caughtUp = parsed(late.textMessages.first());
            QCOMPARE(caughtUp["command"].toString(), QString("quiz_question"));
            QCOMPARE(caughtUp["number"].toInt(), 2);
            const qint64 left = qint64(caughtUp["time_left_ms"].toDouble());
            QVERIFY2(left > 0 && left <= kQuestionSeconds * 1000 - 50,
                     qPrintable(QString::number(left)));
        }
        // One after the other, so that the order of first answers is known.
        for (int i = 0; i < kViewers; ++i) {
            viewers[i]->sendText(QJsonDocument(QJsonObject{{"command", "quiz_answer"},
                                                           {"number", question + 1},
                                                           {"option", choices[i][question]},
                                                           {"nickname", nicknames[i]}})
                                     .toJson());
            QTRY_COMPARE(session.play().answeredCount(), i + 1);
        }
        session.advance();
        for (auto &viewer : viewers) {
            QTRY_VERIFY(parsed(viewer->textMessages.last())["command"] == "quiz_leaderboard");
            const QJsonObject end =
                parsed(viewer->textMessages.at(viewer->textMessages.size() - 2));
            QCOMPARE(end["command"].toString(), QString("quiz_question_end"));
            QCOMPARE(end["right"].toInt(), 4);
        }
    }
    QCOMPARE(session.nextStep(), QuizSession::Step::ShowResults);
    session.advance();
    QCOMPARE(session.nextStep(), QuizSession::Step::Done);

    QStringList order;
    for (const QuizPlay::Standing &standing : session.play().leaderboard())
        order << QString("%1:%2").arg(standing.nickname).arg(standing.rightAnswers);
    QCOMPARE(order, (QStringList{"Ann:3", "Bob:2", "Cleo:2", "Dan:1", "Player 5:0"}));
    for (auto &viewer : viewers) {
        QTRY_VERIFY(parsed(viewer->textMessages.last())["final"] == true);
        const QJsonArray leaders = parsed(viewer->textMessages.last())["leaders"].toArray();
        QCOMPARE(leaders.size(), kViewers);
        QCOMPARE(leaders.first().toObject()["nickname"].toString(), QString("Ann"));
        QCOMPARE(leaders.last().toObject()["score"].toInt(), 0);
    }
    RawWebSocketClient afterTheEnd;
    QVERIFY(afterTheEnd.open(QHostAddress("127.0.0.11"), port, path + "cmdchannel"));
    QTRY_VERIFY(!afterTheEnd.textMessages.isEmpty());
    // Whatever the relay sends on joining comes before a message sent after it.
    QVERIFY(settled(link, std::vector<RawWebSocketClient *>{&afterTheEnd}));
    QCOMPARE(afterTheEnd.textMessages.size(), 1);
    QCOMPARE(parsed(afterTheEnd.textMessages.first())["final"].toBool(), true);
    QCOMPARE(video.textMessages.size(), 0);
    // The cloud relay tells the studio who answered by keys, never by the viewers' addresses.
    for (const QString &key : viewerKeys)
        QVERIFY2(!key.contains("127.0.0."), qPrintable(key));
    QCOMPARE(QSet<QString>(viewerKeys.begin(), viewerKeys.end()).size(), cloud ? kViewers : 0);
    relay.stop();
}

QTEST_GUILESS_MAIN(TestQuizSessionRelay)
#include "tst_quizsession_relay.moc"
