#include "audience/VoteRun.h"
#include "audience/VoteState.h"
#include "audience/gui/VoteDlg.h"
#include "relay/WSServer.h"
#include "support/RawWebSocketClient.h"

#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {

// The window, its vote run and the relay the run sends through, wired as a session wires them.
struct VoteRig
{
    VoteRig()
    {
        relay.start("127.0.0.1", 0);
        vote.setTallySource([this] { return relay.voteResults(); });
    }
    QTemporaryDir dir;
    QSettings settings{dir.filePath("settings.ini"), QSettings::IniFormat};
    WSServer relay{0};
    VoteState vote;
    VoteRun run{&vote, [this] {
                    return &relay;
                }};
    VoteDlg dlg{&run};
};

} // namespace

// The voting window against the real local relay, with three viewers on distinct loopback
// addresses answering over their command channels.
class TestVoteDlgRelay : public QObject
{
    Q_OBJECT
private slots:
    void viewersAnswersReachTheWindow();
    void answerJustBeforeStopCounts();
};

void TestVoteDlgRelay::viewersAnswersReachTheWindow()
{
    VoteRig rig;
    QVERIFY(rig.relay.isListening());
    WSServer &relay = rig.relay;
    VoteDlg &dlg = rig.dlg;
    QSettings &settings = rig.settings;

    std::unique_ptr<RawWebSocketClient> viewers[3];
    for (int i = 0; i < 3; ++i) {
        viewers[i] = std::make_unique<RawWebSocketClient>();
        QVERIFY(viewers[i]->open(QHostAddress(QString("127.0.0.%1").arg(i + 2)), relay.serverPort(),
                                 "/cmdchannel"));
    }
    QTRY_COMPARE(relay.room().commandViewers(), 3);

    dlg.showVote(&settings, "http://127.0.0.1:1");
    dlg.findChild<QPushButton *>("cmdStart")->click();
    const QByteArray answers[3] = {"1", "1", "2"};
    for (int i = 0; i < 3; ++i) {
        QTRY_COMPARE(viewers[i]->textMessages.size(), 1);
        QVERIFY(viewers[i]->textMessages.first().contains("vote_start"));
        viewers[i]->sendText(R"({"command":"vote_result","result":")" + answers[i] + "\"}");
    }
    QTRY_COMPARE(relay.voteResults().value(1), 2);
    QTRY_COMPARE(relay.voteResults().value(2), 1);

    rig.run.tick();
    QCOMPARE(dlg.findChild<QLabel *>("lblOption1")->text(),
             QString("votes: 2 from  3 ( 66.6667 % )"));
    QCOMPARE(dlg.findChild<QLabel *>("lblOption2")->text(),
             QString("votes: 1 from  3 ( 33.3333 % )"));
    QCOMPARE(dlg.findChild<QLabel *>("lblOption3")->text(), QString("votes: 0 from  3 ( 0 % )"));
    QCOMPARE(dlg.votes().value(0), 3);

    dlg.findChild<QPushButton *>("cmdStart")->click();
    for (auto &viewer : viewers) {
        QTRY_COMPARE(viewer->textMessages.size(), 2);
        QVERIFY(viewer->textMessages.last().contains("vote_stop"));
    }
    relay.stop();
}

void TestVoteDlgRelay::answerJustBeforeStopCounts()
{
    VoteRig rig;
    QVERIFY(rig.relay.isListening());
    WSServer &relay = rig.relay;
    VoteState &vote = rig.vote;
    VoteDlg &dlg = rig.dlg;
    QSettings &settings = rig.settings;
    RawWebSocketClient viewer;
    QVERIFY(viewer.open(QHostAddress("127.0.0.2"), relay.serverPort(), "/cmdchannel"));
    QTRY_COMPARE(relay.room().commandViewers(), 1);

    dlg.showVote(&settings, "http://127.0.0.1:1");
    dlg.findChild<QPushButton *>("cmdStart")->click();
    QTRY_COMPARE(viewer.textMessages.size(), 1);
    rig.run.tick();
    // The answer reaches the relay after the window's last periodic reading.
    viewer.sendText(R"({"command":"vote_result","result":"3"})");
    QTRY_COMPARE(relay.voteResults().value(3), 1);

    dlg.findChild<QPushButton *>("cmdStart")->click();
    QCOMPARE(vote.isRunning(), false);
    QCOMPARE(vote.tally().value(3), 1);
    QCOMPARE(dlg.findChild<QLabel *>("lblOption3")->text(), QString("votes: 1 from  1 ( 100 % )"));
    relay.stop();
}

QTEST_MAIN(TestVoteDlgRelay)
#include "tst_votedlg_relay.moc"
