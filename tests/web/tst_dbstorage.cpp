#include "support/LogCapture.h"
#include "support/QuestionStoreDir.h"
#include "web/DBStorage.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>
#include <functional>

namespace {

const int kManyInsertsTimeoutMs = 60000;

// Runs statements on a second connection of our own, as another tool would.
QVariant probe(const QString &fileName, const QString &statement)
{
    QVariant result;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "probe");
        db.setDatabaseName(fileName);
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(statement) && query.next())
                result = query.value(0);
        }
        db.close();
    }
    QSqlDatabase::removeDatabase("probe");
    return result;
}

QByteArray payload(const QString &name, const QString &msg)
{
    return QJsonDocument(QJsonObject{{"name", name}, {"msg", msg}}).toJson(QJsonDocument::Compact);
}

} // namespace

class TestDBStorage : public QObject
{
    Q_OBJECT
private slots:
    void firstStartCreatesDirectoryFileAndTable();
    void journalSurvivesCrashes();
    void existingFileWithoutTableHeals();
    void insertion_data();
    void insertion();
    void clearRestartsIdsAtOne();
    void hiddenRowsAreNeverListedButCleared();
    void listingWithoutOpenDatabaseIsEmpty();
    void manyPostsKeepTheirOrder();
    void questionsSurviveRestart();
};

void TestDBStorage::firstStartCreatesDirectoryFileAndTable()
{
    QuestionStoreDir dir;
    QVERIFY(!QDir(dir.dataDir()).exists());
    LogCapture log;
    DBStorage store;
    QTRY_VERIFY(store.isOpen());
    QCOMPARE(DBStorage::databaseFileName(), dir.dataDir() + "/database.db");
    QVERIFY(QFile::exists(DBStorage::databaseFileName()));
    QVERIFY(log.contains("Connect to: " + DBStorage::databaseFileName()));
    QCOMPARE(probe(DBStorage::databaseFileName(),
                   "SELECT count(*) FROM sqlite_master WHERE name = 'questions';")
                 .toInt(),
             1);
    QVERIFY(store.selectQuestions().isEmpty());
}

void TestDBStorage::journalSurvivesCrashes()
{
    QuestionStoreDir dir;
    DBStorage store;
    QTRY_VERIFY(store.isOpen());
    // The journal mode is kept in the file; synchronous FULL goes with it on the store's side.
    QCOMPARE(probe(DBStorage::databaseFileName(), "PRAGMA journal_mode;").toString(),
             QString("wal"));
}

void TestDBStorage::existingFileWithoutTableHeals()
{
    QuestionStoreDir dir;
    QVERIFY(QDir().mkpath(dir.dataDir()));
    probe(DBStorage::databaseFileName(), "CREATE TABLE unrelated (x INTEGER);");
    QVERIFY(QFile::exists(DBStorage::databaseFileName()));
    DBStorage store;
    QTRY_VERIFY(store.isOpen());
    store.postQuestion(payload("Ann", "Hello"));
    QTRY_COMPARE(store.selectQuestions().size(), 1);
}

void TestDBStorage::insertion_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("stored");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("question");

    QTest::newRow("trimmed") << payload("  Ann  Lee \t", "\n Hello world  ") << true << "Ann  Lee"
                             << "Hello world";
    const QString longName(500, QChar('x'));
    QTest::newRow("500-character name") << payload(longName, "Q") << true << longName << "Q";
    QTest::newRow("non-ASCII") << payload("Zoë", "Ça va? 日本") << true << "Zoë"
                               << "Ça va? 日本";
    QTest::newRow("other members ignored")
        << QByteArray(R"({"name":"Bo","msg":"Hi","extra":7})") << true << "Bo"
        << "Hi";
    QTest::newRow("without msg") << QByteArray(R"({"name":"Ann"})") << false << ""
                                 << "";
    QTest::newRow("without name") << QByteArray(R"({"msg":"Hi"})") << false << ""
                                  << "";
    QTest::newRow("msg not a string") << QByteArray(R"({"name":"Ann","msg":5})") << false << ""
                                      << "";
    QTest::newRow("not JSON") << QByteArray("name=Ann&msg=Hi") << false << ""
                              << "";
    QTest::newRow("JSON array") << QByteArray(R"(["Ann","Hi"])") << false << ""
                                << "";
}

