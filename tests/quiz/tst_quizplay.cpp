#include "quiz/QuizBoard.h"
#include "quiz/QuizMessages.h"
#include "quiz/QuizPlay.h"
#include "quiz/QuizSession.h"
#include "relay/CommandMessages.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <algorithm>
#include <limits>
#include <memory>

namespace {

constexpr qint64 kDurationMs = 20000;

QuizFile::Question question(const QString &title, const QStringList &options)
{
    return QuizFile::Question{title, options};
}

// Three questions; the stored right answer comes first, as in a quiz file.
QVector<QuizFile::Question> sampleQuiz()
{
    return {question("Capital of France?", {"Paris", "Lyon", "Nice", "Lille"}),
            question("2 + 2?", {"4", "3", "", "5"}),
            question("Largest planet?", {"Jupiter", "Mars", "Venus", "Earth"})};
}

// Viewers see the options reversed: the right answer last.
void reversed(QVector<int> &order)
{
    std::reverse(order.begin(), order.end());
}

QJsonObject parsed(const QString &text)
{
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

} // namespace

class TestQuizPlay : public QObject
{
    Q_OBJECT
private slots:
    void questionMessageHidesTheRightAnswer()
    {
        QuizPlay play(sampleQuiz(), kDurationMs, reversed);
        const QuizPlay::AskedQuestion asked = play.askNext(1000);
        const QJsonObject message = parsed(QuizMessages::question(asked, play.timeLeftMs(6000)));
        QCOMPARE(message.keys(),
                 (QStringList{"command", "count", "number", "options", "time_left_ms", "title"}));
        QCOMPARE(message["command"].toString(), QString("quiz_question"));
        QCOMPARE(message["number"].toInt(), 1);
        QCOMPARE(message["count"].toInt(), 3);
        QCOMPARE(message["options"].toArray(), QJsonArray({"Lille", "Nice", "Lyon", "Paris"}));
        QCOMPARE(message["time_left_ms"].toInt(), 15000);
        // The studio knows it; viewers learn it only when the question ends.
        QCOMPARE(play.rightOption(), 0);
        QCOMPARE(play.closeQuestion(), 4);
        QCOMPARE(play.rightOption(), 4);
    }

    void emptyOptionsAndUntitledQuestionsAreLeftOut()
    {
        QuizPlay play(
            {question("  ", {"a", "b", "c", "d"}), question("2 + 2?", {"4", "3", "", "5"})},
            kDurationMs, [](QVector<int> &) {});
        QCOMPARE(play.questionCount(), 1);
        QCOMPARE(play.askNext(0).options, (QStringList{"4", "3", "5"}));
        QVERIFY(!play.answer("10.0.0.1", "", 1, 4, 10));
    }

    void systemShuffleMovesTheRightAnswer()
    {
        QVector<int> seen(4, 0);
        for (int i = 0; i < 200; ++i) {
            QuizPlay play(sampleQuiz(), kDurationMs);
            const QuizPlay::AskedQuestion asked = play.askNext(0);
            const int right = play.closeQuestion();
            QCOMPARE(asked.options[right - 1], QString("Paris"));
            ++seen[right - 1];
        }
        for (const int count : seen)
            QVERIFY2(count > 10, "the right answer keeps one place");
    }

    void answersAreOnePerAddressUntilTheQuestionEnds()
    {
        QuizPlay play(sampleQuiz(), kDurationMs, reversed);
        play.askNext(0);
        QVERIFY(play.answer("10.0.0.1", "Ann", 1, 1, 100));
        QVERIFY(play.answer("10.0.0.1", "Ann", 1, 4, 200)); // changed: replaces the first
        QVERIFY(play.answer("10.0.0.2", "Bob", 1, 2, 300));
        QCOMPARE(play.answeredCount(), 2);
        QCOMPARE(play.answerCounts(), (QVector<int>{0, 1, 0, 1}));

        QVERIFY(!play.answer("10.0.0.3", "", 2, 1, 400));         // not the open question
        QVERIFY(!play.answer("10.0.0.3", "", 1, 5, 400));         // no such option
        QVERIFY(!play.answer("10.0.0.3", "", 1, 0, 400));         // no option at all
        QVERIFY(!play.answer("10.0.0.3", "", 1, 1, kDurationMs)); // time is up
        play.closeQuestion();
        QVERIFY(!play.answer("10.0.0.1", "Ann", 1, 1, 500)); // after the end
        QCOMPARE(play.answerCounts(), (QVector<int>{0, 1, 0, 1}));
    }

