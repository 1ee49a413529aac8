#include "relay/CommandMessages.h"
#include "support/QuestionStoreDir.h"
#include "web/DBStorage.h"
#include "web/QuestionBoard.h"
#include "web/WebServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QtTest>

namespace {

QByteArray payload(const QString &msg)
{
    return QJsonDocument(QJsonObject{{"name", "Ann"}, {"msg", msg}}).toJson(QJsonDocument::Compact);
}

QJsonObject upvote(qint64 id, const QString &voter, bool up = true)
{
    return {{"command", "question_upvote"}, {"id", id}, {"voter", voter}, {"up", up}};
}

QJsonObject sent(const QuestionBoard &board)
{
    return QJsonDocument::fromJson(board.json()).object();
}

} // namespace

// The moderation and the viewers' upvotes on the question board, over a real store.
class TestQuestionBoard : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void moderationReachesTheStoreAndThePages();
    void upvotesCountOncePerAddress();
    void malformedUpvotesAreIgnored();
    void listSentIsBounded();
    void listOfLongestQuestionsPassesTheRelay();
    void captionFollowsTheQuestionOnScreen();

private:
    void post(int count, const QString &prefix = "q");

    std::unique_ptr<QuestionStoreDir> m_dir;
    std::unique_ptr<DBStorage> m_store;
    std::unique_ptr<QuestionBoard> m_board;
};

void TestQuestionBoard::init()
{
    m_dir = std::make_unique<QuestionStoreDir>();
    m_store = std::make_unique<DBStorage>();
    m_board = std::make_unique<QuestionBoard>(m_store.get());
    QTRY_VERIFY(m_store->isOpen());
}

void TestQuestionBoard::cleanup()
{
    m_board.reset();
    m_store.reset();
    m_dir.reset();
}

void TestQuestionBoard::post(int count, const QString &prefix)
{
    const int before = m_board->questions().size();
    for (int i = 0; i < count; ++i)
        m_store->postQuestion(payload(prefix + QString::number(i)));
    QTRY_COMPARE(m_board->questions().size(), before + count);
}

void TestQuestionBoard::moderationReachesTheStoreAndThePages()
{
    QSignalSpy commands(m_board.get(), &QuestionBoard::command);
    m_board->setApprovalRequired(true);
    QVERIFY(m_board->approvalRequired());
    post(3);
    QCOMPARE(m_board->question(1).state, QuestionState::Waiting);
    // Waiting questions reach no page.
    QTRY_VERIFY(!commands.isEmpty());
    QCOMPARE(sent(*m_board).value("questions").toArray().size(), 0);
    m_board->approve(1);
    m_board->approve(2);
    QTRY_COMPARE(m_board->question(2).state, QuestionState::Shown);
    m_board->highlight(2);
    QTRY_VERIFY(m_board->question(2).highlighted);
    QCOMPARE(sent(*m_board).value("highlight").toInt(), 2);
    m_board->answer(2);
    QTRY_COMPARE(m_board->question(2).state, QuestionState::Answered);
    QCOMPARE(sent(*m_board).value("highlight").toInt(), 0);
    const QJsonArray list = sent(*m_board).value("questions").toArray();
    QCOMPARE(list.size(), 2);
    QCOMPARE(list.at(1).toObject().value("answered").toBool(), true);
    m_board->hide(1);
    QTRY_COMPARE(m_board->question(1).state, QuestionState::Hidden);
    // Approving is for waiting questions only: a hidden one stays hidden.
    m_board->approve(1);
    m_board->remove(3);
    QTRY_COMPARE(m_board->questions().size(), 2);
    QCOMPARE(m_board->question(1).state, QuestionState::Hidden);
    QCOMPARE(sent(*m_board).value("questions").toArray().size(), 1);
    // The last list the pages got is the one the board holds.
    QTRY_COMPARE(commands.last().first().toString().toUtf8(), m_board->json());
}

void TestQuestionBoard::upvotesCountOncePerAddress()
{
    post(1);
    m_board->onViewerMessage("10.0.0.1", upvote(1, "key-aaaaaaaa"));
    m_board->onViewerMessage("10.0.0.1", upvote(1, "key-bbbbbbbb")); // same device, new key
    m_board->onViewerMessage("10.0.0.2", upvote(1, "key-cccccccc"));
    QTRY_COMPARE(m_board->question(1).upvotes, 2);
    m_board->onViewerMessage("10.0.0.1", upvote(1, "key-bbbbbbbb", false)); // not its upvote
    m_board->onViewerMessage("10.0.0.2", upvote(1, "key-cccccccc", false));
    QTRY_COMPARE(m_board->question(1).upvotes, 1);
    // Taken back, the address may upvote again.
    m_board->onViewerMessage("10.0.0.2", upvote(1, "key-dddddddd"));
    QTRY_COMPARE(m_board->question(1).upvotes, 2);
}

