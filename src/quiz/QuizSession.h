#pragma once

#include "quiz/QuizBoard.h"
#include "quiz/QuizInfo.h"
#include "quiz/QuizPlay.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QTimer>

// A stored quiz played live through the running session's relay: sends the quiz's command
// messages through `command`, takes viewers' answers from the relay, and closes each question
// when its time is up. The presenter moves it on with advance(). GUI thread.
class QuizSession : public QObject
{
    Q_OBJECT
public:
    // The settings key of the seconds each question stays open, and its default.
    static constexpr const char *kQuestionSecondsKey = "QUIZ_QUESTION_SEC";
    static constexpr int kDefaultQuestionSeconds = 20;

    // What advance() does next.
    enum class Step { AskFirst, CloseQuestion, AskNext, ShowResults, Done };

    QuizSession(const QuizInfo &quiz, int questionSeconds, QuizPlay::Shuffle shuffle = {},
                QObject *parent = nullptr);

    // What the room's screen shows of this quiz now; it points into this session.
    QuizBoard::Snapshot snapshot() const { return {m_title, &m_play, timeLeftMs()}; }

    // How many of the quiz's questions can be asked (those with a title).
    static int playableQuestions(const QuizInfo &quiz);

    const QuizPlay &play() const { return m_play; }
    const QString &title() const { return m_title; }
    Step nextStep() const;
    qint64 timeLeftMs() const { return m_play.timeLeftMs(m_clock.elapsed()); }

public slots:
    // Opens the first or next question, closes the open one early, or, after the last
    // question, ends the quiz with the final leaderboard.
    void advance();
    // A command message from the viewer at `viewer` (its address); only answers are read.
    void onViewerMessage(const QString &viewer, const QJsonObject &message);

signals:
    void command(const QString &text);
    // The question, its answers or the phase changed.
    void changed();

private:
    void closeQuestion();

    QString m_title;
    QuizPlay m_play;
    QElapsedTimer m_clock;
    QTimer m_deadline;
};
