#include "audience/DrawRun.h"
#include "audience/gui/RandomGame.h"
#include "relay/WSServer.h"
#include "support/RawWebSocketClient.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

// The game window against the real local relay, with command viewers on distinct loopback
// addresses and one video viewer, which must not see any of it.
class TestRandomGameRelay : public QObject
{
    Q_OBJECT
private slots:
    void everyViewerSeesTheGameAndOneWins();
};

void TestRandomGameRelay::everyViewerSeesTheGameAndOneWins()
{
    constexpr int kViewers = 4;
    QTemporaryDir dir;
    QSettings settings(dir.filePath("settings.ini"), QSettings::IniFormat);
    WSServer relay(0);
    relay.start("127.0.0.1", 0);
    QVERIFY(relay.isListening());
    DrawRun run([&relay] { return &relay; });
    RandomGame game(&run);

    std::unique_ptr<RawWebSocketClient> viewers[kViewers];
    for (int i = 0; i < kViewers; ++i) {
        viewers[i] = std::make_unique<RawWebSocketClient>();
        QVERIFY(viewers[i]->open(QHostAddress(QString("127.0.0.%1").arg(i + 2)), relay.serverPort(),
                                 "/cmdchannel"));
    }
    RawWebSocketClient video;
    QVERIFY(video.open(QHostAddress("127.0.0.9"), relay.serverPort(), "/readvideo"));
    QTRY_COMPARE(relay.room().commandViewers(), kViewers);

    game.showGame(&settings);
    game.findChild<QLineEdit *>("winnerTextLineEdit")->setText("Prize: a mug");
    game.findChild<QLineEdit *>("notWinnerTextLineEdit")->setText("Next time");
    game.findChild<QPushButton *>("cmdStart")->click();
    for (int tick = 0; tick < 26; ++tick)
        run.tick();
    const QString code = game.findChild<QLineEdit *>("winCodeLineEdit")->text();

    int winners = 0;
    for (auto &viewer : viewers) {
        QTRY_COMPARE(viewer->textMessages.size(), 26);
        for (int tick = 0; tick < 25; ++tick) {
            const QJsonObject message =
                QJsonDocument::fromJson(viewer->textMessages[tick].toUtf8()).object();
            QCOMPARE(message["command"].toString(), QString("random_game_tick"));
            QCOMPARE(message["proc"].toInt(), 4 * (tick + 1));
            QCOMPARE(message["clr"].toString(), run.colours().at(4 * tick + 3).name());
        }
        const QJsonObject finish =
            QJsonDocument::fromJson(viewer->textMessages.last().toUtf8()).object();
        QCOMPARE(finish["command"].toString(), QString("random_game_finish"));
        if (finish.contains("win_code")) {
            ++winners;
            QCOMPARE(finish.keys(), (QStringList{"command", "win_code", "win_txt"}));
            QCOMPARE(finish["win_code"].toString(), code);
            QCOMPARE(finish["win_txt"].toString(), QString("Prize: a mug"));
        } else {
            QCOMPARE(finish.keys(), (QStringList{"command", "lose_txt"}));
            QCOMPARE(finish["lose_txt"].toString(), QString("Next time"));
        }
    }
    QCOMPARE(winners, 1);
    QCOMPARE(video.textMessages.size(), 0);
    relay.stop();
}

QTEST_MAIN(TestRandomGameRelay)
#include "tst_randomgame_relay.moc"
