// The H.264 video writer for real (libx264 and the mpegts muxer) into a file: what a browser's
// decoder and the relay's join head start rely on.
#include "capture/CaptureStreamer.h"
#include "capture/media/FFWriter.h"
#include "relay/JoinCache.h"
#include "relay/TsProgramTables.h"
#include "support/TsDemux.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>
#include <cmath>

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

constexpr int kPacket = 188;
constexpr int kWidth = 320;
constexpr int kHeight = 180;
constexpr int kFrames = 60;
constexpr int kGop = 24;
// A still screen's refresh after a still spell of a group's length, in the middle of a group;
// then a refresh too soon after it for another full picture.
constexpr int kSettledFrame = 37;
constexpr int kRefinedFrame = 44;

// A YUV picture whose luma comes from `luma(x, y)`, grey in colour.
FFFramePtr lumaPicture(const std::function<uint8_t(int, int)> &luma)
{
    FFFramePtr picture(av_frame_alloc());
    picture->format = AV_PIX_FMT_YUV420P;
    picture->width = kWidth;
    picture->height = kHeight;
    if (av_frame_get_buffer(picture.get(), 0) < 0)
        return nullptr;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            picture->data[0][y * picture->linesize[0] + x] = luma(x, y);
    for (int plane = 1; plane < 3; ++plane)
        for (int y = 0; y < kHeight / 2; ++y)
            memset(picture->data[plane] + y * picture->linesize[plane], 128, kWidth / 2);
    return picture;
}

// A picture with a bright bar that moves by `step`, so that P-frames carry something.
MFFramePtr movingFrame(int step, bool settled)
{
    FFFramePtr picture = lumaPicture([step](int x, int y) {
        return uint8_t((x + 4 * step) % kWidth < kWidth / 8 ? 235 : 16 + y % 64);
    });
    if (!picture)
        return nullptr;
    MFAVProps format;
    format.video = {kWidth, kHeight, 24.0};
    const int tick = step < kSettledFrame ? step : step + kGop;
    return std::make_shared<MFFrame>(format, tick, 0, std::move(picture), std::vector<int16_t>(),
                                     MFSourceTrouble{}, settled);
}

// Dark strokes a pixel wide on white, as small text: what a coarse quantiser blurs.
uint8_t finePageLuma(int x, int y)
{
    return (x * 7 + (y / 3) * 13) % 11 < 2 ? 16 : 235;
}

double lumaPsnr(const QImage &luma)
{
    double squares = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const double d = luma.constScanLine(y)[x] - finePageLuma(x, y);
            squares += d * d;
        }
    return 10 * std::log10(255.0 * 255.0 / std::max(squares / (kWidth * kHeight), 1e-3));
}

QList<int> nalTypes(const uint8_t *data, int size)
{
    QList<int> types;
    for (int i = 0; i + 3 < size; ++i)
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1)
            types.append(data[i + 3] & 0x1f);
    return types;
}

int countVideoUnitStarts(const QByteArray &ts)
{
    int count = 0;
    for (int at = 0; at + kPacket <= ts.size(); at += kPacket)
        if (TsProgramTables::pidOf(ts.constData() + at) == FFWriter::videoPid &&
            (uchar(ts[at + 1]) & 0x40))
            ++count;
    return count;
}

int videoUnitsIn(const QString &file)
{
    QFile out(file);
    return out.open(QIODevice::ReadOnly) ? countVideoUnitStarts(out.readAll()) : 0;
}

} // namespace

class TestH264Writer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void ffprobeReadsConstrainedBaseline();
    void programTableNamesH264();
    void everyIdrCarriesItsParameterSets();
    void everyPesHasItsLength();
    void joinCacheStartsAtTablesAndAnIdr();
    void settledRepeatsSharpenFasterThanTheClocks();

private:
    QTemporaryDir m_dir;
    QString m_file;
    QByteArray m_ts;
};

