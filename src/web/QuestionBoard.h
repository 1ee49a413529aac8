#pragma once

#include "web/QuestionRecord.h"
#include "web/RateLimit.h"

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QTimer>

class DBStorage;

// The room's questions as the presenter moderates them and the viewers see them: it shows the
// store's latest committed list, passes the presenter's choices (approval, approve, hide,
// answer, highlight, delete) and the viewers' upvotes to the store, and tells the pages (the
// "questions" command, and "/questions.json" for the room's screen) a short while after each
// change. GUI thread; the store must outlive it.
class QuestionBoard : public QObject
{
    Q_OBJECT
public:
    // What pages are sent at most: the shown questions (the newest and the most upvoted
    // halves when there are more) and the last answered ones.
    static constexpr int kMaxShownSent = 60;
    static constexpr int kMaxAnsweredSent = 20;
    // Upvote messages one viewer address may send per minute.
    static constexpr int kUpvotesPerAddressPerMinute = 120;
    // Changes that arrive together reach the pages as one list.
    static constexpr int kPushDelayMs = 100;

    explicit QuestionBoard(DBStorage *store, QObject *parent = nullptr);

    // Every question, in ascending id, as last committed.
    const QuestionRecords &questions() const { return m_questions; }
    QuestionRecord question(qint64 id) const;

    bool approvalRequired() const;
    void setApprovalRequired(bool required);
    void approve(qint64 id);
    void hide(qint64 id);
    void answer(qint64 id);
    // Puts the question on the room's screen and at the top of every page; 0 takes it off.
    void highlight(qint64 id);
    void remove(qint64 id);
    // The question on screen drawn onto the stream as well, as a caption band (captionChanged).
    bool captionOnStream() const { return m_captionOnStream; }
    void setCaptionOnStream(bool on);

    // What the pages are sent, within CommandMessages::kMaxQuestionListChars (the longest
    // entries left out first): {"command": "questions", "highlight": id or 0, "total": shown
    // questions, "questions": [{"id", "name", "question", "upvotes", "answered", "tag"}]}.
    QByteArray json() const;

public slots:
    // A command viewer's message: "question_upvote" with "id", "voter" (the page's key) and
    // "up" (false takes it back); one upvote per question from each address.
    void onViewerMessage(const QString &address, const QJsonObject &message);

signals:
    // The list changed (the window redraws).
    void changed();
    // The list for every command viewer.
    void command(QString message);
    // The stream's caption: the highlighted question and who asked, while the band is on and
    // a question is on screen; else empty.
    void captionChanged(QString text);

private:
    void onStored(const QuestionRecords &records);
    void updateCaption();

    DBStorage *m_store;
    QuestionRecords m_questions;
    QTimer m_push;
    RateLimit m_upvoteRate{kUpvotesPerAddressPerMinute, 60000};
    // Per question, which voter key each address upvoted with.
    QHash<qint64, QHash<QString, QString>> m_upvoteByAddress;
    bool m_captionOnStream = false;
    QString m_caption;
};
