#include "relay/JoinCache.h"
#include "support/TsPackets.h"

#include <QtTest>

#include <algorithm>

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
    void cachesOfAllRoomsShareOneBudget();
    void findsH264Pictures_data();
    void findsH264Pictures();
    void h264StartsAtTheLastIdrBehindItsTables();
    void mpeg1SliceCodesAreNoIdr();
    void tablesOfTwoWritersOnOnePmtPid();
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

void TestJoinCache::cachesOfAllRoomsShareOneBudget()
{
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("join caches hold .* over the budget"));
    std::vector<std::unique_ptr<JoinCache>> caches;
    qint64 mostHeld = 0;
    const int rooms = feedLargeGroups(JoinCache::kMaxTotalBytes,
                                      [&caches, &mostHeld](int room, const QByteArray &packets) {
                                          if (room == int(caches.size()))
                                              caches.push_back(std::make_unique<JoinCache>());
                                          caches.back()->append(packets);
                                          mostHeld = std::max(mostHeld, JoinCache::totalBytes());
                                      });
    QVERIFY(mostHeld <= JoinCache::kMaxTotalBytes);
    qint64 held = 0;
    int kept = 0;
    for (const auto &cache : caches) {
        held += cache->contents().size();
        kept += cache->contents().isEmpty() ? 0 : 1;
    }
    QCOMPARE(held, JoinCache::totalBytes());
    QVERIFY2(kept >= rooms - 5, qPrintable(QString::number(kept)));

    // A small room's new group still gets its head start; a dropped one starts over.
    const QByteArray start = videoFrame(0x100, true, 0);
    JoinCache small;
    small.append(start);
    QCOMPARE(small.contents(), start);
    caches.clear();
    QCOMPARE(JoinCache::totalBytes(), small.contents().size());
}

void TestJoinCache::findsH264Pictures_data()
{
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<bool>("opens");

    QTest::newRow("AUD, SPS") << pesStart(0x100, kVideoStream, h264Idr()) << true;
    QTest::newRow("IDR slice alone")
        << pesStart(0x100, kVideoStream, QByteArray("\x00\x00\x01\x65\x88", 5)) << true;
    QTest::newRow("SPS after stuffing") << pesStart(0x100, kVideoStream, h264Idr(), 60) << true;
    QTest::newRow("P slice") << pesStart(0x100, kVideoStream, h264Slice()) << false;
    QTest::newRow("forbidden bit set")
        << pesStart(0x100, kVideoStream, QByteArray("\x00\x00\x01\xe7", 4)) << false;
    QTest::newRow("audio carrying an SPS") << pesStart(0x101, kAudioStream, h264Idr()) << false;
    QByteArray continued = continuation(0x100);
    continued.replace(20, 14, h264Idr());
    QTest::newRow("continuation packet") << continued << false;
    QByteArray cut = pesStart(0x100, kVideoStream, QByteArray());
    cut.replace(kSize - 3, 3, QByteArray("\x00\x00\x01", 3));
    QTest::newRow("start code cut at the packet's end") << cut << false;
}

void TestJoinCache::findsH264Pictures()
{
    QFETCH(QByteArray, packet);
    QFETCH(bool, opens);
    QCOMPARE(packet.size(), kSize);
    QCOMPARE(JoinCache::opensSequence(packet.constData(), true), opens);
}

void TestJoinCache::h264StartsAtTheLastIdrBehindItsTables()
{
    JoinCache cache;
    const QByteArray tables = pat() + pmt(0x1b, 0x100);
    cache.append(tables + h264Frame(0x100, false, 2));
    QVERIFY(cache.contents().isEmpty());
    const QByteArray first = h264Frame(0x100, true, 5, 'a') + h264Frame(0x100, false, 1, 'b');
    cache.append(first);
    QCOMPARE(cache.contents(), tables + first);
    // The muxer repeats its tables before each key frame; the cache keeps one copy in front.
    const QByteArray second = h264Frame(0x100, true, 3, 'c');
    cache.append(h264Frame(0x100, false, 1, 'd') + tables + second);
    QCOMPARE(cache.contents(), tables + second);
    const QByteArray more = h264Frame(0x100, false, 2, 'e');
    cache.append(more);
    QCOMPARE(cache.contents(), tables + second + more);
}

void TestJoinCache::mpeg1SliceCodesAreNoIdr()
{
    // MPEG-1 slice start codes 0x05 and 0x07 look like H.264 IDR and SPS NAL headers.
    const QByteArray slices =
        pictureStartCode() + QByteArray("\x00\x00\x01\x05\x00\x00\x01\x07", 8);
    JoinCache cache;
    cache.append(pat() + pmt(0x01, 0x100) + videoFrame(0x100, true, 1));
    const QByteArray start = cache.contents();
    QCOMPARE(start.left(2 * kSize), pat() + pmt(0x01, 0x100));
    const QByteArray picture = pesStart(0x100, kVideoStream, slices);
    cache.append(picture);
    QCOMPARE(cache.contents(), start + picture);
    // Without a table the stream is taken for MPEG-1, as the studio sent it before H.264.
    JoinCache untold;
    untold.append(videoFrame(0x100, true, 1) + picture);
    QCOMPARE(untold.contents(), videoFrame(0x100, true, 1) + picture);
}

void TestJoinCache::tablesOfTwoWritersOnOnePmtPid()
{
    // A cloud room hears the video and the audio writer on one connection; both tables use the
    // same PMT PID.
    JoinCache cache;
    const QByteArray videoTables = pat() + pmt(0x1b, 0x100);
    const QByteArray audioPmt = pmt(0x03, 0x101);
    const QByteArray idr = h264Frame(0x100, true, 2);
    cache.append(videoTables + audioPmt + idr);
    QCOMPARE(cache.contents(), videoTables + idr);
}

QTEST_GUILESS_MAIN(TestJoinCache)
#include "tst_joincache.moc"
