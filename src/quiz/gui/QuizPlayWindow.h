#pragma once

#include "quiz/QuizInfo.h"
#include "quiz/QuizSession.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

class QSettings;

namespace Ui {
class QuizPlayWindow;
}

// The presenter's view of a quiz played live: the open question and its options in the order
// viewers see them, the countdown, how many have answered, the leaderboard, and one button that
// moves the quiz on. The right answer is marked only once its question has ended: the
// presenter's screen may be the one on air. The seconds per question are kept in the settings
// store. The window does not own the quiz: whoever plays it to the viewers does. GUI thread.
class QuizPlayWindow : public QWidget
{
    Q_OBJECT
public:
    // Plays the quiz with that many seconds per question and returns it; called once, when
    // the presenter starts. The quiz returned may be destroyed before the window.
    using Starter = std::function<QuizSession *(int questionSeconds)>;

    // `settings` must outlive the window.
    QuizPlayWindow(const QuizInfo &quiz, QSettings *settings, Starter start,
                   QWidget *parent = nullptr);
    ~QuizPlayWindow() override;

    // The quiz being played, once the presenter started it; null before (and once it is gone).
    QuizSession *session() const { return m_session; }

public slots:
    void on_btnNext_clicked();

private:
    void refresh();
    void showOptions();
    void showLeaderboard();

    std::unique_ptr<Ui::QuizPlayWindow> ui;
    QSettings *m_settings;
    Starter m_start;
    int m_questionCount;
    bool m_started = false;
    QPointer<QuizSession> m_session;
    QTimer m_countdown;
};
