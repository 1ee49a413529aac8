#include "relay/TsPacketAligner.h"

#include <QtTest>

class TestTsPacketAligner : public QObject
{
    Q_OBJECT
private slots:
    void cutsOnPacketBoundaries_data();
    void cutsOnPacketBoundaries();
};

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

    QByteArray stream;
    for (int i = 0; i < 4000; ++i)
        stream.append(char(i % 251));
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

QTEST_GUILESS_MAIN(TestTsPacketAligner)
#include "tst_tspacketaligner.moc"
