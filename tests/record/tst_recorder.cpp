// The recording's pieces without capture: the merged program tables, the file's place and name,
// the chapter titles, the status text, a recorder that cannot write or got nothing, and the MP4
// remux's sound across a gap.
#include "record/Chapter.h"
#include "record/Recorder.h"
#include "record/RecordingPlace.h"
#include "record/RecordingRemux.h"
#include "record/RecordingStatus.h"
#include "record/TsProgramMerger.h"
#include "relay/CommandMessages.h"
#include "support/FFProbe.h"

#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray packet(int pid, bool unitStart, const QByteArray &payload)
{
    QByteArray bytes;
    bytes += char(0x47);
    bytes += char((unitStart ? 0x40 : 0) | ((pid >> 8) & 0x1f));
    bytes += char(pid & 0xff);
    bytes += char(0x10);
    bytes += payload;
    bytes += QByteArray(188 - bytes.size(), char(0xff));
    return bytes;
}

// A writer's tables: PAT naming PMT 0x1000, PMT with one stream (CRC left zero: not checked).
QByteArray writerTables(int streamType, int pid)
{
    const QByteArray pat =
        QByteArray("\x00\x00\xb0\x0d\x00\x01\xc1\x00\x00\x00\x01\xf0\x00", 13) + QByteArray(4, 0);
    QByteArray pmt = QByteArray("\x00\x02\xb0\x12\x00\x01\xc1\x00\x00", 9);
    pmt += char(0xe0 | (pid >> 8));
    pmt += char(pid & 0xff);
    pmt += QByteArray("\xf0\x00", 2);
    pmt += char(streamType);
    pmt += char(0xe0 | (pid >> 8));
    pmt += char(pid & 0xff);
    pmt += QByteArray("\xf0\x00", 2);
    pmt += QByteArray(4, 0);
    return packet(0, true, pat) + packet(0x1000, true, pmt);
}

QList<int> pids(const QByteArray &stream)
{
    QList<int> result;
    for (int offset = 0; offset + 188 <= stream.size(); offset += 188)
        result << (((uchar(stream[offset + 1]) & 0x1f) << 8) | uchar(stream[offset + 2]));
    return result;
}

} // namespace

class TestRecorder : public QObject
{
    Q_OBJECT
private slots:
    void mergedTablesNameBothStreamsFromTheStart()
    {
        TsProgramMerger merger;
        const QByteArray videoData = packet(0x100, true, QByteArray("\x00\x00\x01\xe0", 4));
        const QByteArray audioData = packet(0x101, true, QByteArray("\x00\x00\x01\xc0", 4));
        // Video's data waits until audio's tables came: the first tables name both.
        QVERIFY(merger.take(1, writerTables(0x02, 0x100) + videoData).isEmpty());
        const QByteArray out = merger.take(2, writerTables(0x03, 0x101) + audioData);
        QCOMPARE(pids(out), (QList<int>{0, 0x1000, 0x100, 0x101}));
        const QByteArray pmt = out.mid(188, 188);
        QCOMPARE(pmt.mid(5, 1), QByteArray("\x02", 1));
        QVERIFY(pmt.contains(QByteArray("\x02\xe1\x00\xf0\x00\x03\xe1\x01\xf0\x00", 10)));
        // The writers' own tables never reach the file again.
        QCOMPARE(pids(merger.take(1, writerTables(0x02, 0x100) + videoData)), QList<int>{0x100});
    }

    void placeAndName()
    {
        QTemporaryDir dir;
        QSettings settings(dir.filePath("s.ini"), QSettings::IniFormat);
        QVERIFY(!RecordingPlace::enabled(settings));
        settings.setValue("RECORD", true);
        settings.setValue("RECORD_DIR", dir.path());
        QVERIFY(RecordingPlace::enabled(settings));
        QCOMPARE(RecordingPlace::folder(settings), dir.path());
        const QDateTime start(QDate(2026, 3, 4), QTime(9, 5, 7));
        const QString stem = RecordingPlace::stem(dir.path(), start);
        QCOMPARE(stem, dir.filePath("Lumacast 2026-03-04 09-05-07"));
        QFile taken(stem + ".mkv");
        QVERIFY(taken.open(QIODevice::WriteOnly));
        QCOMPARE(RecordingPlace::stem(dir.path(), start), stem + " (2)");
    }

