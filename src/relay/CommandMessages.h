#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVector>

// The JSON text messages exchanged with viewer pages and the cloud relay.
// Builders return Qt's indented serialisation (four-space indent, keys sorted,
// trailing line feed), which is what peers have always received.
namespace CommandMessages {

// What the cloud relay passes on of a presenter's text: a longer one reaches no viewer. Every
// builder here keeps within it whatever it is given, so a long title is cut, never lost.
constexpr int kMaxCommandChars = 16 * 1024;
// The question list alone may be longer (QuestionBoard keeps within it).
constexpr int kMaxQuestionListChars = 512 * 1024;
// A page shows a title or an option on a line or two. At these lengths the longest vote,
// with every character escaped at six, is about 11,000 characters.
constexpr int kMaxTitleChars = 300;
constexpr int kMaxOptionChars = 150;
// As many as the tally counts.
constexpr int kMaxVoteOptions = 10;

// `text` cut to `maxChars`, never between the halves of a surrogate pair.
QString bounded(const QString &text, int maxChars);

// Titles and options beyond the limits above are cut.
QString voteStart(const QString &title, const QStringList &options);
QString voteStop();
QString randomGameTick(const QString &clr, int proc);
// Each text cut to kMaxTitleChars.
QString randomGameFinishWinner(const QString &win_txt, const QString &win_code);
QString randomGameFinishLoser(const QString &lose_txt);
QString randomGameFinishAll(const QString &lose_txt, const QString &win_txt,
                            const QString &win_code);

// Sent by a cloud relay to its presenter: the audience and tally every few seconds, and each
// viewer question with `raw`, the question's JSON text, percent-encoded, and an "id" the
// presenter's answer names once it has stored the question (or could not).
QString statInfoMessage(int clients, int totalBytes, const QVector<qint32> &votes);
QString questionMessage(const QByteArray &questionJson, qint64 id);
// presenter -> relay: {"command":"question_stored","id":<id>,"stored":<bool>}
QString questionStoredMessage(qint64 id, bool stored);

// A viewer's "question_upvote" as a cloud relay passes it to its presenter: "id", "voter" and
// "up" taken over as the studio reads them, anything else left behind, and "viewer", the
// relay's key for the viewer's address.
QString forwardedUpvote(const QString &viewer, const QJsonObject &upvote);

// Any text that is not a JSON object yields an empty object.
QJsonObject parse(const QString &text);
// Empty when "command" is missing or not a string.
QString commandOf(const QJsonObject &message);

// "vote_result": the option number, or 0 when "result" is not a string holding a
// decimal integer (a JSON number does not count).
int voteResultOption(const QJsonObject &message);

struct StatInfo
{
    int clients = 0;
    int totalBytes = 0;
    QJsonArray votes;
};
// "on_stat_info": whole numbers within 32 bits; anything else reads as 0.
StatInfo statInfo(const QJsonObject &message);

// "question": the percent-decoded "raw" member, the UTF-8 JSON text of a question.
QByteArray questionPayload(const QJsonObject &message);

} // namespace CommandMessages
