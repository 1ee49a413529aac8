#pragma once

#include "quiz/QuizFile.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

// One stored quiz played live with the audience: which question is open, its options in the
// order viewers see them, the answers (one per viewer address and question, changeable until
// the question ends) and the scores. Plain logic without a clock or a network: callers pass the
// time in milliseconds of any steady clock and say who answered. GUI thread.
//
// Scoring: a right answer scores between kSlowestPoints (at the last moment) and kFastestPoints
// (at once), in proportion to the time that was left when the viewer gave their final answer
// to that question; a wrong or missing answer scores nothing. Equal totals keep the order in
// which the players first answered.
class QuizPlay
{
public:
    static constexpr int kFastestPoints = 1000;
    static constexpr int kSlowestPoints = 500;
    // Nicknames are shown on a shared screen; a longer one is cut.
    static constexpr int kMaxNicknameLength = 24;

    enum class Phase { NotStarted, Asking, Revealed, Finished };

    // Puts `count` option indexes in the order viewers see them; the default shuffles with the
    // system's random source, tests pass a fixed order.
    using Shuffle = std::function<void(QVector<int> &order)>;

    // What viewers see of the open question. Option numbers on the wire count from 1 in
    // this order.
    struct AskedQuestion
    {
        int number = 0; // from 1
        int count = 0;  // questions in the quiz
        QString title;
        QStringList options;
        qint64 durationMs = 0;
    };

    struct Standing
    {
        QString nickname;
        int score = 0;
        int rightAnswers = 0;
    };

    // Questions without a title are left out; so are empty options other than the right one.
    QuizPlay(const QVector<QuizFile::Question> &questions, qint64 questionDurationMs,
             Shuffle shuffle = {});

    int questionCount() const { return m_questions.size(); }
    Phase phase() const { return m_phase; }
    // The open or last closed question, from 1; 0 before the first.
    int currentNumber() const { return m_current + 1; }
    bool hasNextQuestion() const { return m_current + 1 < m_questions.size(); }

    // Opens the next question at `nowMs`. Only while no question is open and one remains.
    AskedQuestion askNext(qint64 nowMs);
    const AskedQuestion &askedQuestion() const { return m_asked; }
    qint64 timeLeftMs(qint64 nowMs) const;

    // Records a viewer's answer to question `number` (from 1), option `option` (from 1, wire
    // order). False, and nothing changes, when that question is not open, its time is up or
    // the option does not exist. A repeated answer replaces the earlier one and takes its time.
    bool answer(const QString &viewer, const QString &nickname, int number, int option,
                qint64 nowMs);
    int answeredCount() const { return m_answers.size(); }
    // Answers per option of the open or last question, in wire order.
    QVector<int> answerCounts() const;

    // Closes the open question (its time is up or the presenter moved on) and scores it.
    // Returns the right option's number in wire order.
    int closeQuestion();
    // The right option's wire number of the last closed question; 0 before one closed.
    int rightOption() const { return m_phase == Phase::Asking ? 0 : m_rightOption; }

    // Ends the quiz; a question still open is closed and scored first.
    void finish();

    // Highest score first; equal scores in the order the players first answered.
    QVector<Standing> leaderboard() const;

    // How a viewer's nickname shows: trimmed, line breaks and other control characters
    // removed, cut to kMaxNicknameLength; "Player <n>" when nothing is left, n counting the
    // players in the order they first answered.
    static QString displayName(const QString &nickname, int playerNumber);

private:
    struct Player
    {
        QString nickname;
        int order = 0;
        int score = 0;
        int rightAnswers = 0;
    };
    struct Answer
    {
        int option = 0;
        qint64 atMs = 0;
    };
    struct Prepared
    {
        QString title;
        QStringList options; // right answer first, as stored
    };

    Player &player(const QString &viewer);

    QVector<Prepared> m_questions;
    qint64 m_durationMs;
    Shuffle m_shuffle;
    Phase m_phase = Phase::NotStarted;
    int m_current = -1;
    AskedQuestion m_asked;
    qint64 m_askedAtMs = 0;
    int m_rightOption = 0;
    QHash<QString, Answer> m_answers; // by viewer, for the open or last question
    QHash<QString, Player> m_players;
};