    void fasterRightAnswersScoreMore()
    {
        QuizPlay play(sampleQuiz(), kDurationMs, reversed);
        play.askNext(10000);
        play.answer("at-once", "", 1, 4, 10000);
        play.answer("halfway", "", 1, 4, 20000);
        play.answer("last-moment", "", 1, 4, 29999);
        play.answer("wrong", "", 1, 1, 10000);
        play.answer("changed-late", "", 1, 1, 10000);
        play.answer("changed-late", "", 1, 4, 25000); // the final answer's time counts
        play.closeQuestion();
        QHash<QString, int> score;
        for (const QuizPlay::Standing &standing : play.leaderboard())
            score.insert(standing.nickname, standing.score);
        QCOMPARE(score.value("Player 1"), QuizPlay::kFastestPoints);
        QCOMPARE(score.value("Player 2"), 750);
        QCOMPARE(score.value("Player 3"), QuizPlay::kSlowestPoints);
        QCOMPARE(score.value("Player 4"), 0);
        QCOMPARE(score.value("Player 5"), 625);
    }

    void tiesKeepTheOrderOfAnswering()
    {
        QuizPlay play(sampleQuiz(), kDurationMs, reversed);
        play.askNext(0);
        play.answer("10.0.0.3", "Cleo", 1, 1, 10); // wrong
        play.answer("10.0.0.2", "Bob", 1, 4, 20);
        play.answer("10.0.0.1", "Ann", 1, 4, 20);
        play.finish();
        QCOMPARE(play.phase(), QuizPlay::Phase::Finished);
        const QJsonObject message = parsed(QuizMessages::leaderboard(play.leaderboard(), true));
        QCOMPARE(message["command"].toString(), QString("quiz_leaderboard"));
        QCOMPARE(message["final"].toBool(), true);
        QCOMPARE(message["leaders"].toArray(),
                 QJsonArray({QJsonObject{{"nickname", "Bob"}, {"score", 1000}},
                             QJsonObject{{"nickname", "Ann"}, {"score", 1000}},
                             QJsonObject{{"nickname", "Cleo"}, {"score", 0}}}));
    }

    void leaderboardMessageNamesTheBestOnly()
    {
        QVector<QuizPlay::Standing> standings;
        for (int i = 0; i < QuizMessages::kLeaderboardSize + 5; ++i)
            standings << QuizPlay::Standing{QString::number(i), 100 - i, 1};
        const QJsonArray leaders =
            parsed(QuizMessages::leaderboard(standings, false))["leaders"].toArray();
        QCOMPARE(leaders.size(), QuizMessages::kLeaderboardSize);
        QCOMPARE(leaders.last().toObject()["nickname"].toString(),
                 QString::number(QuizMessages::kLeaderboardSize - 1));
    }

    void longestQuizTextsPassTheRelay()
    {
        // Each character the costliest to serialise (a control character takes six), far past
        // what a field may hold.
        const auto longest = [](int chars) {
            return QString(chars * 10, QChar(0x1));
        };
        QuizPlay::AskedQuestion asked{1, 1, longest(CommandMessages::kMaxTitleChars), {}, 0};
        for (int k = 0; k < QuizFile::kOptionCount; ++k)
            asked.options << longest(CommandMessages::kMaxOptionChars);
        QVector<QuizPlay::Standing> standings;
        for (int i = 0; i < 1000; ++i)
            standings << QuizPlay::Standing{QString(QuizPlay::kMaxNicknameLength, QChar(0x1)),
                                            std::numeric_limits<int>::max(), 1};
        for (const QString &built :
             {QuizMessages::question(asked, 20000), QuizMessages::leaderboard(standings, true)}) {
            qInfo() << parsed(built)["command"].toString() << built.size() << "characters";
            QVERIFY2(built.size() <= CommandMessages::kMaxCommandChars,
                     qPrintable(QString::number(built.size())));
        }
    }

