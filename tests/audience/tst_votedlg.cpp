#include "audience/VoteRun.h"
#include "audience/VoteState.h"
#include "audience/gui/VoteDlg.h"
#include "relay/CommandMessages.h"
#include "support/FakeAudienceLink.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

class TestVoteDlg : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void resultText_data();
    void resultText();
    void firstOpeningShowsDefaults();
    void thirtySecondVote();
    void fiveTrimmedOptionsAreSentAndStored();
    void breakStopsOnceAndNextVoteStartsAfresh();
    void noClientsInsteadOfDividingByZero();
    void reopeningLoadsTheLastVote();

private:
    template <typename T> T *child(const char *name) const { return m_dlg->findChild<T *>(name); }
    QString text(const char *label) const { return child<QLabel>(label)->text(); }
    void open();
    void tick(int times = 1);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<VoteState> m_vote;
    std::unique_ptr<FakeAudienceLink> m_link;
    std::unique_ptr<VoteRun> m_run;
    std::unique_ptr<VoteDlg> m_dlg;
    QVector<qint32> m_tally;
    int m_tallyReads = 0;
};

void TestVoteDlg::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_settings = std::make_unique<QSettings>(m_dir->filePath("settings.ini"), QSettings::IniFormat);
    m_vote = std::make_unique<VoteState>();
    m_vote->setTallySource([this] {
        ++m_tallyReads;
        return m_tally;
    });
    m_link = std::make_unique<FakeAudienceLink>();
    m_run = std::make_unique<VoteRun>(m_vote.get(), [this] { return m_link.get(); });
    m_dlg = std::make_unique<VoteDlg>(m_run.get());
    m_tally = QVector<qint32>(10, 0);
    m_tallyReads = 0;
}

void TestVoteDlg::cleanup()
{
    m_dlg.reset();
    m_run.reset();
    m_vote.reset();
    m_settings.reset();
    m_dir.reset();
}

void TestVoteDlg::open()
{
    m_dlg->showVote(m_settings.get(), "http://192.0.2.2:8080");
}

void TestVoteDlg::tick(int times)
{
    for (int i = 0; i < times; ++i)
        m_run->tick();
}

void TestVoteDlg::resultText_data()
{
    QTest::addColumn<int>("votes");
    QTest::addColumn<int>("total");
    QTest::addColumn<QString>("text");
    QTest::newRow("two of three") << 2 << 3 << "votes: 2 from  3 ( 66.6667 % )";
    QTest::newRow("one of three") << 1 << 3 << "votes: 1 from  3 ( 33.3333 % )";
    QTest::newRow("all") << 3 << 3 << "votes: 3 from  3 ( 100 % )";
    QTest::newRow("five of eight") << 5 << 8 << "votes: 5 from  8 ( 62.5 % )";
    QTest::newRow("none") << 0 << 4 << "votes: 0 from  4 ( 0 % )";
    QTest::newRow("no clients") << 0 << 0 << "no clients";
    QTest::newRow("votes but no clients") << 3 << 0 << "no clients";
}

void TestVoteDlg::resultText()
{
    QFETCH(int, votes);
    QFETCH(int, total);
    QFETCH(QString, text);
    QCOMPARE(VoteDlg::resultText(votes, total), text);
}

void TestVoteDlg::firstOpeningShowsDefaults()
{
    QCOMPARE(m_dlg->windowTitle(), QString("Vote"));
    QVERIFY(m_dlg->testAttribute(Qt::WA_StyledBackground));
    QVERIFY(!m_dlg->isVisible());
    QCOMPARE(m_dlg->votes(), QVector<qint32>(10, 0));
    open();
    QVERIFY(m_dlg->isVisible());
    QCOMPARE(child<QLineEdit>("headerLineEdit")->text(), QString("Select one option"));
    // No longer than the pages get them.
    QCOMPARE(child<QLineEdit>("headerLineEdit")->maxLength(), CommandMessages::kMaxTitleChars);
    for (const char *name : {"option1LineEdit", "option2LineEdit", "option3LineEdit",
                             "option4LineEdit", "option5LineEdit"}) {
        QCOMPARE(child<QLineEdit>(name)->text(), QString());
        QCOMPARE(child<QLineEdit>(name)->maxLength(), CommandMessages::kMaxOptionChars);
    }
    QCOMPARE(child<QSpinBox>("spbDuration")->value(), 60);
    QCOMPARE(child<QPushButton>("cmdStart")->text(), QString("Start Vote"));
    QCOMPARE(text("lblURL"),
             QString("<a style='color:white;' href='http://192.0.2.2:8080/vote_result.html'>web "
                     "view</a>"));
    QVERIFY(child<QLabel>("lblURL")->openExternalLinks());
}

