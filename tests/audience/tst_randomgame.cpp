#include "audience/DrawRun.h"
#include "audience/gui/RandomGame.h"
#include "relay/CommandMessages.h"
#include "support/FakeAudienceLink.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

// The window over its draw run, the run's clock driven by hand: the 10 s round takes no time.
class TestRandomGame : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void firstOpeningShowsDefaults();
    void reopeningLoadsTheTextsOfTheLastStart();
    void oneGameTicksTwentyFiveTimesThenFinishes();
    void startButtonIsDisabledWhileTheGameRuns();
    void finishCarriesTheTextsAtFinishTime();
    void clockTicksEvery400Ms();

private:
    QLineEdit *edit(const char *name) const { return m_game->findChild<QLineEdit *>(name); }
    QPushButton *startButton() const { return m_game->findChild<QPushButton *>("cmdStart"); }
    void tickToTheEnd();

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<FakeAudienceLink> m_link;
    std::unique_ptr<DrawRun> m_run;
    std::unique_ptr<RandomGame> m_game;
};

void TestRandomGame::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_settings = std::make_unique<QSettings>(m_dir->filePath("settings.ini"), QSettings::IniFormat);
    m_link = std::make_unique<FakeAudienceLink>();
    m_run = std::make_unique<DrawRun>([this] { return m_link.get(); });
    m_game = std::make_unique<RandomGame>(m_run.get());
}

void TestRandomGame::cleanup()
{
    m_game.reset();
    m_run.reset();
    m_settings.reset();
    m_dir.reset();
}

void TestRandomGame::tickToTheEnd()
{
    for (int tick = 0; tick < 26; ++tick)
        m_run->tick();
}

void TestRandomGame::firstOpeningShowsDefaults()
{
    QVERIFY(!m_game->isVisible());
    m_game->showGame(m_settings.get());
    QVERIFY(m_game->isVisible());
    QCOMPARE(m_game->windowTitle(), QString("Random Winner Game"));
    QVERIFY(m_game->testAttribute(Qt::WA_StyledBackground));
    QCOMPARE(edit("winnerTextLineEdit")->text(), QString("You WON !!!"));
    QCOMPARE(edit("notWinnerTextLineEdit")->text(), QString("Sorry, don't be sad."));
    // No longer than the pages get them.
    QCOMPARE(edit("winnerTextLineEdit")->maxLength(), CommandMessages::kMaxTitleChars);
    QCOMPARE(edit("notWinnerTextLineEdit")->maxLength(), CommandMessages::kMaxTitleChars);
    QVERIFY(edit("winCodeLineEdit")->isReadOnly());
    QCOMPARE(edit("winCodeLineEdit")->placeholderText(),
             QString("special code for check winner. auto generated."));
    QCOMPARE(startButton()->text(), QString("Start Game"));
    QVERIFY(m_run->colours().isEmpty());
}

void TestRandomGame::reopeningLoadsTheTextsOfTheLastStart()
{
    m_game->showGame(m_settings.get());
    edit("winnerTextLineEdit")->setText(" Prize! ");
    edit("notWinnerTextLineEdit")->setText("");
    startButton()->click();
    QCOMPARE(m_settings->value("WIN_TEXT").toString(), QString(" Prize! "));
    QCOMPARE(m_settings->value("LOSE_TEXT").toString(), QString(""));
    tickToTheEnd();
    const QString code = edit("winCodeLineEdit")->text();

    m_game->close();
    edit("winnerTextLineEdit")->setText("changed");
    m_game->showGame(m_settings.get());
    QCOMPARE(edit("winnerTextLineEdit")->text(), QString(" Prize! "));
    QCOMPARE(edit("notWinnerTextLineEdit")->text(), QString(""));
    QCOMPARE(edit("winCodeLineEdit")->text(), code);
}

