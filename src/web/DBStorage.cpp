#include "web/DBStorage.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>

#include "web/QuestionPayload.h"

namespace {

const char *const kSchema =
    "CREATE TABLE IF NOT EXISTS questions (id        INTEGER NOT NULL PRIMARY KEY "
    "AUTOINCREMENT,name      VARCHAR(300) NOT NULL,question  TEXT NOT NULL,is_delete INTEGER "
    "DEFAULT 0 CHECK(0 or 1));";

// A member that is missing or not a string is bound as SQL NULL, which the NOT NULL
// constraint rejects.
QVariant trimmedString(const QJsonValue &value)
{
    if (!value.isString())
        return QVariant(QVariant::String);
    return wellFormedText(value.toString().trimmed());
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
    m_db = QSqlDatabase::addDatabase("QSQLITE");
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
    qDebug() << m_db.tables();
    m_open = true;
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
    if (!m_db.isOpen()) {
        qDebug() << "error addtoDb"
                 << "database not open";
        answer(reply, false, QStringLiteral("the questions database is not open"));
        return;
    }
    joinBatch();
    const QJsonObject payload = QJsonDocument::fromJson(data).object();
    const QJsonValue name = payload.value("name");
    const QJsonValue msg = payload.value("msg");
    qDebug() << name << msg;
    QSqlQuery query(m_db);
    query.prepare("INSERT INTO questions(name, question) VALUES (:n, :q);");
    query.bindValue(":n", trimmedString(name));
    query.bindValue(":q", trimmedString(msg));
    if (query.exec()) {
        if (m_batchOpen)
            m_batchReplies.append(reply);
        else
            answer(reply, true, QString());
        return;
    }
    const QSqlError error = query.lastError();
    qDebug() << "error addtoDb" << error;
    answer(reply, false, reasonOf(error));
    // A refused row leaves the batch as it was; any other failure (a full disk, a broken file)
    // may have undone the whole transaction, so nothing in it counts as stored.
    if (m_batchOpen && error.nativeErrorCode() != kConstraintFailed) {
        m_db.rollback();
        m_batchOpen = false;
        failBatch(reasonOf(error));
    }
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
    if (!query.exec("select id, name, question from questions WHERE is_delete = 0;")) {
        qDebug() << "error selectQuestions" << query.lastError();
        return records;
    }
    while (query.next())
        records.append(
            {query.value(0).toLongLong(), query.value(1).toString(), query.value(2).toString()});
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
    if (!query.exec("UPDATE SQLITE_SEQUENCE SET SEQ=0 WHERE NAME='questions';"))
        qDebug() << "error deleteAll" << query.lastError();
    return true;
}