void TestVoteDlg::thirtySecondVote()
{
    open();
    child<QSpinBox>("spbDuration")->setValue(30);
    m_tally = {3, 2, 1, 0, 0, 0, 0, 0, 0, 0};
    QSignalSpy started(m_run.get(), &VoteRun::started);
    QSignalSpy stopped(m_run.get(), &VoteRun::stopped);
    child<QPushButton>("cmdStart")->click();
    QCOMPARE(started.count(), 1);
    QCOMPARE(m_link->voteStarts, 1);
    QCOMPARE(child<QPushButton>("cmdStart")->text(), QString("Break"));
    QVERIFY(child<QPushButton>("cmdStart")->isChecked());
    QVERIFY(!child<QLineEdit>("headerLineEdit")->isEnabled());
    QVERIFY(!child<QLineEdit>("option3LineEdit")->isEnabled());

    for (int i = 1; i <= 60; ++i) {
        tick();
        QCOMPARE(m_tallyReads, i);
        QCOMPARE(text("lblStat"), QString("time left: %1").arg(int((30000 - 500 * i) / 1000.0)));
        QCOMPARE(stopped.count(), 0);
    }
    QCOMPARE(text("lblStat"), QString("time left: 0"));
    QCOMPARE(text("lblOption1"), QString("votes: 2 from  3 ( 66.6667 % )"));
    QCOMPARE(text("lblOption2"), QString("votes: 1 from  3 ( 33.3333 % )"));
    QCOMPARE(text("lblOption5"), QString("votes: 0 from  3 ( 0 % )"));

    tick();
    QCOMPARE(stopped.count(), 1);
    QCOMPARE(m_link->voteStops, 1);
    // The end of the vote takes one last reading, so late answers still count.
    QCOMPARE(m_tallyReads, 61);
    QCOMPARE(started.count(), 1);
    QCOMPARE(text("lblStat"), QString());
    QCOMPARE(text("lblOption1"), QString("votes: 2 from  3 ( 66.6667 % )"));
    QCOMPARE(child<QPushButton>("cmdStart")->text(), QString("Start Vote"));
    QVERIFY(!child<QPushButton>("cmdStart")->isChecked());
    QVERIFY(child<QLineEdit>("headerLineEdit")->isEnabled());
    QVERIFY(child<QLineEdit>("option3LineEdit")->isEnabled());
}

void TestVoteDlg::fiveTrimmedOptionsAreSentAndStored()
{
    open();
    child<QLineEdit>("headerLineEdit")->setText("  Best colour?\t");
    child<QLineEdit>("option1LineEdit")->setText(" red  green ");
    child<QSpinBox>("spbDuration")->setValue(90);
    QSignalSpy started(m_run.get(), &VoteRun::started);
    child<QPushButton>("cmdStart")->click();
    QCOMPARE(started.count(), 1);
    const QStringList expected{"red  green", "", "", "", ""};
    QCOMPARE(started.first().at(0).toString(), QString("Best colour?"));
    QCOMPARE(started.first().at(1).toStringList(), expected);
    QCOMPARE(m_dlg->options(), expected);
    QCOMPARE(m_settings->value("VOTE_TITLE").toString(), QString("Best colour?"));
    QCOMPARE(m_settings->value("VOTE_OPTION_1").toString(), QString("red  green"));
    QCOMPARE(m_settings->value("VOTE_OPTION_5").toString(), QString());
    QCOMPARE(m_settings->value("VOTE_DUR").toInt(), 90);
}

void TestVoteDlg::breakStopsOnceAndNextVoteStartsAfresh()
{
    open();
    child<QSpinBox>("spbDuration")->setValue(30);
    QSignalSpy stopped(m_run.get(), &VoteRun::stopped);
    auto *button = child<QPushButton>("cmdStart");
    button->click();
    tick(10);
    QCOMPARE(text("lblStat"), QString("time left: 25"));
    button->click();
    QCOMPARE(stopped.count(), 1);
    QCOMPARE(button->text(), QString("Start Vote"));
    QVERIFY(!button->isChecked());
    button->click();
    tick();
    QCOMPARE(text("lblStat"), QString("time left: 29"));
    QCOMPARE(stopped.count(), 1);
}

void TestVoteDlg::noClientsInsteadOfDividingByZero()
{
    open();
    m_tally = {0, 4, 0, 0, 0, 0, 0, 0, 0, 0};
    child<QPushButton>("cmdStart")->click();
    tick();
    for (const char *name : {"lblOption1", "lblOption2", "lblOption3", "lblOption4", "lblOption5"})
        QCOMPARE(text(name), QString("no clients"));
}

void TestVoteDlg::reopeningLoadsTheLastVote()
{
    open();
    child<QLineEdit>("headerLineEdit")->setText("Q1");
    child<QLineEdit>("option2LineEdit")->setText("No");
    child<QSpinBox>("spbDuration")->setValue(120);
    child<QPushButton>("cmdStart")->click();
    child<QPushButton>("cmdStart")->click();
    m_dlg->close();

    VoteState otherVote;
    VoteRun otherRun(&otherVote, [this] { return m_link.get(); });
    VoteDlg other(&otherRun);
    other.showVote(m_settings.get(), "http://h:1");
    QCOMPARE(other.findChild<QLineEdit *>("headerLineEdit")->text(), QString("Q1"));
    QCOMPARE(other.findChild<QLineEdit *>("option2LineEdit")->text(), QString("No"));
    QCOMPARE(other.findChild<QSpinBox *>("spbDuration")->value(), 120);
}

QTEST_MAIN(TestVoteDlg)
#include "tst_votedlg.moc"
