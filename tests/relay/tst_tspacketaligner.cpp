#include "relay/TsPacketAligner.h"

#include <QtTest>

class TestTsPacketAligner : public QObject
{
    Q_OBJECT
private slots:
    void cutsOnPacketBoundaries_data();
    void cutsOnPacketBoundaries();
    void dropsBytesWithoutSyncAndFindsItAgain();
};

namespace {

// Packets that start with the sync byte and hold no other one, numbered in their second byte.
QByteArray packets(int count, int first = 0)
{
    QByteArray stream;
    for (int n = first; n < first + count; ++n) {
        QByteArray packet(TsPacketAligner::kPacketSize, char(n % 50));
        packet[0] = TsPacketAligner::kSyncByte;
        stream += packet;
    }
    return stream;
}

} // namespace

void TestTsPacketAligner::cutsOnPacketBoundaries_data()
{
    QTest::addColumn<QList<int>>("pieces");
    QTest::addColumn<QList<int>>("released");
    QTest::addColumn<int>("pending");

    QTest::newRow("whole packets pass at once") << QList<int>{376} << QList<int>{376} << 0;
    QTest::newRow("short read waits") << QList<int>{100} << QList<int>{0} << 100;
    QTest::newRow("tail completes later") << QList<int>{200, 176} << QList<int>{188, 188} << 0;
    QTest::newRow("many small pieces")
        << QList<int>{60, 60, 60, 60} << QList<int>{0, 0, 0, 188} << 52;
    QTest::newRow("empty read") << QList<int>{0} << QList<int>{0} << 0;
}

void TestTsPacketAligner::cutsOnPacketBoundaries()
{
    QFETCH(QList<int>, pieces);
    QFETCH(QList<int>, released);
    QFETCH(int, pending);

    const QByteArray stream = packets(22);
    TsPacketAligner aligner;
    QByteArray out;
    int offset = 0;
    for (int i = 0; i < pieces.size(); ++i) {
        const QByteArray whole = aligner.take(stream.mid(offset, pieces[i]));
        offset += pieces[i];
        QCOMPARE(whole.size(), released[i]);
        out += whole;
    }
    QCOMPARE(aligner.pendingBytes(), pending);
    QCOMPARE(out, stream.left(out.size())); // order and content preserved
}

void TestTsPacketAligner::dropsBytesWithoutSyncAndFindsItAgain()
{
    TsPacketAligner aligner;
    // Stray bytes, one of them a lone sync byte, between packets; then a cut inside a packet.
    QByteArray garbage(500, char(0x11));
    garbage[100] = TsPacketAligner::kSyncByte;
    const QByteArray input = packets(2) + garbage + packets(3, 2) + packets(1, 5).left(50);
    QByteArray out;
    for (int offset = 0; offset < input.size(); offset += 97)
        out += aligner.take(input.mid(offset, 97));
    QCOMPARE(out, packets(5));
    QCOMPARE(aligner.takeDroppedBytes(), qint64(garbage.size()));
    QCOMPARE(aligner.pendingBytes(), 50);

    // Random bytes from a stranger on the ingest port: nothing passes as packets.
    TsPacketAligner stranger;
    QRandomGenerator random(42);
    QByteArray noise;
    for (int i = 0; i < 100000; ++i)
        noise.append(char(random.bounded(256)));
    QVERIFY(stranger.take(noise).size() <= 2 * TsPacketAligner::kPacketSize);
}

QTEST_GUILESS_MAIN(TestTsPacketAligner)
#include "tst_tspacketaligner.moc"
