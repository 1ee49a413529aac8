#include "web/DBStorage.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <atomic>

#include "web/QuestionPayload.h"

namespace {

const char *const kSchema =
    "CREATE TABLE IF NOT EXISTS questions (id        INTEGER NOT NULL PRIMARY KEY "
    "AUTOINCREMENT,name      VARCHAR(300) NOT NULL,question  TEXT NOT NULL,is_delete INTEGER "
    "DEFAULT 0 CHECK(0 or 1));";

// Columns and tables added after the first release, each added to an older file in place
// (ALTER TABLE keeps every row; the defaults give old questions the state they always had).
struct AddedColumn
{
    const char *name;
    const char *definition;
};
const AddedColumn kAddedColumns[] = {
    {"state", "INTEGER NOT NULL DEFAULT 1"},
    {"highlighted", "INTEGER NOT NULL DEFAULT 0"},
    {"upvotes", "INTEGER NOT NULL DEFAULT 0"},
    {"author_tag", "TEXT NOT NULL DEFAULT ''"},
};
const char *const kAddedTables[] = {
    "CREATE TABLE IF NOT EXISTS question_upvotes (question_id INTEGER NOT NULL, voter TEXT NOT "
    "NULL, PRIMARY KEY (question_id, voter)) WITHOUT ROWID;",
    "CREATE INDEX IF NOT EXISTS question_upvotes_voter ON question_upvotes (voter);",
    "CREATE TABLE IF NOT EXISTS question_settings (key TEXT NOT NULL PRIMARY KEY, value TEXT);",
};
const int kSchemaVersion = 1;

// A public tag is what a page may show others: a few plain characters, or nothing.
QString cleanTag(const QJsonValue &value)
{
    const QString none = QStringLiteral("");
    const QString tag = value.toString();
    if (tag.isEmpty() || tag.size() > 32)
        return none;
    for (const QChar c : tag) {
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != '-' && c != '_')
            return none;
    }
    return tag;
}

// A member that is missing or not a string is bound as SQL NULL, which the NOT NULL
// constraint rejects.
QVariant trimmedString(const QJsonValue &value)
{
    if (!value.isString())
        return QVariant(QVariant::String);
    return wellFormedText(value.toString().trimmed());
}

// An empty name asks without one.
QVariant nameOf(const QJsonValue &value)
{
    QVariant name = trimmedString(value);
    if (!name.isNull() && name.toString().isEmpty())
        return QStringLiteral("Anonymous");
    return name;
}

// What SQLite says, which names the cause ("database or disk is full"), else Qt's summary.
QString reasonOf(const QSqlError &error)
{
    return error.databaseText().isEmpty() ? error.text() : error.databaseText();
}

// SQLite's result code for a row its constraints refuse.
const QString kConstraintFailed = QStringLiteral("19");

} // namespace

DBStorage::DBStorage()
{
    qRegisterMetaType<QuestionRecords>();
    // Queued insertions and the waiting calls are all delivered to this object, so it has to
    // live on the thread that owns the connection.
    moveToThread(this);
    start(QThread::InheritPriority);
}

DBStorage::~DBStorage()
{
    quit();
    wait();
}

QString DBStorage::databaseFileName()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) + "/database.db";
}

void DBStorage::run()
{
    openDatabase();
    exec();
    closeDatabase();
}

void DBStorage::openDatabase()
{
    if (m_db.isOpen())
        return;
    const QString fileName = databaseFileName();
    QDir().mkpath(QFileInfo(fileName).absolutePath());
    // A connection name of its own: under the shared default name a second store in the process
    // would close this one's connection under its thread.
    static std::atomic<int> stores{0};
    m_db = QSqlDatabase::addDatabase("QSQLITE", QStringLiteral("lumacast-store-%1").arg(++stores));
    m_db.setDatabaseName(fileName);
    if (!m_db.open()) {
        qDebug() << m_db.lastError().text();
        return;
    }
    qDebug() << "Connect to: " + m_db.databaseName();
    // A question answered "OK" must survive a crash of the studio or of the machine.
    execPragma("PRAGMA journal_mode=WAL;");
    execPragma("PRAGMA synchronous=FULL;");
    // The statement is idempotent; running it on an existing file heals a file that an earlier
    // failure left without its table.
    QSqlQuery query(m_db);
    if (!query.prepare(kSchema) || !query.exec())
        qDebug() << "error" << query.lastError();
    if (!migrate())
        qDebug() << "error migrating the questions database" << m_db.lastError();
    loadApproval();
    qDebug() << m_db.tables();
    m_open = true;
    schedulePublish();
}

