#include "relay/JoinCache.h"
#include "support/TsPackets.h"

#include <QtTest>

using namespace TsPackets;

class TestJoinCache : public QObject
{
    Q_OBJECT
private slots:
    void findsSequenceHeaders_data();
    void findsSequenceHeaders();
    void keepsFromTheLastFullPicture();
    void audioAloneKeepsNothing();
    void runawayGroupIsDropped();
};

void TestJoinCache::findsSequenceHeaders_data()
{
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<bool>("opens");

    QTest::newRow("video, sequence header")
        << pesStart(0x100, kVideoStream, sequenceHeaderCode()) << true;
    QTest::newRow("video, after stuffing")
        << pesStart(0x100, kVideoStream, sequenceHeaderCode(), 40) << true;
    QTest::newRow("video, behind a group start")
        << pesStart(0x100, kVideoStream,
                    QByteArray("\x00\x00\x01\xb8\x01\x02", 6) + sequenceHeaderCode())
        << true;
    QTest::newRow("video, picture only")
        << pesStart(0x100, kVideoStream, pictureStartCode()) << false;
    QTest::newRow("audio carrying the same bytes")
        << pesStart(0x101, kAudioStream, sequenceHeaderCode()) << false;
    QByteArray continued = continuation(0x100);
    continued.replace(20, 4, sequenceHeaderCode());
    QTest::newRow("continuation packet") << continued << false;
    QByteArray noPayload = pesStart(0x100, kVideoStream, sequenceHeaderCode());
    noPayload[3] = char(0x20);
    QTest::newRow("adaptation field only") << noPayload << false;
    QByteArray longField = pesStart(0x100, kVideoStream, sequenceHeaderCode(), 20);
    longField[4] = char(200);
    QTest::newRow("adaptation field past the end") << longField << false;
    QByteArray lost = pesStart(0x100, kVideoStream, sequenceHeaderCode());
    lost[0] = 0x00;
    QTest::newRow("out of sync") << lost << false;
}

void TestJoinCache::findsSequenceHeaders()
{
    QFETCH(QByteArray, packet);
    QFETCH(bool, opens);
    QCOMPARE(packet.size(), kSize);
    QCOMPARE(JoinCache::opensSequence(packet.constData()), opens);
}

void TestJoinCache::keepsFromTheLastFullPicture()
{
    JoinCache cache;
    cache.append(videoFrame(0x100, false, 3));
    QVERIFY(cache.contents().isEmpty());

    const QByteArray first = videoFrame(0x100, true, 5, 'a') + videoFrame(0x100, false, 2, 'b');
    cache.append(first);
    QCOMPARE(cache.contents(), first);
    const QByteArray more = videoFrame(0x100, false, 4, 'c');
    cache.append(more);
    QCOMPARE(cache.contents(), first + more);

    // A new full picture in the middle of a chunk: the cache restarts at its packet.
    const QByteArray tail = videoFrame(0x100, false, 1, 'd');
    const QByteArray second = videoFrame(0x100, true, 6, 'e');
    cache.append(tail + second);
    QCOMPARE(cache.contents(), second);
}

void TestJoinCache::audioAloneKeepsNothing()
{
    JoinCache cache;
    for (int i = 0; i < 50; ++i)
        cache.append(pesStart(0x101, kAudioStream, QByteArray("\xff\xfd", 2)) +
                     continuation(0x101));
    QVERIFY(cache.contents().isEmpty());
}

void TestJoinCache::runawayGroupIsDropped()
{
    JoinCache cache;
    cache.append(videoFrame(0x100, true, 0));
    const QByteArray frame = videoFrame(0x100, false, 999);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("no sequence header in"));
    while (!cache.contents().isEmpty())
        cache.append(frame);
    cache.append(frame);
    QVERIFY(cache.contents().isEmpty());
    const QByteArray next = videoFrame(0x100, true, 1);
    cache.append(next);
    QCOMPARE(cache.contents(), next);
}

QTEST_GUILESS_MAIN(TestJoinCache)
#include "tst_joincache.moc"
