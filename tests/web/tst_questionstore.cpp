#include "support/QuestionStoreDir.h"
#include "web/DBStorage.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <cstdio>

namespace {

// Statements on a connection of our own, as the studio before the change wrote the file.
bool runOn(const QString &fileName, const QStringList &statements)
{
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "old");
        db.setDatabaseName(fileName);
        ok = db.open();
        QSqlQuery query(db);
        for (const QString &statement : statements)
            ok = ok && query.exec(statement);
        db.close();
    }
    QSqlDatabase::removeDatabase("old");
    return ok;
}

QByteArray payload(const QString &name, const QString &msg, const QString &tag = QString())
{
    QJsonObject object{{"name", name}, {"msg", msg}};
    if (!tag.isEmpty())
        object.insert("tag", tag);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QuestionRecord byId(DBStorage &store, qint64 id)
{
    for (const QuestionRecord &record : store.selectQuestions())
        if (record.id == id)
            return record;
    return {};
}

} // namespace

// The moderation states, upvotes and approval mode of the questions store, and its files from
// before they existed.
class TestQuestionStore : public QObject
{
    Q_OBJECT
private slots:
    void oldFileOpensKeepsEveryQuestionAndGainsStates();
    void emptyNameAsksAnonymouslyAndTagIsKept();
    void moderationStatesAndOneHighlight();
    void upvotesCountOncePerVoterAndCanBeTakenBack();
    void approvalModeIsKeptAndMakesQuestionsWait();
    void changesArePublishedAfterCommit();
    void clearRemovesUpvotes();
    void killedWhileWritingLosesNothingAcknowledged();
};

void TestQuestionStore::oldFileOpensKeepsEveryQuestionAndGainsStates()
{
    QuestionStoreDir dir;
    QVERIFY(QDir().mkpath(dir.dataDir()));
    QVERIFY(runOn(DBStorage::databaseFileName(),
                  {"CREATE TABLE IF NOT EXISTS questions (id        INTEGER NOT NULL PRIMARY KEY "
                   "AUTOINCREMENT,name      VARCHAR(300) NOT NULL,question  TEXT NOT "
                   "NULL,is_delete INTEGER DEFAULT 0 CHECK(0 or 1));",
                   "INSERT INTO questions(name, question) VALUES ('Ann', 'first');",
                   "INSERT INTO questions(name, question) VALUES ('Bo', 'second');",
                   "INSERT INTO questions(name, question, is_delete) VALUES ('Eve', 'gone', 1);"}));
    {
        DBStorage store;
        QTRY_VERIFY(store.isOpen());
        const QuestionRecords records = store.selectQuestions();
        QCOMPARE(records.size(), 2);
        QCOMPARE(records.at(0).question, QString("first"));
        QCOMPARE(records.at(1).name, QString("Bo"));
        for (const QuestionRecord &record : records) {
            QCOMPARE(record.state, QuestionState::Shown);
            QCOMPARE(record.upvotes, 0);
            QVERIFY(!record.highlighted);
        }
        store.setState(2, QuestionState::Answered);
        QTRY_COMPARE(byId(store, 2).state, QuestionState::Answered);
        store.postQuestion(payload("Cy", "third"));
        QTRY_COMPARE(store.selectQuestions().size(), 3);
        QCOMPARE(store.selectQuestions().last().id, 4); // the old counter goes on
    }
    // Opened again, the migrated file is taken as it is.
    DBStorage store;
    QTRY_VERIFY(store.isOpen());
    QCOMPARE(store.selectQuestions().size(), 3);
    QCOMPARE(byId(store, 2).state, QuestionState::Answered);
}

void TestQuestionStore::emptyNameAsksAnonymouslyAndTagIsKept()
{
    QuestionStoreDir dir;
    DBStorage store;
    QTRY_VERIFY(store.isOpen());
    store.postQuestion(payload("  ", "who am I", "tag-1_x"));
    store.postQuestion(payload("Ann", "bad tag", "<script>"));
    QTRY_COMPARE(store.selectQuestions().size(), 2);
    QCOMPARE(store.selectQuestions().at(0).name, QString("Anonymous"));
    QCOMPARE(store.selectQuestions().at(0).tag, QString("tag-1_x"));
    QCOMPARE(store.selectQuestions().at(1).tag, QString());
}

void TestQuestionStore::moderationStatesAndOneHighlight()
{
    QuestionStoreDir dir;
    DBStorage store;
    QTRY_VERIFY(store.isOpen());
    for (const char *msg : {"one", "two", "three"})
        store.postQuestion(payload("Ann", msg));
    QTRY_COMPARE(store.selectQuestions().size(), 3);
    store.setHighlighted(1);
    QTRY_VERIFY(byId(store, 1).highlighted);
    store.setHighlighted(2);
    QTRY_VERIFY(byId(store, 2).highlighted);
    QVERIFY(!byId(store, 1).highlighted);
    // Leaving the viewers' list leaves the screen.
    store.setState(2, QuestionState::Hidden);
    QTRY_COMPARE(byId(store, 2).state, QuestionState::Hidden);
    QVERIFY(!byId(store, 2).highlighted);
    // A hidden question is not put on screen.
    store.setHighlighted(2);
    store.setState(3, QuestionState::Answered);
    QTRY_COMPARE(byId(store, 3).state, QuestionState::Answered);
    QVERIFY(!byId(store, 2).highlighted);
    store.deleteQuestion(1);
    QTRY_COMPARE(store.selectQuestions().size(), 2);
    QCOMPARE(byId(store, 1).id, 0);
}

