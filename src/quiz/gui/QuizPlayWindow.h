#pragma once

#include "quiz/QuizInfo.h"
#include "quiz/QuizSession.h"

#include <QTimer>
#include <QWidget>
#include <memory>

class QSettings;

namespace Ui {
class QuizPlayWindow;
}

// The presenter's view of a quiz played live: the open question and its options in the order
// viewers see them, the countdown, how many have answered, the leaderboard, and one button that
// moves the quiz on. The right answer is marked only once its question has ended: the
// presenter's screen may be the one on air. The seconds per question are kept in the settings
// store. GUI thread.
class QuizPlayWindow : public QWidget
{
    Q_OBJECT
public:
    // `settings` must outlive the window.
    QuizPlayWindow(const QuizInfo &quiz, QSettings *settings, QuizPlay::Shuffle shuffle = {},
                   QWidget *parent = nullptr);
    ~QuizPlayWindow() override;

    // The quiz being played, once the presenter started it; null before.
    QuizSession *session() const { return m_session.get(); }

public slots:
    void on_btnNext_clicked();

signals:
    // The presenter started the quiz: its messages go to viewers from now on.
    void started(QuizSession *session);

private:
    void refresh();
    void showOptions();
    void showLeaderboard();

    std::unique_ptr<Ui::QuizPlayWindow> ui;
    QuizInfo m_quiz;
    QSettings *m_settings;
    QuizPlay::Shuffle m_shuffle;
    int m_questionCount;
    std::unique_ptr<QuizSession> m_session;
    QTimer m_countdown;
};
