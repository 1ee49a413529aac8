#include "relay/CommandMessages.h"

#include <QtTest>

class TestCommandMessages : public QObject
{
    Q_OBJECT
private slots:
    void builders_data();
    void builders();
    void voteResult_data();
    void voteResult();
    void statInfo_data();
    void statInfo();
    void question();
    void longestTextsPassTheRelay_data();
    void longestTextsPassTheRelay();
    void cutKeepsPairsWhole();
    void malformedTextIsEmptyObject_data();
    void malformedTextIsEmptyObject();
};

void TestCommandMessages::builders_data()
{
    QTest::addColumn<QString>("built");
    QTest::addColumn<QString>("expected");

    QTest::newRow("vote_start") << CommandMessages::voteStart("Q1", {"Yes", "No"})
                                << "{\n    \"command\": \"vote_start\",\n    \"options\": [\n"
                                   "        \"Yes\",\n        \"No\"\n    ],\n"
                                   "    \"title\": \"Q1\"\n}\n";
    QTest::newRow("vote_start empty options kept")
        << CommandMessages::voteStart("T", {"a", "", "", "", ""})
        << "{\n    \"command\": \"vote_start\",\n    \"options\": [\n        \"a\",\n"
           "        \"\",\n        \"\",\n        \"\",\n        \"\"\n    ],\n"
           "    \"title\": \"T\"\n}\n";
    QTest::newRow("vote_stop") << CommandMessages::voteStop()
                               << "{\n    \"command\": \"vote_stop\"\n}\n";
    QTest::newRow("random_game_tick")
        << CommandMessages::randomGameTick("#ff8000", 42)
        << "{\n    \"clr\": \"#ff8000\",\n    \"command\": \"random_game_tick\",\n"
           "    \"proc\": 42\n}\n";
    QTest::newRow("finish winner")
        << CommandMessages::randomGameFinishWinner("You won!", "X7")
        << "{\n    \"command\": \"random_game_finish\",\n    \"win_code\": \"X7\",\n"
           "    \"win_txt\": \"You won!\"\n}\n";
    QTest::newRow("finish loser") << CommandMessages::randomGameFinishLoser("Sorry")
                                  << "{\n    \"command\": \"random_game_finish\",\n"
                                     "    \"lose_txt\": \"Sorry\"\n}\n";
    QTest::newRow("finish all")
        << CommandMessages::randomGameFinishAll("Sorry", "You won!", "X7")
        << "{\n    \"command\": \"random_game_finish_all\",\n    \"lose_txt\": \"Sorry\",\n"
           "    \"win_code\": \"X7\",\n    \"win_txt\": \"You won!\"\n}\n";
    QTest::newRow("forwarded upvote: the studio's members only, the voter key bounded")
        << CommandMessages::forwardedUpvote("k1", {{"command", "question_upvote"},
                                                   {"id", 3},
                                                   {"voter", QString(100, 'v')},
                                                   {"address", "10.0.0.1"}})
        << "{\n    \"command\": \"question_upvote\",\n    \"id\": 3,\n    \"up\": true,\n"
           "    \"viewer\": \"k1\",\n    \"voter\": \"" +
               QString(64, 'v') + "\"\n}\n";
    QTest::newRow("non-ASCII and quotes escaped")
        << CommandMessages::voteStart("Größe \"A\"", {})
        << QString::fromUtf8("{\n    \"command\": \"vote_start\",\n    \"options\": [\n    ],\n"
                             "    \"title\": \"Größe \\\"A\\\"\"\n}\n");
}

void TestCommandMessages::builders()
{
    QFETCH(QString, built);
    QFETCH(QString, expected);
    QCOMPARE(built, expected);
}

void TestCommandMessages::voteResult_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("option");

    QTest::newRow("string digit") << R"({"command":"vote_result","result":"2"})" << 2;
    QTest::newRow("json number ignored") << R"({"command":"vote_result","result":2})" << 0;
    QTest::newRow("zero") << R"({"command":"vote_result","result":"0"})" << 0;
    QTest::newRow("negative") << R"({"command":"vote_result","result":"-2"})" << -2;
    QTest::newRow("not a number") << R"({"command":"vote_result","result":"abc"})" << 0;
    QTest::newRow("above nine still read") << R"({"result":"12","command":"vote_result"})" << 12;
    QTest::newRow("missing") << R"({"command":"vote_result"})" << 0;
}

void TestCommandMessages::voteResult()
{
    QFETCH(QString, text);
    QFETCH(int, option);
    const QJsonObject message = CommandMessages::parse(text);
    QCOMPARE(CommandMessages::commandOf(message), QString("vote_result"));
    QCOMPARE(CommandMessages::voteResultOption(message), option);
}

