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

#include <cerrno>
#include <cstring>
#include <functional>
#include <sched.h>
#include <sys/mount.h>

namespace {

const int kManyInsertsTimeoutMs = 60000;
bool g_privateMounts = false;

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
    void fullDiskNeverAcknowledgesALostQuestion();
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
    QTest::newRow("lone high surrogate")
        << QByteArray(R"({"name":"Ann","msg":"a\ud800b"})") << true << "Ann" << QString("a\ufffdb");
    QTest::newRow("lone low surrogate")
        << QByteArray(R"({"name":"x\udc00y","msg":"Hi"})") << true << QString("x\ufffdy") << "Hi";
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

void TestDBStorage::fullDiskNeverAcknowledgesALostQuestion()
{
    if (!g_privateMounts)
        QSKIP("needs a private mount namespace (root) for a small file system of its own");
    QuestionStoreDir dir;
    QVERIFY(QDir().mkpath(dir.root()));
    QVERIFY2(mount("tmpfs", qPrintable(dir.root()), "tmpfs", 0, "size=256k") == 0, strerror(errno));
    QStringList acknowledged;
    int failed = 0;
    QString reason;
    {
        DBStorage store;
        QTRY_VERIFY(store.isOpen());
        QObject context;
        const int count = 2000;
        const int burst = 20; // viewers posting at once share a commit
        for (int i = 0; i < count; ++i) {
            const QString msg = QString("q%1 ").arg(i) + QString(100, 'x');
            store.storeQuestion(payload("viewer", msg), &context,
                                [&, msg](bool stored, const QString &error) {
                                    if (stored) {
                                        acknowledged.append(msg);
                                    } else {
                                        ++failed;
                                        reason = error;
                                    }
                                });
            if (i % burst == burst - 1)
                QTRY_COMPARE_WITH_TIMEOUT(acknowledged.size() + failed, i + 1,
                                          kManyInsertsTimeoutMs);
        }
    }
    QVERIFY(failed > 0);
    QVERIFY(!acknowledged.isEmpty());
    QVERIFY2(reason.contains("full"), qPrintable(reason));
    // Read back through a fresh store, as after a restart.
    DBStorage reopened;
    QTRY_VERIFY(reopened.isOpen());
    QStringList stored;
    for (const QuestionRecord &record : reopened.selectQuestions())
        stored.append(record.question);
    for (const QString &msg : qAsConst(acknowledged))
        QVERIFY2(stored.contains(msg.trimmed()), qPrintable(msg));
}

// The full-disk case mounts a small file system of its own; the namespace keeps it private and
// takes it away with the process. Unsharing works only before any thread starts.
int main(int argc, char *argv[])
{
    g_privateMounts = unshare(CLONE_NEWNS) == 0 &&
                      mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    QCoreApplication app(argc, argv);
    TestDBStorage test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_dbstorage.moc"