    void chapterTitles()
    {
        QCOMPARE(ChapterTitles::forCommand(CommandMessages::voteStart("Lunch?", {"yes", "no"})),
                 QString("Vote: Lunch?"));
        QCOMPARE(ChapterTitles::forCommand(CommandMessages::voteStop()), QString());
        QCOMPARE(ChapterTitles::forCommand("not json"), QString());

        // A question opens a chapter when it goes on screen, not at every list update.
        const QString listA =
            R"({"command":"questions","highlight":7,"questions":[{"id":3,"question":"Why?"},)"
            R"({"id":7,"question":"When?"}]})";
        const QString listB = QString(listA).replace(R"("highlight":7)", R"("highlight":3)");
        const QString listOff = QString(listA).replace(R"("highlight":7)", R"("highlight":0)");
        qint64 onScreen = 0;
        QCOMPARE(ChapterTitles::forQuestionList(listA, &onScreen), QString("Question: When?"));
        QCOMPARE(ChapterTitles::forQuestionList(listA, &onScreen), QString());
        QCOMPARE(ChapterTitles::forQuestionList(listB, &onScreen), QString("Question: Why?"));
        QCOMPARE(ChapterTitles::forQuestionList(listOff, &onScreen), QString());
        QCOMPARE(ChapterTitles::forQuestionList(listB, &onScreen), QString("Question: Why?"));
        QCOMPARE(ChapterTitles::forQuestionList(CommandMessages::voteStop(), &onScreen), QString());
    }

    void statusText()
    {
        QCOMPARE(RecordingStatus::text(3723000, 5 * 1024 * 1024 + 512 * 1024),
                 QString("REC 1:02:03, 5.5 MB"));
        QCOMPARE(RecordingStatus::text(0, 0), QString("REC 0:00:00, 0.0 MB"));
    }

    void unwritableFolderSaysWhy()
    {
        Recorder recorder;
        QString error;
        QVERIFY(!recorder.start("/nonexistent-folder-of-the-test/x", &error));
        QVERIFY2(error.contains("/nonexistent-folder-of-the-test/x.ts"), qPrintable(error));
        QCOMPARE(recorder.state(), Recorder::State::Idle);
    }

    void nothingRecordedLeavesNoFile()
    {
        QTemporaryDir dir;
        Recorder recorder;
        QSignalSpy finished(&recorder, &Recorder::finished);
        QVERIFY(recorder.start(dir.filePath("empty"), nullptr));
        QVERIFY(QFile::exists(dir.filePath("empty.ts")));
        recorder.markChapter("ignored: nothing recorded");
        recorder.stop();
        QVERIFY(!QFile::exists(dir.filePath("empty.ts")));
        QCOMPARE(recorder.pendingRemuxes(), 0);
        QCOMPARE(recorder.state(), Recorder::State::Idle);
    }

    void mp4SoundKeepsItsTimeAcrossAGap()
    {
        // H.264 with MP2 sound that stops for 2 s after its first second, as a writer that lost
        // sound leaves it: 6 s of pictures, 4 s of sound.
        QTemporaryDir dir;
        const QString tsPath = dir.filePath("gap.ts");
        QProcess ffmpeg;
        ffmpeg.start("ffmpeg", {"-nostdin",
                                "-v",
                                "error",
                                "-f",
                                "lavfi",
                                "-i",
                                "testsrc=size=320x240:rate=24:duration=6",
                                "-f",
                                "lavfi",
                                "-i",
                                "sine=sample_rate=48000:duration=4",
                                "-af",
                                "asetpts='if(gte(T,1),PTS+2/TB,PTS)'",
                                "-c:v",
                                "libx264",
                                "-c:a",
                                "mp2",
                                "-f",
                                "mpegts",
                                tsPath});
        QVERIFY(ffmpeg.waitForFinished(60000) && ffmpeg.exitCode() == 0);

        const RecordingRemux::Result result =
            RecordingRemux::run(tsPath, dir.filePath("out"), {{3000, "Vote: Lunch?"}}, {});
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(result.path, dir.filePath("out.mp4"));
        const QJsonObject probed = ffprobe(result.path);
        const QJsonObject audio = probedStream(probed, "audio");
        QCOMPARE(audio.value("codec_name").toString(), QString("aac"));
        // The sound after the gap is where it was: it ends with the pictures, 4 s of it.
        const double endS = audio.value("start_time").toString().toDouble() +
                            audio.value("duration").toString().toDouble();
        QVERIFY2(std::abs(endS - 6) < 0.1, qPrintable(QString::number(endS)));
        const double soundS = audio.value("nb_read_frames").toString().toDouble() * 1024 / 48000;
        QVERIFY2(std::abs(soundS - 4) < 0.1, qPrintable(QString::number(soundS)));
        QCOMPARE(probed.value("chapters").toArray().size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestRecorder)
#include "tst_recorder.moc"
