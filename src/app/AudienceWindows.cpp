#include "app/AudienceWindows.h"

#include "audience/gui/RandomGame.h"
#include "audience/gui/VoteDlg.h"
#include "audience/gui/ZoomQRW.h"
#include "quiz/gui/ISquiz.h"
#include "quiz/gui/QuizPlayWindow.h"
#include "session/StudioSession.h"
#include "web/gui/QuestionsWindow.h"

AudienceWindows::AudienceWindows(StudioSession *session, QSettings *settings)
    : m_session(session), m_settings(settings),
      m_vote(std::make_unique<VoteDlg>(session->voteRun())),
      m_randomGame(std::make_unique<RandomGame>(session->drawRun())),
      m_zoomQR(std::make_unique<ZoomQRW>())
{}

AudienceWindows::~AudienceWindows()
{
    // The quiz and questions windows have no owner of their own (the play window deletes
    // itself when closed); they go before the session they show.
    delete m_quizPlay.data();
    delete m_questions.data();
}

QuizPlayWindow *AudienceWindows::quizPlay() const
{
    return m_quizPlay;
}

QuestionsWindow *AudienceWindows::questions() const
{
    return m_questions;
}

void AudienceWindows::showVote()
{
    m_vote->showVote(m_settings, m_session->apiBaseUrl());
}

void AudienceWindows::showRandomGame()
{
    m_randomGame->showGame(m_settings);
}

void AudienceWindows::showQR(const QString &url)
{
    m_zoomQR->showQR(url);
}

void AudienceWindows::showQuizzes()
{
    if (!m_squiz) {
        m_squiz = createSquiz(*m_settings);
        m_squiz->setPlayHandler([this](const QuizInfo &quiz) { playQuiz(quiz); });
    }
    m_squiz->showWindow();
}

void AudienceWindows::showQuestions()
{
    if (!m_questions)
        m_questions = new QuestionsWindow(m_session->questionBoard(), m_session->store());
    m_questions->show();
    m_questions->raise();
    m_questions->activateWindow();
}

void AudienceWindows::playQuiz(const QuizInfo &quiz)
{
    if (m_quizPlay)
        m_quizPlay->close();
    // What this window started, so that closing it ends that quiz and no later one.
    auto played = std::make_shared<QPointer<QuizSession>>();
    m_quizPlay = new QuizPlayWindow(quiz, m_settings, [session = m_session, quiz, played](int s) {
        *played = session->playQuiz(quiz, s);
        return played->data();
    });
    QObject::connect(m_quizPlay, &QObject::destroyed, m_session, [session = m_session, played] {
        if (*played)
            session->endQuiz();
    });
    m_quizPlay->show();
    m_quizPlay->raise();
}

void AudienceWindows::closeAll()
{
    m_vote->close();
    m_randomGame->close();
    m_zoomQR->close();
    if (m_squiz)
        m_squiz->hideWindow();
    if (m_quizPlay)
        m_quizPlay->close();
    if (m_questions)
        m_questions->close();
}