void TestCommandMessages::statInfo_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("clients");
    QTest::addColumn<int>("totalBytes");
    QTest::addColumn<int>("voteCount");

    QTest::newRow("complete") << R"({"command":"on_stat_info","clients":7,"total_bytes":123456,
                                    "votes":[3,1,2,0,0,0,0,0,0,0]})"
                              << 7 << 123456 << 10;
    QTest::newRow("no votes member") << R"({"command":"on_stat_info","clients":1})" << 1 << 0 << 0;
    QTest::newRow("not whole") << R"({"command":"on_stat_info","clients":1.5,"total_bytes":"9"})"
                               << 0 << 0 << 0;
    QTest::newRow("out of range") << R"({"command":"on_stat_info","total_bytes":4294967296})" << 0
                                  << 0 << 0;
    QTest::newRow("negative kept") << R"({"command":"on_stat_info","clients":-3})" << -3 << 0 << 0;
}

void TestCommandMessages::statInfo()
{
    QFETCH(QString, text);
    QFETCH(int, clients);
    QFETCH(int, totalBytes);
    QFETCH(int, voteCount);
    const auto info = CommandMessages::statInfo(CommandMessages::parse(text));
    QCOMPARE(info.clients, clients);
    QCOMPARE(info.totalBytes, totalBytes);
    QCOMPARE(info.votes.size(), voteCount);
}

void TestCommandMessages::question()
{
    const QJsonObject message = CommandMessages::parse(
        R"({"command":"question","raw":"%7B%22name%22%3A%22Ann%22%2C%22msg%22%3A%22Gr%C3%BC%C3%9Fe+1%22%7D"})");
    QCOMPARE(CommandMessages::commandOf(message), QString("question"));
    QCOMPARE(QString::fromUtf8(CommandMessages::questionPayload(message)),
             QString::fromUtf8(R"({"name":"Ann","msg":"Grüße+1"})"));
}

namespace {

// A text far longer than a field may hold (a line edit takes 32,767 characters), each character
// the costliest to serialise: a control character takes six (\u0001).
QString longest(int chars)
{
    return QString(chars * 10, QChar(0x1));
}

} // namespace

void TestCommandMessages::longestTextsPassTheRelay_data()
{
    QTest::addColumn<QString>("built");
    QStringList options;
    for (int i = 0; i < CommandMessages::kMaxVoteOptions + 5; ++i)
        options << longest(CommandMessages::kMaxOptionChars);
    QTest::newRow("vote_start") << CommandMessages::voteStart(
        longest(CommandMessages::kMaxTitleChars), options);
    const QString text = longest(CommandMessages::kMaxTitleChars);
    QTest::newRow("finish all") << CommandMessages::randomGameFinishAll(text, text, text);
    QTest::newRow("finish winner") << CommandMessages::randomGameFinishWinner(text, text);
    QTest::newRow("finish loser") << CommandMessages::randomGameFinishLoser(text);
}

void TestCommandMessages::longestTextsPassTheRelay()
{
    QFETCH(QString, built);
    qInfo() << CommandMessages::commandOf(CommandMessages::parse(built)) << built.size()
            << "characters";
    QVERIFY2(built.size() <= CommandMessages::kMaxCommandChars,
             qPrintable(QString::number(built.size())));
    QVERIFY(!CommandMessages::parse(built).isEmpty());
}

void TestCommandMessages::cutKeepsPairsWhole()
{
    const QString smile = QString::fromUtf8("\xF0\x9F\x98\x80"); // two UTF-16 units
    QCOMPARE(CommandMessages::bounded("ab" + smile, 3), QString("ab"));
    QCOMPARE(CommandMessages::bounded("ab" + smile, 4), "ab" + smile);
    QCOMPARE(CommandMessages::bounded("abcd", 3), QString("abc"));
}

void TestCommandMessages::malformedTextIsEmptyObject_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("not json") << "vote_result 3";
    QTest::newRow("array") << R"(["command","vote_result"])";
    QTest::newRow("truncated") << R"({"command":"vote_res)";
    QTest::newRow("command not a string") << R"({"command":5})";
}

void TestCommandMessages::malformedTextIsEmptyObject()
{
    QFETCH(QString, text);
    QCOMPARE(CommandMessages::commandOf(CommandMessages::parse(text)), QString());
}

QTEST_GUILESS_MAIN(TestCommandMessages)
#include "tst_commandmessages.moc"
