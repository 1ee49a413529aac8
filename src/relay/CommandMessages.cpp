#include "relay/CommandMessages.h"

#include <QJsonDocument>
#include <QJsonValue>

#include <cmath>
#include <limits>

namespace CommandMessages {

namespace {

QString serialise(const QJsonObject &message)
{
    return QString::fromUtf8(QJsonDocument(message).toJson());
}

int readInt32(const QJsonValue &value)
{
    if (!value.isDouble())
        return 0;
    const double number = value.toDouble();
    if (std::trunc(number) != number || number < std::numeric_limits<int>::min() ||
        number > std::numeric_limits<int>::max())
        return 0;
    return static_cast<int>(number);
}

} // namespace

QString bounded(const QString &text, int maxChars)
{
    if (text.size() <= maxChars)
        return text;
    const bool splitsPair = maxChars > 0 && text.at(maxChars - 1).isHighSurrogate();
    return text.left(splitsPair ? maxChars - 1 : maxChars);
}

QString voteStart(const QString &title, const QStringList &options)
{
    QJsonArray bounds;
    for (int i = 0; i < options.size() && i < kMaxVoteOptions; ++i)
        bounds.append(bounded(options.at(i), kMaxOptionChars));
    return serialise({{"command", "vote_start"},
                      {"title", bounded(title, kMaxTitleChars)},
                      {"options", bounds}});
}

QString voteStop()
{
    return serialise({{"command", "vote_stop"}});
}

QString randomGameTick(const QString &clr, int proc)
{
    return serialise({{"command", "random_game_tick"}, {"clr", clr}, {"proc", proc}});
}

QString randomGameFinishWinner(const QString &win_txt, const QString &win_code)
{
    return serialise({{"command", "random_game_finish"},
                      {"win_txt", bounded(win_txt, kMaxTitleChars)},
                      {"win_code", bounded(win_code, kMaxTitleChars)}});
}

QString randomGameFinishLoser(const QString &lose_txt)
{
    return serialise(
        {{"command", "random_game_finish"}, {"lose_txt", bounded(lose_txt, kMaxTitleChars)}});
}

QString randomGameFinishAll(const QString &lose_txt, const QString &win_txt,
                            const QString &win_code)
{
    return serialise({{"command", "random_game_finish_all"},
                      {"lose_txt", bounded(lose_txt, kMaxTitleChars)},
                      {"win_txt", bounded(win_txt, kMaxTitleChars)},
                      {"win_code", bounded(win_code, kMaxTitleChars)}});
}

QString statInfoMessage(int clients, int totalBytes, const QVector<qint32> &votes)
{
    QJsonArray tally;
    for (const qint32 count : votes)
        tally.append(count);
    return serialise({{"command", "on_stat_info"},
                      {"clients", clients},
                      {"total_bytes", totalBytes},
                      {"votes", tally}});
}

QString questionMessage(const QByteArray &questionJson, qint64 id)
{
    return serialise({{"command", "question"},
                      {"raw", QString::fromLatin1(questionJson.toPercentEncoding())},
                      {"id", double(id)}});
}

QString questionStoredMessage(qint64 id, bool stored)
{
    return serialise({{"command", "question_stored"}, {"id", double(id)}, {"stored", stored}});
}

QString forwardedUpvote(const QString &viewer, const QJsonObject &upvote)
{
    // The voter key is short; whatever a viewer sends in its place costs the presenter little.
    constexpr int kMaxVoterChars = 64;
    return serialise({{"command", "question_upvote"},
                      {"viewer", viewer},
                      {"id", upvote.value("id").toDouble()},
                      {"voter", upvote.value("voter").toString().left(kMaxVoterChars)},
                      {"up", upvote.value("up").toBool(true)}});
}

QJsonObject parse(const QString &text)
{
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

QString commandOf(const QJsonObject &message)
{
    return message.value("command").toString();
}

int voteResultOption(const QJsonObject &message)
{
    // toInt() yields 0 for anything that is not a plain decimal integer.
    return message.value("result").toString().toInt(nullptr, 10);
}

StatInfo statInfo(const QJsonObject &message)
{
    StatInfo info;
    info.clients = readInt32(message.value("clients"));
    info.totalBytes = readInt32(message.value("total_bytes"));
    info.votes = message.value("votes").toArray();
    return info;
}

QByteArray questionPayload(const QJsonObject &message)
{
    return QByteArray::fromPercentEncoding(message.value("raw").toString().toUtf8());
}

} // namespace CommandMessages