void TestH264Writer::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_file = m_dir.filePath("h264.ts");
    {
        FFWriter writer;
        const QString config = CaptureStreamer::videoWriterConfig(kGop, 400, VideoCodec::H264);
        QCOMPARE(writer.WriterSet("file:" + m_file, 1, config), MF_OK);
        // Zero latency: each picture leaves the encoder, and the muxer flushes it, at once.
        // One picture at a time, as a capture clock would hand them over: a writer that falls
        // behind drops pictures, which a loaded machine would otherwise provoke here.
        for (int i = 0; i < kFrames; ++i) {
            const MFFramePtr frame = movingFrame(i, i == kSettledFrame || i == kRefinedFrame);
            QVERIFY(frame);
            QCOMPARE(writer.ReceiverFramePut(frame, -1, QString()), MF_OK);
            QTRY_COMPARE_WITH_TIMEOUT(videoUnitsIn(m_file), i + 1, 20000);
        }
    }
    QFile in(m_file);
    QVERIFY(in.open(QIODevice::ReadOnly));
    m_ts = in.readAll();
    QCOMPARE(m_ts.size() % kPacket, 0);
}

void TestH264Writer::ffprobeReadsConstrainedBaseline()
{
    QProcess probe;
    probe.start("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries",
                            "stream=codec_name,profile,has_b_frames,width,height", "-of",
                            "default=noprint_wrappers=1", m_file});
    QVERIFY(probe.waitForFinished(30000));
    const QString out = QString::fromUtf8(probe.readAllStandardOutput());
    QVERIFY2(out.contains("codec_name=h264\n"), qPrintable(out));
    QVERIFY2(out.contains("profile=Constrained Baseline\n"), qPrintable(out));
    QVERIFY2(out.contains("has_b_frames=0\n"), qPrintable(out));
    QVERIFY2(out.contains("width=320\n") && out.contains("height=180\n"), qPrintable(out));
}

void TestH264Writer::programTableNamesH264()
{
    TsProgramTables tables;
    for (int at = 0; at + kPacket <= m_ts.size(); at += kPacket)
        tables.read(m_ts.constData() + at);
    QCOMPARE(tables.streamType(FFWriter::videoPid), TsProgramTables::kH264Video);
    QCOMPARE(tables.tablesFor(FFWriter::videoPid).size(), 2 * kPacket);
}

void TestH264Writer::everyIdrCarriesItsParameterSets()
{
    AVFormatContext *raw = nullptr;
    QCOMPARE(avformat_open_input(&raw, m_file.toUtf8().constData(), nullptr, nullptr), 0);
    FFInputPtr input(raw);
    QVERIFY(avformat_find_stream_info(input.get(), nullptr) >= 0);
    FFPacketPtr packet(av_packet_alloc());
    int pictures = 0;
    int idrs = 0;
    while (av_read_frame(input.get(), packet.get()) >= 0) {
        const QList<int> types = nalTypes(packet->data, packet->size);
        // A joiner on a still slide starts from its refresh, so that must be an IDR picture.
        if (pictures == kSettledFrame)
            QVERIFY(types.contains(5));
        // Sharpening a still slide needs no full picture, which costs many times the bits.
        if (pictures == kRefinedFrame)
            QVERIFY(!types.contains(5));
        ++pictures;
        if (types.contains(5)) {
            ++idrs;
            QVERIFY2(types.indexOf(7) >= 0 && types.indexOf(7) < types.indexOf(5),
                     qPrintable(QString::number(pictures)));
            QVERIFY(types.indexOf(8) >= 0 && types.indexOf(8) < types.indexOf(5));
            QVERIFY(packet->flags & AV_PKT_FLAG_KEY);
        } else {
            QVERIFY(!types.contains(7));
        }
        av_packet_unref(packet.get());
    }
    QCOMPARE(pictures, kFrames);
    // One IDR picture per group; scene cuts could only add some.
    QVERIFY2(idrs >= kFrames / kGop, qPrintable(QString::number(idrs)));
}

void TestH264Writer::everyPesHasItsLength()
{
    int starts = 0;
    for (int at = 0; at + kPacket <= m_ts.size(); at += kPacket) {
        const auto *p = reinterpret_cast<const uchar *>(m_ts.constData() + at);
        if (TsProgramTables::pidOf(m_ts.constData() + at) != FFWriter::videoPid || !(p[1] & 0x40))
            continue;
        const int pes = 4 + ((p[3] & 0x20) ? 1 + p[4] : 0);
        QCOMPARE(int(p[pes + 3]), 0xe0);
        QVERIFY2(((p[pes + 4] << 8) | p[pes + 5]) != 0, qPrintable(QString::number(starts)));
        ++starts;
    }
    QCOMPARE(starts, kFrames);
}