void TestDBStorage::insertion()
{
    QFETCH(QByteArray, data);
    QFETCH(bool, stored);
    QFETCH(QString, name);
    QFETCH(QString, question);

    QuestionStoreDir dir;
    LogCapture log;
    DBStorage store;
    QTRY_VERIFY(store.isOpen());
    store.postQuestion(data);
    // A marker posted afterwards is inserted after the payload, so its arrival means the
    // payload has been handled.
    store.postQuestion(payload("marker", "marker"));
    QTRY_VERIFY(!store.selectQuestions().isEmpty() &&
                store.selectQuestions().last().name == "marker");
    const QuestionRecords records = store.selectQuestions();
    if (stored) {
        QCOMPARE(records.size(), 2);
        const QuestionRecord record = records.first();
        QCOMPARE(record.id, 1);
        QCOMPARE(record.name, name);
        QCOMPARE(record.question, question);
        QVERIFY(!log.contains("error addtoDb"));
    } else {
        QCOMPARE(records.size(), 1);
        QVERIFY(log.contains("error addtoDb"));
    }
}

void TestDBStorage::clearRestartsIdsAtOne()
{
    QuestionStoreDir dir;
    DBStorage store;
    QTRY_VERIFY(store.isOpen());
    for (const char *msg : {"one", "two", "three"})
        store.postQuestion(payload("Ann", msg));
    QTRY_COMPARE(store.selectQuestions().size(), 3);
    QCOMPARE(store.selectQuestions().last().id, 3);
    QVERIFY(store.deleteAll());
    QVERIFY(store.selectQuestions().isEmpty());
    store.postQuestion(payload("Bo", "four"));
    QTRY_COMPARE(store.selectQuestions().size(), 1);
    const QuestionRecord record = store.selectQuestions().first();
    QCOMPARE(record.id, 1);
    QCOMPARE(record.question, QString("four"));
}

void TestDBStorage::hiddenRowsAreNeverListedButCleared()
{
    QuestionStoreDir dir;
    DBStorage store;
    QTRY_VERIFY(store.isOpen());
    store.postQuestion(payload("Ann", "visible"));
    QTRY_COMPARE(store.selectQuestions().size(), 1);
    probe(DBStorage::databaseFileName(),
          "INSERT INTO questions(name, question, is_delete) VALUES ('Eve', 'hidden', 1);");
    QCOMPARE(probe(DBStorage::databaseFileName(), "SELECT count(*) FROM questions;").toInt(), 2);
    const QuestionRecords records = store.selectQuestions();
    QCOMPARE(records.size(), 1);
    QCOMPARE(records.first().question, QString("visible"));
    QVERIFY(store.deleteAll());
    QCOMPARE(probe(DBStorage::databaseFileName(), "SELECT count(*) FROM questions;").toInt(), 0);
}

void TestDBStorage::listingWithoutOpenDatabaseIsEmpty()
{
    QuestionStoreDir dir;
    QVERIFY(dir.blockDataDir());
    LogCapture log;
    DBStorage store;
    store.postQuestion(payload("Ann", "lost"));
    QVERIFY(store.selectQuestions().isEmpty());
    QVERIFY(!store.deleteAll());
    QVERIFY(log.contains("error selectQuestions"));
    QTRY_VERIFY(log.contains("error addtoDb"));
    QVERIFY(!store.isOpen());
}

void TestDBStorage::manyPostsKeepTheirOrder()
{
    QuestionStoreDir dir;
    DBStorage store;
    QTRY_VERIFY(store.isOpen());
    const int count = 300;
    for (int i = 0; i < count; ++i)
        store.postQuestion(payload("viewer", QString("q%1").arg(i)));
    QTRY_COMPARE_WITH_TIMEOUT(store.selectQuestions().size(), count, kManyInsertsTimeoutMs);
    const QuestionRecords records = store.selectQuestions();
    for (int i = 0; i < count; ++i) {
        QCOMPARE(records.at(i).id, i + 1);
        QCOMPARE(records.at(i).question, QString("q%1").arg(i));
    }
}

void TestDBStorage::questionsSurviveRestart()
{
    QuestionStoreDir dir;
    {
        DBStorage store;
        QTRY_VERIFY(store.isOpen());
        store.postQuestion(payload("Ann", "kept"));
        QTRY_COMPARE(store.selectQuestions().size(), 1);
    }
    DBStorage store;
    QTRY_VERIFY(store.isOpen());
    const QuestionRecords records = store.selectQuestions();
    QCOMPARE(records.size(), 1);
    QCOMPARE(records.first().question, QString("kept"));
}

QTEST_GUILESS_MAIN(TestDBStorage)
#include "tst_dbstorage.moc"
