#include "audience/RandomGameRound.h"

#include <QRegularExpression>
#include <QSet>
#include <QTime>
#include <QtTest>

// The game's schedule, colours and check codes, without a window or a clock.
class TestRandomGameRound : public QObject
{
    Q_OBJECT
private slots:
    void twentyFiveProgressTicksThenOneFinish();
    void ticksUseEveryFourthColour();
    void colourTable_data();
    void colourTable();
    void checkCodeForm();
    void checkCodesDoNotFollowTheClock();
    void idleRoundDoesNothing();
};

void TestRandomGameRound::twentyFiveProgressTicksThenOneFinish()
{
    RandomGameRound round;
    round.start();
    QVERIFY(round.isRunning());
    for (int tick = 1; tick <= 25; ++tick) {
        const RandomGameRound::Step step = round.advance();
        QCOMPARE(step.kind, RandomGameRound::Step::Kind::Progress);
        QCOMPARE(step.proc, 4 * tick);
        QVERIFY(round.isRunning());
    }
    // The 26th tick of 400 ms: the finish comes 10.4 s after the start.
    const RandomGameRound::Step finish = round.advance();
    QCOMPARE(finish.kind, RandomGameRound::Step::Kind::Finish);
    QVERIFY(!finish.code.isEmpty());
    QVERIFY(!round.isRunning());
    QCOMPARE(RandomGameRound::kTickMs * 26, 10400);
}

void TestRandomGameRound::ticksUseEveryFourthColour()
{
    RandomGameRound round;
    round.start();
    QCOMPARE(round.colours().size(), 110);
    for (int tick = 1; tick <= 25; ++tick) {
        const RandomGameRound::Step step = round.advance();
        QCOMPARE(step.clr, round.colours().at(step.proc - 1).name());
        QVERIFY(QRegularExpression("^#[0-9a-f]{6}$").match(step.clr).hasMatch());
        if (step.proc == 4)
            QVERIFY(qAbs(QColor(step.clr).hslHueF() - 0.854102) < 0.005);
    }
}

void TestRandomGameRound::colourTable_data()
{
    QTest::addColumn<int>("entry");
    QTest::addColumn<double>("hue");
    QTest::newRow("0") << 0 << 0.0;
    QTest::newRow("1") << 1 << 0.618034;
    QTest::newRow("2") << 2 << 0.236068;
    QTest::newRow("3") << 3 << 0.854102;
    QTest::newRow("4") << 4 << 0.472136;
    QTest::newRow("99, the last one a tick uses") << 99 << 0.185367;
}

void TestRandomGameRound::colourTable()
{
    QFETCH(int, entry);
    QFETCH(double, hue);
    const QVector<QColor> colours = RandomGameRound::colourTable();
    QCOMPARE(colours.size(), 110);
    const QColor colour = colours.at(entry);
    QVERIFY2(qAbs(colour.hslHueF() - hue) < 1e-4, qPrintable(QString::number(colour.hslHueF())));
    QVERIFY(qAbs(colour.hslSaturationF() - 1.0) < 1e-4);
    QVERIFY(qAbs(colour.lightnessF() - 0.5) < 1e-4);
    QCOMPARE(colour.alpha(), 255);
}

void TestRandomGameRound::checkCodeForm()
{
    const QRegularExpression form("^([0-9]{3})-([0-9]{3})$");
    int lowest = 1000;
    int highest = 0;
    for (int i = 0; i < 20000; ++i) {
        const QString code = RandomGameRound::drawCheckCode();
        const QRegularExpressionMatch match = form.match(code);
        QVERIFY2(match.hasMatch(), qPrintable(code));
        for (int part = 1; part <= 2; ++part) {
            const int value = match.captured(part).toInt();
            QVERIFY2(value >= 100 && value <= 999, qPrintable(code));
            lowest = qMin(lowest, value);
            highest = qMax(highest, value);
        }
    }
    // 40000 draws from 900 values reach both ends.
    QCOMPARE(lowest, 100);
    QCOMPARE(highest, 999);
}

// A code that depended on the moment of the game would let anyone who knows that moment compute
// it.
void TestRandomGameRound::checkCodesDoNotFollowTheClock()
{
    // Seeded from the milliseconds of the start, all games together could give at most 1000
    // codes, and games started in the same millisecond would give the same one.
    constexpr int kGames = 5000;
    QSet<QString> codes;
    QHash<int, QStringList> codesByStartMs;
    for (int game = 0; game < kGames; ++game) {
        RandomGameRound round;
        const int startMs = QTime::currentTime().msec();
        round.start();
        RandomGameRound::Step step;
        while (step.kind != RandomGameRound::Step::Kind::Finish)
            step = round.advance();
        codes.insert(step.code);
        codesByStartMs[startMs].append(step.code);
    }
    // 810000 possible codes: 5000 games see about 15 repeats on average.
    QVERIFY2(codes.size() >= kGames - 60, qPrintable(QString::number(codes.size())));

    int sameMsPairs = 0;
    int repeats = 0;
    for (const QStringList &sameMs : qAsConst(codesByStartMs)) {
        sameMsPairs += int(sameMs.size()) - 1;
        repeats += int(sameMs.size()) - int(QSet<QString>(sameMs.begin(), sameMs.end()).size());
    }
    QVERIFY2(sameMsPairs >= 100, "the games must share start milliseconds for this to show");
    QVERIFY2(repeats <= sameMsPairs / 100,
             qPrintable(QString("%1 of %2").arg(repeats).arg(sameMsPairs)));
}

void TestRandomGameRound::idleRoundDoesNothing()
{
    RandomGameRound round;
    QVERIFY(!round.isRunning());
    QVERIFY(round.colours().isEmpty());
    QCOMPARE(round.advance().kind, RandomGameRound::Step::Kind::Idle);
}

QTEST_APPLESS_MAIN(TestRandomGameRound)
#include "tst_randomgameround.moc"
