#include "relay/HeadStart.h"

#include "support/TsPackets.h"

#include <QtTest>

#include <memory>
#include <vector>

// What a joiner is sent is built once and shared: a crowd joining costs the group once.
class TestHeadStart : public QObject
{
    Q_OBJECT

private slots:
    void joinersShareOneCopy();
    void aNewPictureOrAGrownTailIsFramedAnew();
    void framedCopiesOfAllRoomsStayInTheBudget();
};

namespace {

// The payload of one unmasked server frame.
QByteArray payloadOf(const QByteArray &frame)
{
    const int length = uchar(frame.at(1)) & 0x7f;
    const int header = length < 126 ? 2 : length == 126 ? 4 : 10;
    return frame.mid(header);
}

QByteArray payloadsOf(const QList<QByteArray> &frames)
{
    QByteArray joined;
    for (const QByteArray &frame : frames)
        joined += payloadOf(frame);
    return joined;
}

} // namespace

void TestHeadStart::joinersShareOneCopy()
{
    using namespace TsPackets;
    HeadStart start;
    QVERIFY(start.frames().isEmpty());
    start.append(videoFrame(0x100, true, 10, 'i'));
    const QList<QByteArray> first = start.frames();
    const QList<QByteArray> second = start.frames();
    QCOMPARE(first.size(), 1);
    QCOMPARE(second.at(0).constData(), first.at(0).constData());
    QCOMPARE(payloadsOf(first), start.contents());

    // What came since is one more frame; the group's stays the one already made.
    start.append(videoFrame(0x100, false, 2, 'p'));
    const QList<QByteArray> later = start.frames();
    QCOMPARE(later.size(), 2);
    QCOMPARE(later.at(0).constData(), first.at(0).constData());
    QCOMPARE(later.at(1).constData(), start.frames().at(1).constData());
    QCOMPARE(payloadsOf(later), start.contents());
}

void TestHeadStart::aNewPictureOrAGrownTailIsFramedAnew()
{
    using namespace TsPackets;
    HeadStart start;
    start.append(videoFrame(0x100, true, 10, 'i'));
    const QByteArray group = start.frames().at(0);

    start.append(videoFrame(0x100, true, 3, 'j'));
    QList<QByteArray> frames = start.frames();
    QCOMPARE(frames.size(), 1);
    QVERIFY(frames.at(0).constData() != group.constData());
    QCOMPARE(payloadsOf(frames), start.contents());

    // A tail past its bound is folded into one new frame.
    const int packets = HeadStart::kMinTailBytes / kSize + 1;
    start.append(videoFrame(0x100, false, packets, 'p'));
    frames = start.frames();
    QCOMPARE(frames.size(), 1);
    QCOMPARE(payloadsOf(frames), start.contents());

    start.restart();
    QVERIFY(start.frames().isEmpty());
}

void TestHeadStart::framedCopiesOfAllRoomsStayInTheBudget()
{
    using namespace TsPackets;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("join caches hold .* over the budget"));
    // Each room has joiners all along, so each group is framed as it grows.
    std::vector<std::unique_ptr<HeadStart>> starts;
    const int rooms =
        feedLargeGroups(JoinCache::kMaxTotalBytes, [&starts](int room, const QByteArray &packets) {
            if (room == int(starts.size()))
                starts.push_back(std::make_unique<HeadStart>());
            starts.back()->append(packets);
            starts.back()->frames();
        });
    qint64 held = 0;
    int served = 0;
    for (const auto &headStart : starts) {
        const QList<QByteArray> frames = headStart->frames();
        held += headStart->contents().size();
        for (const QByteArray &framed : frames)
            held += framed.size();
        served += frames.isEmpty() ? 0 : 1;
    }
    QVERIFY2(held <= JoinCache::kMaxTotalBytes, qPrintable(QString::number(held)));
    QCOMPARE(held, JoinCache::totalBytes());
    // About half the rooms of caches alone: each costs its group twice.
    QVERIFY2(served >= rooms / 2 - 5, qPrintable(QString::number(served)));
    starts.clear();
    QCOMPARE(JoinCache::totalBytes(), 0);
}

QTEST_GUILESS_MAIN(TestHeadStart)
#include "tst_headstart.moc"