bool DBStorage::migrate()
{
    QSqlQuery query(m_db);
    if (!query.exec("PRAGMA user_version;") || !query.next())
        return false;
    if (query.value(0).toInt() >= kSchemaVersion)
        return true;
    query.finish();
    QSet<QString> columns;
    if (!query.exec("PRAGMA table_info(questions);"))
        return false;
    while (query.next())
        columns.insert(query.value(1).toString());
    query.finish();
    // All or nothing: a file half migrated would lose its state columns' meaning.
    if (!m_db.transaction())
        return false;
    bool ok = true;
    for (const AddedColumn &column : kAddedColumns) {
        if (!columns.contains(column.name))
            ok = ok && query.exec(QString("ALTER TABLE questions ADD COLUMN %1 %2;")
                                      .arg(column.name, column.definition));
    }
    for (const char *statement : kAddedTables)
        ok = ok && query.exec(statement);
    ok = ok && query.exec(QString("PRAGMA user_version = %1;").arg(kSchemaVersion));
    if (!ok) {
        qDebug() << "error migrate" << query.lastError();
        m_db.rollback();
        return false;
    }
    qDebug() << "questions database schema now at version" << kSchemaVersion;
    return m_db.commit();
}

void DBStorage::loadApproval()
{
    QSqlQuery query(m_db);
    if (query.exec("SELECT value FROM question_settings WHERE key = 'approval';") && query.next())
        m_approvalRequired = query.value(0).toString() == "1";
}

void DBStorage::schedulePublish()
{
    if (m_publishQueued)
        return;
    m_publishQueued = true;
    QMetaObject::invokeMethod(this, &DBStorage::publish, Qt::QueuedConnection);
}

void DBStorage::publish()
{
    m_publishQueued = false;
    // What is not committed yet is not acknowledged: the commit publishes it.
    if (m_batchOpen) {
        m_publishAfterCommit = true;
        return;
    }
    emit questionsChanged(selectOnStoreThread());
}

void DBStorage::execPragma(const QString &statement)
{
    QSqlQuery query(m_db);
    if (!query.exec(statement))
        qDebug() << "error" << statement << query.lastError();
}

void DBStorage::joinBatch()
{
    if (m_batchOpen || !m_db.isOpen())
        return;
    // Insertions already queued behind this one join its transaction, and the commit queued
    // now runs after them: one synchronous write to disk per burst instead of one per question.
    m_batchOpen = m_db.transaction();
    if (m_batchOpen)
        QMetaObject::invokeMethod(this, &DBStorage::commitBatch, Qt::QueuedConnection);
}

void DBStorage::commitBatch()
{
    if (!m_batchOpen)
        return;
    m_batchOpen = false;
    if (!m_db.commit()) {
        const QSqlError error = m_db.lastError();
        qDebug() << "error commit" << error;
        m_db.rollback();
        failBatch(reasonOf(error));
        return;
    }
    for (const PendingReply &reply : qAsConst(m_batchReplies))
        answer(reply, true, QString());
    m_batchReplies.clear();
    m_publishAfterCommit = false;
    schedulePublish();
}

void DBStorage::failBatch(const QString &error)
{
    for (const PendingReply &reply : qAsConst(m_batchReplies))
        answer(reply, false, error);
    m_batchReplies.clear();
}