    void boardShowsThePlayingQuizUntilItGoes()
    {
        std::unique_ptr<QuizSession> session;
        const QuizBoard board(
            [&session] { return session ? session->snapshot() : QuizBoard::Snapshot{}; });
        QCOMPARE(QJsonDocument::fromJson(board.json()).object(), (QJsonObject{{"quiz", false}}));
        session = std::make_unique<QuizSession>(
            QuizInfo{"quiz", "Geography",
                     QJsonArray{QJsonObject{{"title", "Capital of France?"},
                                            {"options", QJsonArray{"Paris", "Lyon"}}}}},
            20, reversed);
        session->advance();
        const QJsonObject shown = QJsonDocument::fromJson(board.json()).object();
        QCOMPARE(shown["title"].toString(), QString("Geography"));
        QCOMPARE(shown["question"].toString(), QString("Capital of France?"));
        QCOMPARE(shown["options"].toArray(), (QJsonArray{"Lyon", "Paris"}));
        QVERIFY(shown["time_left_ms"].toDouble() > 0);
        session.reset();
        QCOMPARE(QJsonDocument::fromJson(board.json()).object(), (QJsonObject{{"quiz", false}}));
    }

    void questionEndMessage()
    {
        const QJsonObject message = parsed(QuizMessages::questionEnd(2, 3, {4, 0, 7}));
        QCOMPARE(message, (QJsonObject{{"command", "quiz_question_end"},
                                       {"number", 2},
                                       {"right", 3},
                                       {"counts", QJsonArray{4, 0, 7}}}));
    }

    void answerMessage_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("number");
        QTest::addColumn<int>("option");
        QTest::addColumn<QString>("nickname");
        QTest::newRow("whole numbers")
            << R"({"command":"quiz_answer","number":2,"option":3,"nickname":"Ann"})" << 2 << 3
            << "Ann";
        QTest::newRow("numbers as strings do not count")
            << R"({"command":"quiz_answer","number":"2","option":"3"})" << 0 << 0 << "";
        QTest::newRow("fractions do not count")
            << R"({"command":"quiz_answer","number":1.5,"option":2.25})" << 0 << 0 << "";
        QTest::newRow("nickname not a string")
            << R"({"command":"quiz_answer","number":1,"option":1,"nickname":7})" << 1 << 1 << "";
    }
    void answerMessage()
    {
        QFETCH(QString, text);
        const QuizMessages::Answer answer = QuizMessages::answer(parsed(text));
        QTEST(answer.number, "number");
        QTEST(answer.option, "option");
        QTEST(answer.nickname, "nickname");
    }

    void displayName_data()
    {
        QTest::addColumn<QString>("nickname");
        QTest::addColumn<QString>("shown");
        QTest::newRow("trimmed") << "  Ann  "
                                 << "Ann";
        QTest::newRow("control characters and line breaks go")
            << QString("An\nn\u2028\x07 B") << "Ann B";
        QTest::newRow("empty: numbered player") << " \t "
                                                << "Player 7";
        QTest::newRow("cut") << QString(40, 'x') << QString(QuizPlay::kMaxNicknameLength, 'x');
        QTest::newRow("no half character at the cut")
            << QString(QuizPlay::kMaxNicknameLength - 1, 'x') +
                   QString::fromUtf8("\xF0\x9F\x98\x80")
            << QString(QuizPlay::kMaxNicknameLength - 1, 'x');
    }
    void displayName()
    {
        QFETCH(QString, nickname);
        QTEST(QuizPlay::displayName(nickname, 7), "shown");
    }
};

QTEST_GUILESS_MAIN(TestQuizPlay)
#include "tst_quizplay.moc"
