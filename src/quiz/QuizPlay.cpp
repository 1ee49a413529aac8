#include "quiz/QuizPlay.h"

#include <QRandomGenerator>

#include <algorithm>
#include <numeric>

namespace {

void shuffleWithSystemSource(QVector<int> &order)
{
    std::shuffle(order.begin(), order.end(), *QRandomGenerator::system());
}

} // namespace

QuizPlay::QuizPlay(const QVector<QuizFile::Question> &questions, qint64 questionDurationMs,
                   Shuffle shuffle)
    : m_durationMs(std::max<qint64>(1, questionDurationMs)),
      m_shuffle(shuffle ? std::move(shuffle) : Shuffle(shuffleWithSystemSource))
{
    for (const QuizFile::Question &question : questions) {
        const QString title = question.title.trimmed();
        if (title.isEmpty())
            continue;
        Prepared prepared{title, {}};
        for (int i = 0; i < question.options.size(); ++i) {
            const QString option = question.options[i].trimmed();
            if (i == 0 || !option.isEmpty())
                prepared.options << option;
        }
        m_questions << prepared;
    }
}

QuizPlay::AskedQuestion QuizPlay::askNext(qint64 nowMs)
{
    if (m_phase == Phase::Asking || m_phase == Phase::Finished || !hasNextQuestion())
        return m_asked;
    ++m_current;
    const Prepared &question = m_questions[m_current];
    QVector<int> order(question.options.size());
    std::iota(order.begin(), order.end(), 0);
    m_shuffle(order);

    m_asked =
        AskedQuestion{m_current + 1, int(m_questions.size()), question.title, {}, m_durationMs};
    for (int i = 0; i < order.size(); ++i) {
        m_asked.options << question.options[order[i]];
        if (order[i] == 0)
            m_rightOption = i + 1;
    }
    m_answers.clear();
    m_askedAtMs = nowMs;
    m_phase = Phase::Asking;
    return m_asked;
}

qint64 QuizPlay::timeLeftMs(qint64 nowMs) const
{
    if (m_phase != Phase::Asking)
        return 0;
    return std::clamp<qint64>(m_askedAtMs + m_durationMs - nowMs, 0, m_durationMs);
}

bool QuizPlay::answer(const QString &viewer, const QString &nickname, int number, int option,
                      qint64 nowMs)
{
    if (m_phase != Phase::Asking || number != currentNumber() || timeLeftMs(nowMs) <= 0 ||
        option < 1 || option > m_asked.options.size())
        return false;
    Player &who = player(viewer);
    if (!nickname.trimmed().isEmpty())
        who.nickname = displayName(nickname, who.order);
    m_answers.insert(viewer, Answer{option, nowMs});
    return true;
}

QVector<int> QuizPlay::answerCounts() const
{
    QVector<int> counts(m_asked.options.size(), 0);
    for (const Answer &answer : m_answers)
        ++counts[answer.option - 1];
    return counts;
}

int QuizPlay::closeQuestion()
{
    if (m_phase != Phase::Asking)
        return rightOption();
    for (auto it = m_answers.cbegin(); it != m_answers.cend(); ++it) {
        if (it->option != m_rightOption)
            continue;
        const qint64 left =
            std::clamp<qint64>(m_askedAtMs + m_durationMs - it->atMs, 0, m_durationMs);
        Player &who = m_players[it.key()];
        who.score +=
            kSlowestPoints +
            int(((kFastestPoints - kSlowestPoints) * left + m_durationMs / 2) / m_durationMs);
        ++who.rightAnswers;
    }
    m_phase = Phase::Revealed;
    return m_rightOption;
}

void QuizPlay::finish()
{
    closeQuestion();
    m_phase = Phase::Finished;
}

QVector<QuizPlay::Standing> QuizPlay::leaderboard() const
{
    QVector<const Player *> players;
    for (const Player &player : m_players)
        players << &player;
    std::sort(players.begin(), players.end(), [](const Player *a, const Player *b) {
        return a->score != b->score ? a->score > b->score : a->order < b->order;
    });
    QVector<Standing> standings;
    for (const Player *player : players)
        standings << Standing{player->nickname, player->score, player->rightAnswers};
    return standings;
}

QString QuizPlay::displayName(const QString &nickname, int playerNumber)
{
    QString shown;
    for (const QChar c : nickname) {
        if (c.category() != QChar::Other_Control && c.category() != QChar::Separator_Line &&
            c.category() != QChar::Separator_Paragraph)
            shown += c;
    }
    shown = shown.simplified();
    if (shown.size() > kMaxNicknameLength) {
        shown.truncate(kMaxNicknameLength);
        // Never leave half of a character that takes two code units.
        if (QChar(shown.back()).isHighSurrogate())
            shown.chop(1);
        shown = shown.trimmed();
    }
    return shown.isEmpty() ? QStringLiteral("Player %1").arg(playerNumber) : shown;
}

QuizPlay::Player &QuizPlay::player(const QString &viewer)
{
    auto it = m_players.find(viewer);
    if (it == m_players.end()) {
        const int order = m_players.size() + 1;
        it = m_players.insert(viewer, Player{displayName(QString(), order), order, 0, 0});
    }
    return *it;
}