void DBStorage::answer(const PendingReply &reply, bool stored, const QString &error)
{
    if (!reply.reply)
        return;
    QObject *context = reply.context.data();
    if (!context)
        return;
    QMetaObject::invokeMethod(
        context, [callback = reply.reply, stored, error] { callback(stored, error); },
        Qt::QueuedConnection);
}

void DBStorage::closeDatabase()
{
    commitBatch();
    m_open = false;
    const QString connection = m_db.connectionName();
    m_db.close();
    m_db = QSqlDatabase();
    if (!connection.isEmpty())
        QSqlDatabase::removeDatabase(connection);
}

void DBStorage::postQuestion(const QByteArray &data)
{
    QMetaObject::invokeMethod(this, "addtoDb", Qt::QueuedConnection, Q_ARG(QByteArray, data));
}

void DBStorage::storeQuestion(const QByteArray &data, QObject *context, StoreReply reply)
{
    QMetaObject::invokeMethod(
        this,
        [this, data, pending = PendingReply{context, std::move(reply)}] { insert(data, pending); },
        Qt::QueuedConnection);
}

void DBStorage::addtoDb(QByteArray data)
{
    insert(data, PendingReply{});
}

void DBStorage::insert(const QByteArray &data, const PendingReply &reply)
{
    const QJsonObject payload = QJsonDocument::fromJson(data).object();
    const QJsonValue name = payload.value("name");
    const QJsonValue msg = payload.value("msg");
    if (m_db.isOpen())
        qDebug() << name << msg;
    const int state = int(m_approvalRequired ? QuestionState::Waiting : QuestionState::Shown);
    write(
        "addtoDb",
        [&](QSqlQuery &query) {
            query.prepare("INSERT INTO questions(name, question, state, author_tag) VALUES (:n, "
                          ":q, :s, :t);");
            query.bindValue(":n", nameOf(name));
            query.bindValue(":q", trimmedString(msg));
            query.bindValue(":s", state);
            query.bindValue(":t", cleanTag(payload.value("tag")));
            return query.exec();
        },
        reply);
}

void DBStorage::queueWrite(const char *what, std::function<bool(QSqlQuery &)> statements)
{
    QMetaObject::invokeMethod(
        this, [this, what, statements] { write(what, statements, PendingReply{}); },
        Qt::QueuedConnection);
}

bool DBStorage::write(const char *what, const std::function<bool(QSqlQuery &)> &statements,
                      const PendingReply &reply)
{
    if (!m_db.isOpen()) {
        qDebug() << "error" << what << "database not open";
        answer(reply, false, QStringLiteral("the questions database is not open"));
        return false;
    }
    joinBatch();
    QSqlQuery query(m_db);
    if (statements(query)) {
        if (m_batchOpen) {
            m_batchReplies.append(reply);
        } else {
            answer(reply, true, QString());
            schedulePublish();
        }
        return true;
    }
    const QSqlError error = query.lastError();
    qDebug() << "error" << what << error;
    answer(reply, false, reasonOf(error));
    // A refused row leaves the batch as it was; any other failure (a full disk, a broken file)
    // may have undone the whole transaction, so nothing in it counts as stored.
    if (m_batchOpen && error.nativeErrorCode() != kConstraintFailed) {
        m_db.rollback();
        m_batchOpen = false;
        failBatch(reasonOf(error));
        schedulePublish();
    }
    return false;
}

void DBStorage::setState(qint64 id, QuestionState state)
{
    queueWrite("setState", [id, state](QSqlQuery &query) {
        // A question leaving the screen's audience leaves the screen.
        query.prepare("UPDATE questions SET state = :s, highlighted = CASE WHEN :s = 1 THEN "
                      "highlighted ELSE 0 END WHERE id = :id;");
        query.bindValue(":s", int(state));
        query.bindValue(":id", id);
        return query.exec();
    });
}

void DBStorage::setHighlighted(qint64 id)
{
    queueWrite("setHighlighted", [id](QSqlQuery &query) {
        query.prepare("UPDATE questions SET state = CASE WHEN id = :id AND state = 0 THEN 1 ELSE "
                      "state END, highlighted = (id = :id AND state IN (0, 1)) WHERE "
                      "highlighted <> 0 OR id = :id;");
        query.bindValue(":id", id);
        return query.exec();
    });
}

