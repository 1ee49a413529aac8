#include "quiz/gui/QuizPlayWindow.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include <algorithm>

// The presenter's play window over a quiz of two questions, with viewers' answers fed to its
// session as the relay would.
class TestQuizPlayWindow : public QObject
{
    Q_OBJECT
private slots:
    void presenterPlaysAQuiz();
};

void TestQuizPlayWindow::presenterPlaysAQuiz()
{
    QTemporaryDir dir;
    QSettings settings(dir.filePath("settings.ini"), QSettings::IniFormat);
    QJsonArray questions;
    questions.append(
        QJsonObject{{"title", "Sky?"}, {"options", QJsonArray{"blue", "green", "red", "pink"}}});
    questions.append(
        QJsonObject{{"title", "Grass?"}, {"options", QJsonArray{"green", "blue", "", ""}}});
    const QuizInfo quiz{"colours", "Colours", questions};
    std::unique_ptr<QuizSession> played;
    auto *window = new QuizPlayWindow(quiz, &settings, [&](int seconds) {
        played = std::make_unique<QuizSession>(
            quiz, seconds, [](QVector<int> &order) { std::reverse(order.begin(), order.end()); });
        return played.get();
    });
    auto *next = window->findChild<QPushButton *>("btnNext");
    auto *options = window->findChild<QListWidget *>("lstOptions");
    auto *leaders = window->findChild<QListWidget *>("lstLeaderboard");
    QCOMPARE(next->text(), QString("Start quiz"));
    QCOMPARE(window->findChild<QSpinBox *>("spbSeconds")->value(), 20);
    window->findChild<QSpinBox *>("spbSeconds")->setValue(45);

    next->click();
    QVERIFY(played);
    QCOMPARE(settings.value("QUIZ_QUESTION_SEC").toInt(), 45);
    QuizSession *session = window->session();
    QCOMPARE(session, played.get());
    QSignalSpy sent(session, &QuizSession::command);
    QVERIFY(!window->findChild<QSpinBox *>("spbSeconds")->isEnabled());
    QCOMPARE(next->text(), QString("End question"));
    QVERIFY(window->findChild<QLabel *>("lblTimeLeft")->text().startsWith("Time left: 4"));
    // Nothing tells the right answer while the question is open: this screen may be on air.
    QCOMPARE(options->count(), 4);
    for (int i = 0; i < options->count(); ++i)
        QVERIFY(!options->item(i)->text().contains(QString::fromUtf8("\u2714")));

    session->onViewerMessage(
        "10.0.0.1",
        {{"command", "quiz_answer"}, {"number", 1}, {"option", 4}, {"nickname", "Ann"}});
    session->onViewerMessage("10.0.0.2", {{"command", "vote_result"}, {"result", "1"}});
    QCOMPARE(window->findChild<QLabel *>("lblAnswered")->text(), QString("Answered: 1"));
    QCOMPARE(options->item(3)->text(), QString("4. blue  (1)"));

    next->click();
    QCOMPARE(next->text(), QString("Next question"));
    QCOMPARE(options->item(3)->text(), QString::fromUtf8("\u2714 4. blue  (1)"));
    QCOMPARE(leaders->count(), 1);
    QVERIFY(leaders->item(0)->text().startsWith("1. Ann: "));
    QCOMPARE(sent.size(), 2); // the question's end and the leaderboard

    next->click();
    QCOMPARE(options->count(), 2);
    next->click();
    QCOMPARE(next->text(), QString("Show results"));
    next->click();
    QCOMPARE(next->text(), QString("Finished"));
    QVERIFY(!next->isEnabled());
    QCOMPARE(QJsonDocument::fromJson(sent.last().at(0).toString().toUtf8())["final"].toBool(),
             true);

    // The window does not own the quiz; when its player ends it, nothing is left to move on.
    QPointer<QuizPlayWindow> shown(window);
    played.reset();
    QVERIFY(!window->isVisible());
    QTRY_VERIFY(!shown);
}

QTEST_MAIN(TestQuizPlayWindow)
#include "tst_quizplaywindow.moc"
