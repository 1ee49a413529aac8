#pragma once

#include "web/QuestionRecord.h"

#include <QByteArray>
#include <QPointer>
#include <QSqlDatabase>
#include <QThread>
#include <QVector>
#include <atomic>
#include <functional>

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

    // Told on the context's thread how an insertion ended: stored is true once the question is
    // committed to disk, false with the reason when it cannot be stored.
    using StoreReply = std::function<void(bool stored, const QString &error)>;

    // Queues the insertion of one question payload (UTF-8 JSON object with "name" and "msg");
    // returns at once.
    void postQuestion(const QByteArray &data);
    // The same, and `reply` runs on `context`'s thread when the insertion has ended, unless the
    // context is gone by then. Insertions arriving together share one commit to disk.
    void storeQuestion(const QByteArray &data, QObject *context, StoreReply reply);

    // The stored questions in ascending id, every state included; rows another tool marked
    // deleted (is_delete) are left out. Empty (and logged) while the database is not open or
    // when the query fails.
    QuestionRecords selectQuestions();

    // The presenter's moderation, queued behind the insertions and committed with them. An id
    // that names no question changes nothing.
    void setState(qint64 id, QuestionState state);
    // The one question on screen (a waiting one is shown with it); 0 puts none there.
    void setHighlighted(qint64 id);
    void deleteQuestion(qint64 id);
    // While approval is required, new questions wait for the presenter. Kept in the file.
    void setApprovalRequired(bool required);
    bool approvalRequired() const { return m_approvalRequired.load(); }

    // One viewer's upvote (`up`) or its withdrawal; `voter` is the viewer's key. Counts once
    // per voter and question, only on a shown question, and at most kMaxUpvotesPerVoter
    // questions per voter.
    void upvote(qint64 id, const QString &voter, bool up);
    static constexpr int kMaxUpvotesPerVoter = 200;

    // Removes every question and restarts the ids at 1; false when the rows were not deleted.
    bool deleteAll();

    // True once the database file has been opened on the store's thread.
    bool isOpen() const { return m_open.load(); }

    // Full path of the database file.
    static QString databaseFileName();

public slots:
    void run() override;
    void addtoDb(QByteArray data);

signals:
    // Every question (as selectQuestions() lists them) after a change has been committed to
    // disk, and once when the database has been opened: what it shows is acknowledged. Emitted
    // on the store's thread; changes committed together give one signal.
    void questionsChanged(QuestionRecords records);

private:
    struct PendingReply
    {
        QPointer<QObject> context;
        StoreReply reply;
    };

    void insert(const QByteArray &data, const PendingReply &reply);
    void queueWrite(const char *what, std::function<bool(QSqlQuery &)> statements);
    bool write(const char *what, const std::function<bool(QSqlQuery &)> &statements,
               const PendingReply &reply);
    void schedulePublish();
    void publish();
    bool migrate();
    void loadApproval();
    static void answer(const PendingReply &reply, bool stored, const QString &error);
    void failBatch(const QString &error);
    void openDatabase();
    void closeDatabase();
    void execPragma(const QString &statement);
    void joinBatch();
    void commitBatch();
    QuestionRecords selectOnStoreThread();
    bool deleteOnStoreThread();

    QSqlDatabase m_db;
    std::atomic<bool> m_open{false};
    std::atomic<bool> m_approvalRequired{false};
    bool m_publishQueued = false;         // store's thread only
    bool m_publishAfterCommit = false;    // store's thread only
    bool m_batchOpen = false;             // store's thread only
    QVector<PendingReply> m_batchReplies; // answered when the batch commits
};