void TestQuestionBoard::malformedUpvotesAreIgnored()
{
    post(2);
    m_board->onViewerMessage("10.0.0.1", upvote(1, "short"));
    m_board->onViewerMessage("10.0.0.2", upvote(1, "has spaces in it"));
    m_board->onViewerMessage("10.0.0.3", upvote(0, "key-aaaaaaaa"));
    m_board->onViewerMessage("10.0.0.4", {{"command", "quiz_answer"}, {"id", 1}});
    m_board->onViewerMessage("10.0.0.5", upvote(2, "key-eeeeeeee"));
    QTRY_COMPARE(m_board->question(2).upvotes, 1);
    QCOMPARE(m_board->question(1).upvotes, 0);
}

void TestQuestionBoard::listSentIsBounded()
{
    post(100);
    m_board->onViewerMessage("10.0.0.1", upvote(3, "key-aaaaaaaa"));
    m_board->highlight(50);
    QTRY_VERIFY(m_board->question(50).highlighted);
    QTRY_COMPARE(m_board->question(3).upvotes, 1);
    const QJsonObject body = sent(*m_board);
    QCOMPARE(body.value("total").toInt(), 100);
    QSet<int> ids;
    for (const QJsonValue &entry : body.value("questions").toArray())
        ids.insert(entry.toObject().value("id").toInt());
    QCOMPARE(ids.size(), QuestionBoard::kMaxShownSent + 1); // and the highlighted one
    QVERIFY(ids.contains(100));                             // the newest
    QVERIFY(ids.contains(3));                               // the most upvoted
    QVERIFY(ids.contains(5));                               // the one on screen
}

void TestQuestionBoard::listOfLongestQuestionsPassesTheRelay()
{
    // As long as a question and a name may be, each character the costliest to serialise (a
    // control character takes six), more than the list holds; then one honest question.
    const QString longest(WebServer::kMaxQuestionChars, QChar(0x1));
    const QString name(WebServer::kMaxNameChars, QChar(0x1));
    constexpr int kLong = QuestionBoard::kMaxShownSent + 10;
    for (int i = 0; i < kLong; ++i)
        m_store->postQuestion(
            QJsonDocument(QJsonObject{{"name", name}, {"msg", longest}}).toJson());
    m_store->postQuestion(payload("honest"));
    QTRY_COMPARE(m_board->questions().size(), kLong + 1);
    const QByteArray list = m_board->json();
    qInfo() << "question list" << list.size() << "bytes";
    QVERIFY2(list.size() <= CommandMessages::kMaxQuestionListChars,
             qPrintable(QString::number(list.size())));
    const QJsonObject body = QJsonDocument::fromJson(list).object();
    QCOMPARE(body.value("total").toInt(), kLong + 1);
    // The longest are left out first, not the honest one.
    QStringList texts;
    for (const QJsonValue &entry : body.value("questions").toArray())
        texts << entry.toObject().value("question").toString();
    QVERIFY(texts.size() > 1);
    QVERIFY(texts.contains("honest"));
}

void TestQuestionBoard::captionFollowsTheQuestionOnScreen()
{
    QSignalSpy captions(m_board.get(), &QuestionBoard::captionChanged);
    post(2);
    m_board->highlight(2);
    QTRY_VERIFY(m_board->question(2).highlighted);
    // Off until the presenter asks for the band.
    QVERIFY(captions.isEmpty());
    m_board->setCaptionOnStream(true);
    QCOMPARE(captions.size(), 1);
    QCOMPARE(captions.takeFirst().at(0).toString(), QString("q1 \u2014 Ann"));
    m_board->highlight(1);
    QTRY_COMPARE(captions.size(), 1);
    QCOMPARE(captions.takeFirst().at(0).toString(), QString("q0 \u2014 Ann"));
    // A hidden question leaves the stream as it leaves the pages.
    m_board->hide(1);
    QTRY_COMPARE(captions.size(), 1);
    QCOMPARE(captions.takeFirst().at(0).toString(), QString());
    m_board->highlight(2);
    QTRY_COMPARE(captions.size(), 1);
    m_board->setCaptionOnStream(false);
    QCOMPARE(captions.size(), 2);
    QCOMPARE(captions.at(1).at(0).toString(), QString());
}

QTEST_GUILESS_MAIN(TestQuestionBoard)
#include "tst_questionboard.moc"
