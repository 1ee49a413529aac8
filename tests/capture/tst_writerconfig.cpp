// Writer configuration strings as the back end reads them.
#include "capture/CaptureStreamer.h"
#include "capture/media/WriterConfig.h"

#include <QtTest>

Q_DECLARE_METATYPE(FFOptionList)

class TestWriterConfig : public QObject
{
    Q_OBJECT

private slots:
    void parses_data();
    void parses();
    void rejects_data();
    void rejects();
};

void TestWriterConfig::parses_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("videoCodec");
    QTest::addColumn<QByteArray>("audioCodec");
    QTest::addColumn<FFOptionList>("videoOptions");
    QTest::addColumn<FFOptionList>("audioOptions");
    QTest::addColumn<FFOptionList>("formatOptions");

    QTest::newRow("the controller's video writer")
        << CaptureStreamer::videoWriterConfig(240, 936) << QByteArray("mpeg1video")
        << QByteArray("null") << FFOptionList{{"g", "240"}, {"b", "936K"}, {"maxrate", "936K"}}
        << FFOptionList{} << FFOptionList{};
    QTest::newRow("the controller's audio writer")
        << CaptureStreamer::audioWriterConfig(128) << QByteArray("null") << QByteArray("mp2")
        << FFOptionList{} << FFOptionList{{"b", "128K"}, {"minrate", "128K"}, {"maxrate", "128K"}}
        << FFOptionList{};
    QTest::newRow("muxer options and both streams")
        << "format='mpegts' muxrate='2M' video::codec='mpeg1video' audio::codec='mp2'"
        << QByteArray("mpeg1video") << QByteArray("mp2") << FFOptionList{} << FFOptionList{}
        << FFOptionList{{"muxrate", "2M"}};
    QTest::newRow("blanks inside a value")
        << " format='mpegts'\tvideo::codec='mpeg1video' video::x='a b' " << QByteArray("mpeg1video")
        << QByteArray() << FFOptionList{{"x", "a b"}} << FFOptionList{} << FFOptionList{};
}

void TestWriterConfig::parses()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, videoCodec);
    QFETCH(QByteArray, audioCodec);
    QFETCH(FFOptionList, videoOptions);
    QFETCH(FFOptionList, audioOptions);
    QFETCH(FFOptionList, formatOptions);
    WriterConfig config;
    QString error;
    QVERIFY2(WriterConfig::parse(text, &config, &error), qPrintable(error));
    QCOMPARE(config.format, QByteArray("mpegts"));
    QCOMPARE(config.videoCodec, videoCodec);
    QCOMPARE(config.audioCodec, audioCodec);
    QCOMPARE(config.videoOptions, videoOptions);
    QCOMPARE(config.audioOptions, audioOptions);
    QCOMPARE(config.formatOptions, formatOptions);
    QCOMPARE(config.hasVideo(), videoCodec == "mpeg1video");
    QCOMPARE(config.hasAudio(), audioCodec == "mp2");
}

void TestWriterConfig::rejects_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("empty") << "";
    QTest::newRow("no format") << "video::codec='mpeg1video'";
    QTest::newRow("no stream") << "format='mpegts'  video::codec='null'  audio::codec='null' ";
    QTest::newRow("value without quotes") << "format=mpegts video::codec='mpeg1video'";
    QTest::newRow("stray word") << "format='mpegts' video::codec='mpeg1video' fast";
    QTest::newRow("unterminated value") << "format='mpegts' video::codec='mpeg1video";
}

void TestWriterConfig::rejects()
{
    QFETCH(QString, text);
    WriterConfig config;
    QString error;
    QVERIFY(!WriterConfig::parse(text, &config, &error));
    QVERIFY(!error.isEmpty());
}

QTEST_GUILESS_MAIN(TestWriterConfig)
#include "tst_writerconfig.moc"
