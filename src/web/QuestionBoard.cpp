#include "web/QuestionBoard.h"

#include "relay/CommandMessages.h"
#include "web/DBStorage.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <algorithm>
#include <numeric>

namespace {

// A page's key: long enough to be its own, plain enough to store.
bool isVoterKey(const QString &voter)
{
    if (voter.size() < 8 || voter.size() > 64)
        return false;
    return std::all_of(voter.begin(), voter.end(), [](QChar c) {
        return (c.isLetterOrNumber() && c.unicode() < 128) || c == '-' || c == '_';
    });
}

QJsonObject entry(const QuestionRecord &record)
{
    return {{"id", record.id},
            {"name", record.name},
            {"question", record.question},
            {"upvotes", record.upvotes},
            {"answered", record.state == QuestionState::Answered},
            {"tag", record.tag}};
}

// `records` without their longest entries, until the list fits `budget` bytes of compact JSON:
// only hostile texts (a question of control characters serialises at six times its length)
// make a list that long, and they must not cost the others their place. The one on screen
// stays.
QVector<const QuestionRecord *> fitted(const QVector<const QuestionRecord *> &records,
                                       qint64 budget, qint64 highlighted)
{
    QVector<qint64> sizes;
    qint64 total = 0;
    for (const QuestionRecord *record : records) {
        // The comma before it included.
        sizes.append(QJsonDocument(entry(*record)).toJson(QJsonDocument::Compact).size() + 1);
        total += sizes.last();
    }
    if (total <= budget)
        return records;
    QVector<int> longestFirst(records.size());
    std::iota(longestFirst.begin(), longestFirst.end(), 0);
    std::stable_sort(longestFirst.begin(), longestFirst.end(),
                     [&sizes](int a, int b) { return sizes.at(a) > sizes.at(b); });
    QVector<bool> leftOut(records.size(), false);
    for (const int i : qAsConst(longestFirst)) {
        if (total <= budget)
            break;
        if (records.at(i)->id == highlighted)
            continue;
        leftOut[i] = true;
        total -= sizes.at(i);
    }
    QVector<const QuestionRecord *> kept;
    for (int i = 0; i < records.size(); ++i) {
        if (!leftOut.at(i))
            kept.append(records.at(i));
    }
    return kept;
}

} // namespace

QuestionBoard::QuestionBoard(DBStorage *store, QObject *parent) : QObject(parent), m_store(store)
{
    m_push.setSingleShot(true);
    m_push.setInterval(kPushDelayMs);
    connect(&m_push, &QTimer::timeout, this, [this] { emit command(QString::fromUtf8(json())); });
    connect(store, &DBStorage::questionsChanged, this, &QuestionBoard::onStored);
}

QuestionRecord QuestionBoard::question(qint64 id) const
{
    for (const QuestionRecord &record : m_questions)
        if (record.id == id)
            return record;
    return {};
}

bool QuestionBoard::approvalRequired() const
{
    return m_store->approvalRequired();
}

void QuestionBoard::setApprovalRequired(bool required)
{
    m_store->setApprovalRequired(required);
    emit changed();
}

void QuestionBoard::approve(qint64 id)
{
    if (question(id).state == QuestionState::Waiting)
        m_store->setState(id, QuestionState::Shown);
}

void QuestionBoard::hide(qint64 id)
{
    m_store->setState(id, QuestionState::Hidden);
}

void QuestionBoard::answer(qint64 id)
{
    m_store->setState(id, QuestionState::Answered);
}

void QuestionBoard::highlight(qint64 id)
{
    m_store->setHighlighted(id);
}

void QuestionBoard::remove(qint64 id)
{
    m_store->deleteQuestion(id);
}

void QuestionBoard::setCaptionOnStream(bool on)
{
    m_captionOnStream = on;
    updateCaption();
}

void QuestionBoard::updateCaption()
{
    QString caption;
    for (const QuestionRecord &record : qAsConst(m_questions))
        if (m_captionOnStream && record.highlighted && record.visibleToViewers())
            caption = record.question + QStringLiteral(" \u2014 ") + record.name;
    if (caption == m_caption)
        return;
    m_caption = caption;
    emit captionChanged(caption);
}

void QuestionBoard::onStored(const QuestionRecords &records)
{
    m_questions = records;
    // A cleared or deleted question frees the addresses that upvoted it.
    QSet<qint64> ids;
    for (const QuestionRecord &record : records)
        ids.insert(record.id);
    for (auto it = m_upvoteByAddress.begin(); it != m_upvoteByAddress.end();)
        it = ids.contains(it.key()) ? ++it : m_upvoteByAddress.erase(it);
    updateCaption();
    emit changed();
    if (!m_push.isActive())
        m_push.start();
}

void QuestionBoard::onViewerMessage(const QString &address, const QJsonObject &message)
{
    if (message.value("command").toString() != "question_upvote")
        return;
    const qint64 id = qint64(message.value("id").toDouble());
    const QString voter = message.value("voter").toString();
    const bool up = message.value("up").toBool(true);
    if (id <= 0 || !isVoterKey(voter) || !m_upvoteRate.admit(address))
        return;
    // The key is the page's; the address bounds how many pages one device can be.
    QHash<QString, QString> &byAddress = m_upvoteByAddress[id];
    const auto known = byAddress.constFind(address);
    if (known != byAddress.constEnd() && *known != voter)
        return;
    if (up)
        byAddress.insert(address, voter);
    else
        byAddress.remove(address);
    m_store->upvote(id, voter, up);
}

QByteArray QuestionBoard::json() const
{
    QVector<const QuestionRecord *> shown;
    QVector<const QuestionRecord *> answered;
    qint64 highlighted = 0;
    for (const QuestionRecord &record : m_questions) {
        if (record.highlighted && record.visibleToViewers())
            highlighted = record.id;
        if (record.state == QuestionState::Shown)
            shown.append(&record);
        else if (record.state == QuestionState::Answered)
            answered.append(&record);
    }
    const int total = shown.size();
    if (shown.size() > kMaxShownSent) {
        // The newest half, then the most upvoted of the rest.
        QVector<const QuestionRecord *> older(shown.begin(), shown.end() - kMaxShownSent / 2);
        shown.erase(shown.begin(), shown.end() - kMaxShownSent / 2);
        std::stable_sort(older.begin(), older.end(),
                         [](const QuestionRecord *a, const QuestionRecord *b) {
                             return a->upvotes > b->upvotes;
                         });
        for (int i = 0; i < older.size(); ++i) {
            if (i < kMaxShownSent / 2 || older.at(i)->highlighted)
                shown.append(older.at(i));
        }
    }
    if (answered.size() > kMaxAnsweredSent)
        answered.erase(answered.begin(), answered.end() - kMaxAnsweredSent);
    QJsonObject body{{"command", "questions"},
                     {"highlight", highlighted},
                     {"total", total},
                     {"questions", QJsonArray()}};
    // The cloud relay drops a longer list: no viewer would see it.
    const qint64 budget = CommandMessages::kMaxQuestionListChars -
                          QJsonDocument(body).toJson(QJsonDocument::Compact).size();
    QJsonArray list;
    for (const QuestionRecord *record : fitted(shown + answered, budget, highlighted))
        list.append(entry(*record));
    body.insert("questions", list);
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}