void TestRandomGame::oneGameTicksTwentyFiveTimesThenFinishes()
{
    QSignalSpy ticks(m_run.get(), &DrawRun::progressed);
    QSignalSpy finishes(m_run.get(), &DrawRun::finished);
    m_game->showGame(m_settings.get());
    startButton()->click();
    QVERIFY(m_run->isRunning());
    QCOMPARE(edit("winCodeLineEdit")->text(), QString("wait..."));
    QCOMPARE(m_run->colours().size(), 110);

    for (int tick = 1; tick <= 25; ++tick) {
        m_run->tick();
        QCOMPARE(ticks.count(), tick);
        const int proc = ticks.last().at(1).toInt();
        QCOMPARE(proc, 4 * tick);
        QCOMPARE(ticks.last().at(0).toString(), m_run->colours().at(proc - 1).name());
        QCOMPARE(edit("winCodeLineEdit")->text(), QString("wait... %1 %").arg(proc));
    }
    QVERIFY(qAbs(QColor(ticks.first().at(0).toString()).hslHueF() - 0.854102) < 0.005);
    QCOMPARE(finishes.count(), 0);

    m_run->tick();
    QCOMPARE(ticks.count(), 25);
    QCOMPARE(finishes.count(), 1);
    QCOMPARE(m_link->gameTicks, 25);
    QCOMPARE(m_link->gameFinishes, 1);
    const QString code = finishes.first().at(2).toString();
    QVERIFY2(QRegularExpression("^[1-9][0-9]{2}-[1-9][0-9]{2}$").match(code).hasMatch(),
             qPrintable(code));
    QCOMPARE(edit("winCodeLineEdit")->text(), code);
    QVERIFY(!m_run->isRunning());

    // A stray tick after the finish sends nothing more.
    m_run->tick();
    QCOMPARE(ticks.count(), 25);
    QCOMPARE(finishes.count(), 1);
}

void TestRandomGame::startButtonIsDisabledWhileTheGameRuns()
{
    QSignalSpy finishes(m_run.get(), &DrawRun::finished);
    m_game->showGame(m_settings.get());
    QVERIFY(startButton()->isEnabled());
    startButton()->click();
    QVERIFY(!startButton()->isEnabled());
    for (int tick = 0; tick < 25; ++tick)
        m_run->tick();
    QVERIFY(!startButton()->isEnabled());
    m_run->tick();
    QVERIFY(startButton()->isEnabled());

    // The next game starts afresh: a new clock, a new code.
    startButton()->click();
    QVERIFY(!startButton()->isEnabled());
    QCOMPARE(edit("winCodeLineEdit")->text(), QString("wait..."));
    tickToTheEnd();
    QCOMPARE(finishes.count(), 2);
    QVERIFY(finishes.at(0).at(2) != finishes.at(1).at(2));
}

void TestRandomGame::finishCarriesTheTextsAtFinishTime()
{
    QSignalSpy finishes(m_run.get(), &DrawRun::finished);
    m_game->showGame(m_settings.get());
    startButton()->click();
    edit("winnerTextLineEdit")->setText("late winner");
    edit("notWinnerTextLineEdit")->setText("late loser");
    tickToTheEnd();
    QCOMPARE(finishes.count(), 1);
    QCOMPARE(finishes.first().at(0).toString(), QString("late loser"));
    QCOMPARE(finishes.first().at(1).toString(), QString("late winner"));
    QCOMPARE(m_settings->value("WIN_TEXT").toString(), QString("You WON !!!"));
}

void TestRandomGame::clockTicksEvery400Ms()
{
    QSignalSpy ticks(m_run.get(), &DrawRun::progressed);
    m_game->showGame(m_settings.get());
    QElapsedTimer elapsed;
    elapsed.start();
    startButton()->click();
    QTRY_COMPARE_WITH_TIMEOUT(ticks.count(), 1, 2000);
    // A coarse timer may fire up to 5 % early.
    QVERIFY2(elapsed.elapsed() >= 380, qPrintable(QString::number(elapsed.elapsed())));
    QCOMPARE(ticks.first().at(1).toInt(), 4);
    QTRY_COMPARE_WITH_TIMEOUT(ticks.count(), 2, 2000);
    QVERIFY2(elapsed.elapsed() >= 760, qPrintable(QString::number(elapsed.elapsed())));
}

QTEST_MAIN(TestRandomGame)
#include "tst_randomgame.moc"
