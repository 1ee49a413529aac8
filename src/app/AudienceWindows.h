#pragma once

#include <QPointer>
#include <QString>
#include <memory>

class ISquiz;
class QSettings;
class QuestionsWindow;
class QuizPlayWindow;
class RandomGame;
class StudioSession;
class VoteDlg;
class ZoomQRW;
struct QuizInfo;

// The presenter's windows of the audience's activities, each the view of a part of the
// session: voting, the random winner game, the zoomed QR code, the quiz list and the quiz
// played live, the questions. Each is made once (the quiz windows when first asked for) and
// shown on request; closing one only hides it, while the activity runs on in the session.
// GUI thread only.
class AudienceWindows
{
public:
    // Both are lent and must outlive the windows.
    AudienceWindows(StudioSession *session, QSettings *settings);
    ~AudienceWindows();

    VoteDlg *vote() const { return m_vote.get(); }
    RandomGame *randomGame() const { return m_randomGame.get(); }
    ZoomQRW *zoomQR() const { return m_zoomQR.get(); }
    // The window of the quiz being played live, null when none is open.
    QuizPlayWindow *quizPlay() const;
    // The Questions window once opened, else null.
    QuestionsWindow *questions() const;

    void showVote();
    void showRandomGame();
    void showQR(const QString &url);
    // The quiz list window, made on the first call.
    void showQuizzes();
    void showQuestions();
    // Opens the play window of `quiz` (closing an earlier one); once the presenter starts it,
    // the session plays it to the viewers.
    void playQuiz(const QuizInfo &quiz);
    // The studio ends with its main window; an open quiz list would keep the process alive.
    void closeAll();

private:
    StudioSession *m_session;
    QSettings *m_settings;
    std::unique_ptr<VoteDlg> m_vote;
    std::unique_ptr<RandomGame> m_randomGame;
    std::unique_ptr<ZoomQRW> m_zoomQR;
    std::unique_ptr<ISquiz> m_squiz;
    QPointer<QuizPlayWindow> m_quizPlay;
    QPointer<QuestionsWindow> m_questions;
};