void DBStorage::deleteQuestion(qint64 id)
{
    queueWrite("deleteQuestion", [id](QSqlQuery &query) {
        query.prepare("DELETE FROM question_upvotes WHERE question_id = :id;");
        query.bindValue(":id", id);
        if (!query.exec())
            return false;
        query.prepare("DELETE FROM questions WHERE id = :id;");
        query.bindValue(":id", id);
        return query.exec();
    });
}

void DBStorage::setApprovalRequired(bool required)
{
    m_approvalRequired = required;
    queueWrite("setApprovalRequired", [required](QSqlQuery &query) {
        query.prepare(
            "INSERT OR REPLACE INTO question_settings(key, value) VALUES ('approval', :v);");
        query.bindValue(":v", required ? "1" : "0");
        return query.exec();
    });
}

void DBStorage::upvote(qint64 id, const QString &voter, bool up)
{
    queueWrite("upvote", [id, voter, up](QSqlQuery &query) {
        if (up) {
            query.prepare("INSERT OR IGNORE INTO question_upvotes(question_id, voter) SELECT :id, "
                          ":v WHERE EXISTS (SELECT 1 FROM questions WHERE id = :id AND state = 1 "
                          "AND is_delete = 0) AND (SELECT count(*) FROM question_upvotes WHERE "
                          "voter = :v) < :max;");
            query.bindValue(":max", kMaxUpvotesPerVoter);
        } else {
            query.prepare("DELETE FROM question_upvotes WHERE question_id = :id AND voter = :v;");
        }
        query.bindValue(":id", id);
        query.bindValue(":v", voter);
        if (!query.exec())
            return false;
        if (query.numRowsAffected() != 1)
            return true;
        query.prepare(up ? "UPDATE questions SET upvotes = upvotes + 1 WHERE id = :id;"
                         : "UPDATE questions SET upvotes = max(upvotes - 1, 0) WHERE id = :id;");
        query.bindValue(":id", id);
        return query.exec();
    });
}

QuestionRecords DBStorage::selectQuestions()
{
    if (!m_open) {
        qDebug() << "error selectQuestions"
                 << "database not open";
        return {};
    }
    QuestionRecords records;
    QMetaObject::invokeMethod(
        this, [this] { return selectOnStoreThread(); }, Qt::BlockingQueuedConnection, &records);
    return records;
}

QuestionRecords DBStorage::selectOnStoreThread()
{
    QuestionRecords records;
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.exec("select id, name, question, state, highlighted, upvotes, author_tag from "
                    "questions WHERE is_delete = 0 ORDER BY id;")) {
        qDebug() << "error selectQuestions" << query.lastError();
        return records;
    }
    while (query.next()) {
        const int state = query.value(3).toInt();
        records.append(
            {query.value(0).toLongLong(), query.value(1).toString(), query.value(2).toString(),
             state >= 0 && state <= 3 ? QuestionState(state) : QuestionState::Hidden,
             query.value(4).toInt() != 0, query.value(5).toInt(), query.value(6).toString()});
    }
    return records;
}

bool DBStorage::deleteAll()
{
    if (!m_open)
        return false;
    bool deleted = false;
    QMetaObject::invokeMethod(
        this, [this] { return deleteOnStoreThread(); }, Qt::BlockingQueuedConnection, &deleted);
    return deleted;
}

bool DBStorage::deleteOnStoreThread()
{
    QSqlQuery query(m_db);
    if (!query.exec("DELETE FROM questions;"))
        return false;
    if (!query.exec("DELETE FROM question_upvotes;"))
        qDebug() << "error deleteAll" << query.lastError();
    if (!query.exec("UPDATE SQLITE_SEQUENCE SET SEQ=0 WHERE NAME='questions';"))
        qDebug() << "error deleteAll" << query.lastError();
    schedulePublish();
    return true;
}