void TestQuestionStore::upvotesCountOncePerVoterAndCanBeTakenBack()
{
    QuestionStoreDir dir;
    DBStorage store;
    QTRY_VERIFY(store.isOpen());
    store.postQuestion(payload("Ann", "up"));
    store.postQuestion(payload("Bo", "hidden"));
    QTRY_COMPARE(store.selectQuestions().size(), 2);
    store.setState(2, QuestionState::Hidden);
    for (const char *voter : {"v1", "v2", "v1", "v3"})
        store.upvote(1, voter, true);
    store.upvote(2, "v1", true);
    QTRY_COMPARE(byId(store, 1).upvotes, 3);
    QCOMPARE(byId(store, 2).upvotes, 0);
    store.upvote(1, "v2", false);
    store.upvote(1, "v2", false);
    store.upvote(1, "nobody", false);
    QTRY_COMPARE(byId(store, 1).upvotes, 2);
}

void TestQuestionStore::approvalModeIsKeptAndMakesQuestionsWait()
{
    QuestionStoreDir dir;
    {
        DBStorage store;
        QTRY_VERIFY(store.isOpen());
        QVERIFY(!store.approvalRequired());
        store.setApprovalRequired(true);
        store.postQuestion(payload("Ann", "waits"));
        QTRY_COMPARE(store.selectQuestions().size(), 1);
        QCOMPARE(store.selectQuestions().first().state, QuestionState::Waiting);
        // Upvotes count only on questions that viewers see.
        store.upvote(1, "v1", true);
        store.setHighlighted(1); // highlighting shows it
        QTRY_COMPARE(byId(store, 1).state, QuestionState::Shown);
        QCOMPARE(byId(store, 1).upvotes, 0);
    }
    DBStorage store;
    QTRY_VERIFY(store.isOpen());
    QVERIFY(store.approvalRequired());
}

void TestQuestionStore::changesArePublishedAfterCommit()
{
    QuestionStoreDir dir;
    DBStorage store;
    QSignalSpy changed(&store, &DBStorage::questionsChanged);
    QTRY_VERIFY(changed.count() >= 1); // the opened file
    store.postQuestion(payload("Ann", "hello"));
    QTRY_VERIFY(!changed.last().first().value<QuestionRecords>().isEmpty());
    QCOMPARE(changed.last().first().value<QuestionRecords>().first().question, QString("hello"));
    store.upvote(1, "v1", true);
    QTRY_COMPARE(changed.last().first().value<QuestionRecords>().first().upvotes, 1);
}

void TestQuestionStore::clearRemovesUpvotes()
{
    QuestionStoreDir dir;
    DBStorage store;
    QTRY_VERIFY(store.isOpen());
    store.postQuestion(payload("Ann", "one"));
    store.upvote(1, "v1", true);
    QTRY_COMPARE(byId(store, 1).upvotes, 1);
    QVERIFY(store.deleteAll());
    store.postQuestion(payload("Bo", "again"));
    QTRY_COMPARE(store.selectQuestions().size(), 1);
    QCOMPARE(store.selectQuestions().first().id, 1);
    // The voter's old upvote on id 1 is gone with its question.
    store.upvote(1, "v1", true);
    QTRY_COMPARE(byId(store, 1).upvotes, 1);
}

void TestQuestionStore::killedWhileWritingLosesNothingAcknowledged()
{
    QuestionStoreDir dir;
    QProcess writer;
    writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    writer.start(QCoreApplication::applicationFilePath(), {"--writer"});
    QVERIFY(writer.waitForStarted());
    // Each line is what one published list showed: question 1's upvotes and the answered
    // questions.
    QList<QPair<int, int>> acknowledged;
    while (acknowledged.size() < 30) {
        QVERIFY(writer.waitForReadyRead(20000));
        while (writer.canReadLine()) {
            const QList<QByteArray> parts = writer.readLine().trimmed().split(' ');
            if (parts.size() == 3 && parts.at(0) == "ack")
                acknowledged.append({parts.at(1).toInt(), parts.at(2).toInt()});
        }
    }
    writer.kill(); // SIGKILL, in the middle of the next writes
    QVERIFY(writer.waitForFinished());
    QVERIFY(acknowledged.last().first > 0);

    DBStorage store;
    QTRY_VERIFY(store.isOpen());
    const QuestionRecords records = store.selectQuestions();
    int answered = 0;
    for (const QuestionRecord &record : records)
        answered += record.state == QuestionState::Answered;
    QVERIFY2(byId(store, 1).upvotes >= acknowledged.last().first,
             qPrintable(QString::number(byId(store, 1).upvotes)));
    QVERIFY(answered >= acknowledged.last().second);
    QCOMPARE(records.size(), 301);
}

namespace {

// The child of the crash test: writes upvotes and state changes without end, telling on standard
// output what each committed list shows, until it is killed.
int runWriter()
{
    // The parent's data location, from its environment and these names.
    QCoreApplication::setOrganizationName("Quillfen");
    QCoreApplication::setApplicationName("LumacastPRO");
    DBStorage store;
    int round = 0;
    QObject::connect(&store, &DBStorage::questionsChanged, &store,
                     [&](const QuestionRecords &records) {
                         if (records.size() < 301)
                             return;
                         int answered = 0;
                         for (const QuestionRecord &record : records)
                             answered += record.state == QuestionState::Answered;
                         std::printf("ack %d %d\n", records.first().upvotes, answered);
                         std::fflush(stdout);
                         for (int i = 0; i < 10; ++i)
                             store.upvote(1, QString("voter-%1-%2").arg(round).arg(i), true);
                         store.setState(2 + round % 300, QuestionState::Answered);
                         ++round;
                     });
    for (int i = 0; i < 301; ++i)
        store.postQuestion(payload("viewer", QString("q%1").arg(i)));
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 2 && QByteArray(argv[1]) == "--writer")
        return runWriter();
    TestQuestionStore test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_questionstore.moc"