void TestH264Writer::joinCacheStartsAtTablesAndAnIdr()
{
    JoinCache cache;
    cache.append(m_ts);
    const QByteArray head = cache.contents();
    QVERIFY(!head.isEmpty());
    QVERIFY(head.size() < m_ts.size());
    QCOMPARE(TsProgramTables::pidOf(head.constData()), 0);
    QCOMPARE(TsProgramTables::pidOf(head.constData() + kPacket), 0x1000);
    QVERIFY(JoinCache::opensSequence(head.constData() + 2 * kPacket, true));
    // What the cache holds decodes from its first picture on.
    QTemporaryFile file(m_dir.filePath("head-XXXXXX.ts"));
    QVERIFY(file.open());
    file.write(head);
    file.close();
    QProcess probe;
    probe.start("ffprobe", {"-v", "error", "-show_entries", "frame=key_frame", "-of", "csv=p=0",
                            file.fileName()});
    QVERIFY(probe.waitForFinished(30000));
    const QStringList frames =
        QString::fromUtf8(probe.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    QVERIFY(!frames.isEmpty());
    QCOMPARE(frames.first(), QString("1"));
    QCOMPARE(QString::fromUtf8(probe.readAllStandardError()), QString());
}

// A second of noise, then a fine still page: the page once as the change, then `repeats` times
// after a pause, settled or as a clock repeats every picture. The luma PSNR of the last decoded
// picture against the page.
double stillPageScore(const QString &file, bool settled, int repeats)
{
    constexpr int noiseTicks = 24;
    constexpr int pauseTicks = 6;
    MFAVProps format;
    format.video = {kWidth, kHeight, 24.0};
    int written = 0;
    {
        FFWriter writer;
        // A group longer than the clip: no full picture after the first, so that the repeats
        // alone sharpen the page.
        const QString config = CaptureStreamer::videoWriterConfig(240, 1000, VideoCodec::H264);
        if (writer.WriterSet("file:" + file, 1, config) != MF_OK)
            return -1;
        QRandomGenerator random(30);
        const auto put = [&](FFFramePtr picture, int tick, bool isSettled) {
            const auto frame =
                std::make_shared<MFFrame>(format, tick, 0, std::move(picture),
                                          std::vector<int16_t>(), MFSourceTrouble{}, isSettled);
            if (writer.ReceiverFramePut(frame, -1, QString()) != MF_OK)
                return false;
            ++written;
            return QTest::qWaitFor([&] { return videoUnitsIn(file) == written; }, 20000);
        };
        for (int tick = 0; tick < noiseTicks; ++tick)
            if (!put(lumaPicture([&random](int, int) { return uint8_t(random.bounded(16, 236)); }),
                     tick, false))
                return -1;
        if (!put(lumaPicture(finePageLuma), noiseTicks, false))
            return -1;
        for (int k = 0; k < repeats; ++k)
            if (!put(lumaPicture(finePageLuma), noiseTicks + pauseTicks + k, settled))
                return -1;
    }
    QFile in(file);
    TsDemux demux;
    QString error;
    if (!in.open(QIODevice::ReadOnly) || !demux.open(in.readAll(), &error))
        return -1;
    double score = -1;
    demux.decodeVideo([&score](const TsDemux::Picture &picture) {
        score = picture.luma.isNull() ? -1 : lumaPsnr(picture.luma);
        return true;
    });
    return score;
}

void TestH264Writer::settledRepeatsSharpenFasterThanTheClocks()
{
    // After motion the rate control keeps a repeated still picture coarse for many pictures;
    // a settled repeat is coded finer, so the same few repeats leave the page sharper than the
    // clock's do, although they come only after the settle pause.
    constexpr int repeats = 4;
    const double settled = stillPageScore(m_dir.filePath("settled.ts"), true, repeats);
    const double clocked = stillPageScore(m_dir.filePath("clocked.ts"), false, repeats);
    qInfo("still page after %d repeats: settled %.1f dB, as on the clock %.1f dB", repeats, settled,
          clocked);
    QVERIFY(clocked > 0);
    QVERIFY(settled > clocked + 4);
}

QTEST_GUILESS_MAIN(TestH264Writer)
#include "tst_h264writer.moc"
