#pragma once

#include "web/QuestionRecord.h"

#include <QByteArray>
#include <QSqlDatabase>
#include <QThread>
#include <atomic>

// The questions store: a SQLite file in the application-local data location.
//
// Qt allows a database connection only on the thread that opened it, so every statement runs on
// the store's own thread. Insertions are queued and run in posting order; selectQuestions() and
// deleteAll() are called from the GUI thread and wait for the store's thread to run them.
// The object moves itself to its own thread when it is constructed; call its public functions
// from the thread that constructed it, and not after the store has been destroyed.
class DBStorage : public QThread
{
    Q_OBJECT
public:
    DBStorage();
    ~DBStorage() override;

    // Queues the insertion of one question payload (UTF-8 JSON object with "name" and "msg");
    // returns at once.
    void postQuestion(const QByteArray &data);

    // The stored questions in ascending id, hidden rows left out. Empty (and logged) while the
    // database is not open or when the query fails.
    QuestionRecords selectQuestions();

    // Removes every question and restarts the ids at 1; false when the rows were not deleted.
    bool deleteAll();

    // True once the database file has been opened on the store's thread.
    bool isOpen() const { return m_open.load(); }

    // Full path of the database file.
    static QString databaseFileName();

public slots:
    void run() override;
    void addtoDb(QByteArray data);

private:
    void openDatabase();
    void closeDatabase();
    void execPragma(const QString &statement);
    void joinBatch();
    void commitBatch();
    QuestionRecords selectOnStoreThread();
    bool deleteOnStoreThread();

    QSqlDatabase m_db;
    std::atomic<bool> m_open{false};
    bool m_batchOpen = false; // store's thread only
};
