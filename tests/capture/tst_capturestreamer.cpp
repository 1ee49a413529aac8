// The capture controller against a fake back end: vocabulary, device selection, capture
// properties, output arithmetic, writer configuration and the frame pump.
#include "FakeMFFactory.h"

#include "capture/CaptureStreamer.h"
#include "capture/NDISource.h"
#include "capture/media/WriterConfig.h"
#include "support/LogCapture.h"

#include <QtTest>

namespace {

const QString screenDevice = QStringLiteral("Medialooks DXGI/DX11 ScreenCapture");

std::shared_ptr<FakeMFFactory> studioFactory()
{
    auto factory = std::make_shared<FakeMFFactory>();
    factory->devices[eMFDT_Video] =
        QStringList{QStringLiteral("Cam A"), QStringLiteral("NDI Receiver"), screenDevice,
                    QStringLiteral("Cam B")};
    factory->devices[eMFDT_Audio] =
        QStringList{QStringLiteral("<No Audio>"), QStringLiteral("Desktop sound")};
    factory->devices[eMFDT_ExtAudio] =
        QStringList{QStringLiteral("<No External Audio>"), QStringLiteral("Mic")};
    return factory;
}

// What a writer's text asks the back end for, read as the back end reads it.
WriterConfig parsed(const QString &text)
{
    WriterConfig config;
    QString error;
    if (!WriterConfig::parse(text, &config, &error))
        qWarning("unreadable writer configuration %s: %s", qPrintable(text), qPrintable(error));
    return config;
}

} // namespace

class TestCaptureStreamer : public QObject
{
    Q_OBJECT

private slots:
    void enumerateDevicesLeavesOutInternalNames_data();
    void enumerateDevicesLeavesOutInternalNames();
    void enumerateDevicesWithoutSourceObject();
    void enumerateDevicesWhenCountFails();
    void setSources_data();
    void setSources();
    void cameraAfterNoVideoEnablesVideoAgain();
    void ndiSwitchesOnlyTheLineBetweenNdiSources();
    void noAudioClearsTheSoundFormat();
    void setCaptureArea_data();
    void setCaptureArea();
    void setOutputParams_data();
    void setOutputParams();
    void h264WriterHasShortGroupsAndPesLengths();
    void startOpensBothWritersOnTheIngestAddress_data();
    void startOpensBothWritersOnTheIngestAddress();
    void pumpFeedsOnlyEnabledWriters();
    void sizeChangeReachesTheNextFrameRequest();
    void restartWaitsForPumpAndOpensNewWriters();
    void writeFailuresAreLoggedAndPumpGoesOn();
    void destructionEndsThePump();
    void missingSourceObject();
    void ndiSourceListsLineInOptions();
    void ndiSourceWithoutSourceObject();
};

void TestCaptureStreamer::enumerateDevicesLeavesOutInternalNames_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("type");
    QTest::addColumn<QStringList>("offered");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("video") << "VIDEO" << int(eMFDT_Video)
                           << QStringList{"Cam A",  "NDI Receiver",          screenDevice, "",
                                          "<None>", "Medialooks WebCapture", "Cam B"}
                           << QStringList{"Cam A", "Cam B"};
    QTest::newRow("audio") << "AUDIO" << int(eMFDT_ExtAudio)
                           << QStringList{"<No External Audio>", "Mic", "<None>", "Line In"}
                           << QStringList{"Mic", "Line In"};
    QTest::newRow("other kinds mean audio")
        << "anything" << int(eMFDT_ExtAudio) << QStringList{"<No External Audio>", "Mic"}
        << QStringList{"Mic"};
}

void TestCaptureStreamer::enumerateDevicesLeavesOutInternalNames()
{
    QFETCH(QString, kind);
    QFETCH(int, type);
    QFETCH(QStringList, offered);
    QFETCH(QStringList, expected);
    auto factory = std::make_shared<FakeMFFactory>();
    factory->devices[type] = offered;
    CaptureStreamer streamer(factory);
    QStringList names{QStringLiteral("stale")};
    streamer.enumerateDevices(kind, names);
    QCOMPARE(names, expected);
    if (offered.contains(QStringLiteral("NDI Receiver")))
        QCOMPARE(CaptureStreamer::ndiReceiverIndex(), int(offered.indexOf("NDI Receiver")));
}

void TestCaptureStreamer::enumerateDevicesWithoutSourceObject()
{
    auto factory = studioFactory();
    CaptureStreamer streamer(factory);
    factory->failDevices = true;
    LogCapture log;
    QStringList names{QStringLiteral("kept")};
    streamer.enumerateDevices(QStringLiteral("VIDEO"), names);
    QCOMPARE(names, QStringList{QStringLiteral("kept")});
    QVERIFY(log.contains(QStringLiteral("ERROR: Can't create MFormats instance")));
    QVERIFY(log.contains(QStringLiteral("CaptureStreamer::enumerateDevices")));
}

void TestCaptureStreamer::enumerateDevicesWhenCountFails()
{
    struct FailingCount : FakeMFFactory
    {
        MFDevicePtr createDevice() override
        {
            auto device = std::static_pointer_cast<FakeMFDevice>(FakeMFFactory::createDevice());
            device->failCount = true;
            return device;
        }
    };
    CaptureStreamer streamer(std::make_shared<FailingCount>());
    LogCapture log;
    QStringList names{QStringLiteral("stale")};
    streamer.enumerateDevices(QStringLiteral("VIDEO"), names);
    QVERIFY(names.isEmpty());
    QVERIFY(log.contains(QStringLiteral("DeviceGetCount FAILED")));
}

void TestCaptureStreamer::setSources_data()
{
    QTest::addColumn<QString>("video");
    QTest::addColumn<QString>("audio");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<bool>("videoEnabled");
    QTest::addColumn<bool>("audioEnabled");
    QTest::addColumn<QString>("currentVideo");
    QTest::addColumn<int>("channels");

    QTest::newRow("screen with a microphone")
        << screenDevice << "Mic" << QStringList{"DeviceSet 0 2", "DeviceSet 1 0", "DeviceSet 2 1"}
        << true << true << screenDevice << 1;
    // "original" gives up any external device, which hands the sound back to the video device.
    QTest::newRow("camera with its own sound")
        << "Cam B"
        << "ORIGINAL" << QStringList{"DeviceSet 0 3", "DeviceSet 2 0"} << true << true << "Cam B"
        << 1;
    QTest::newRow("no video keeps the previous name")
        << "NO_VIDEO"
        << "ORIGINAL" << QStringList{"DeviceSet 2 0"} << false << true << QString() << 1;
    QTest::newRow("camera without sound")
        << "Cam A"
        << "NO_AUDIO" << QStringList{"DeviceSet 0 0"} << true << false << "Cam A" << 0;
    QTest::newRow("NDI source selects the receiver first")
        << "NDI:STUDIO (Cam 1)"
        << "NO_AUDIO" << QStringList{"DeviceSet 0 1", "PropsSet line-in=STUDIO (Cam 1)"} << true
        << false << "NDI:STUDIO (Cam 1)" << 0;
    QTest::newRow("vanished camera is still the video name")
        << "Gone Cam"
        << "Gone Mic" << QStringList{"DeviceSet 1 0"} << true << true << "Gone Cam" << 1;
}

void TestCaptureStreamer::setSources()
{
    QFETCH(QString, video);
    QFETCH(QString, audio);
    QFETCH(QStringList, calls);
    QFETCH(bool, videoEnabled);
    QFETCH(bool, audioEnabled);
    QFETCH(QString, currentVideo);
    QFETCH(int, channels);
    auto factory = studioFactory();
    CaptureStreamer streamer(factory);
    QStringList names;
    streamer.enumerateDevices(QStringLiteral("VIDEO"), names); // learns the NDI receiver
    streamer.setSources(video, audio);
    QCOMPARE(factory->created.first()->calls(), calls);
    QCOMPARE(streamer.videoEnabled(), videoEnabled);
    QCOMPARE(streamer.audioEnabled(), audioEnabled);
    QCOMPARE(streamer.currentVideoName(), currentVideo);
    const MFAudioProps sound = streamer.outputProps().audio;
    QCOMPARE(sound.channels, channels);
    QCOMPARE(sound.samplesPerSec, channels ? 48000 : 0);
    QCOMPARE(sound.bitsPerSample, channels ? 16 : 0);
    QCOMPARE(streamer.audioBitrate(), 64);
}

void TestCaptureStreamer::cameraAfterNoVideoEnablesVideoAgain()
{
    auto factory = studioFactory();
    CaptureStreamer streamer(factory);
    streamer.setSources(QStringLiteral("NO_VIDEO"), QStringLiteral("NO_AUDIO"));
    QVERIFY(!streamer.videoEnabled());
    streamer.setSources(QStringLiteral("Cam B"), QStringLiteral("NO_AUDIO"));
    QVERIFY(streamer.videoEnabled());
    QCOMPARE(factory->created.first()->calls(), QStringList{QStringLiteral("DeviceSet 0 3")});
}

void TestCaptureStreamer::ndiSwitchesOnlyTheLineBetweenNdiSources()
{
    auto factory = studioFactory();
    CaptureStreamer streamer(factory);
    QStringList names;
    streamer.enumerateDevices(QStringLiteral("VIDEO"), names);
    const auto device = factory->created.first();
    streamer.setSources(QStringLiteral("Cam A"), QStringLiteral("NO_AUDIO"));
    device->clearCalls();
    LogCapture log;
    streamer.setSources(QStringLiteral("NDI:First"), QStringLiteral("NO_AUDIO"));
    QCOMPARE(device->calls(), (QStringList{QStringLiteral("DeviceSet 0 1"),
                                           QStringLiteral("PropsSet line-in=First")}));
    device->clearCalls();
    streamer.setSources(QStringLiteral("NDI:Second"), QStringLiteral("NO_AUDIO"));
    QCOMPARE(device->calls(), QStringList{QStringLiteral("PropsSet line-in=Second")});
    QVERIFY(log.contains(QStringLiteral("skip NDI Receiver switch")));
    QVERIFY(log.contains(QStringLiteral("PROPS SET SUCCESSFULL")));
}

void TestCaptureStreamer::noAudioClearsTheSoundFormat()
{
    CaptureStreamer streamer(studioFactory());
    streamer.setSources(screenDevice, QStringLiteral("Mic"));
    QVERIFY(streamer.audioEnabled());
    streamer.setSources(screenDevice, QStringLiteral("NO_AUDIO"));
    QVERIFY(!streamer.audioEnabled());
    const MFAudioProps sound = streamer.outputProps().audio;
    QCOMPARE(sound.channels, 0);
    QCOMPARE(sound.samplesPerSec, 0);
    QCOMPARE(sound.bitsPerSample, 0);
}

void TestCaptureStreamer::setCaptureArea_data()
{
    QTest::addColumn<int>("screen");
    QTest::addColumn<QRect>("area");
    QTest::addColumn<QString>("areaText");
    QTest::addColumn<QString>("frameSize");

    QTest::newRow("area") << 0 << QRect(100, 50, 640, 360) << "100,50,739,409"
                          << "area";
    QTest::newRow("third display") << 2 << QRect() << ""
                                   << "screen";
    QTest::newRow("area on a second screen") << 1 << QRect(1920, 0, 1280, 720) << "1920,0,3199,719"
                                             << "area";
}

void TestCaptureStreamer::setCaptureArea()
{
    QFETCH(int, screen);
    QFETCH(QRect, area);
    QFETCH(QString, areaText);
    QFETCH(QString, frameSize);
    auto factory = studioFactory();
    CaptureStreamer streamer(factory);
    LogCapture log;
    streamer.setCaptureArea(screen, area);
    const QStringList expected{
        QStringLiteral("PropsSet capture.highlight_mouse=hide"),
        QStringLiteral("PropsSet capture.screen_index=%1").arg(screen),
        QStringLiteral("PropsSet capture.area=") + areaText,
        QStringLiteral("PropsSet capture.frame_size=") + frameSize,
        QStringLiteral("PropsSet capture.background_color=black(0)"),
        QStringLiteral("PropsSet capture.aspect_ratio=keep"),
    };
    QCOMPARE(factory->created.first()->calls(), expected);
    QCOMPARE(log.contains(QStringLiteral("SET AREA:")), !area.isEmpty());
}

void TestCaptureStreamer::setOutputParams_data()
{
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("video");

    QTest::newRow("audio taken out") << 1000 << 936;
    QTest::newRow("just below the threshold") << 4999 << 4935;
    QTest::newRow("threshold keeps the total") << 5000 << 5000;
    QTest::newRow("too low is raised") << 240 << 256;
    QTest::newRow("exactly the floor") << 264 << 200;
}

void TestCaptureStreamer::setOutputParams()
{
    QFETCH(int, total);
    QFETCH(int, video);
    CaptureStreamer streamer(studioFactory());
    // The held audio bitrate counts even when no audio is chosen.
    streamer.setSources(screenDevice, QStringLiteral("NO_AUDIO"));
    streamer.setOutputParams(QSize(1280, 720), total);
    QCOMPARE(streamer.videoBitrate(), video);
    QCOMPARE(streamer.audioBitrate(), 64);
    const MFVideoProps picture = streamer.outputProps().video;
    QCOMPARE(picture.width, 1280);
    QCOMPARE(picture.height, 720);
    QCOMPARE(picture.frameRate, 24.0);
}

void TestCaptureStreamer::h264WriterHasShortGroupsAndPesLengths()
{
    QCOMPARE(VideoCodecs::fromKey("h264"), VideoCodec::H264);
    QCOMPARE(VideoCodecs::fromKey("vp9"), VideoCodec::Mpeg1);
    QCOMPARE(VideoCodecs::fromKey(QString()), VideoCodec::Mpeg1);
    QCOMPARE(VideoCodecs::key(VideoCodec::H264), QString("h264"));
    auto factory = studioFactory();
    CaptureStreamer streamer(factory);
    streamer.setSources(screenDevice, QStringLiteral("Mic"));
    streamer.setOutputParams(QSize(1920, 1080), 1000);
    streamer.setVideoCodec(VideoCodec::H264);
    streamer.startStreaming(false);
    streamer.stopStreaming();
    QCOMPARE(factory->writers.size(), 2);
    const WriterConfig video = parsed(factory->writers[0]->config());
    QCOMPARE(video.videoCodec, QByteArray("libx264"));
    QVERIFY(!video.hasAudio());
    // Browsers decode baseline only; PES lengths let the relay cut pictures without parsing.
    QVERIFY(video.videoOptions.contains({"profile", "baseline"}));
    QVERIFY(video.videoOptions.contains({"g", "48"}));
    QVERIFY(video.videoOptions.contains({"b", "936K"}));
    QVERIFY(video.formatOptions.contains({"omit_video_pes_length", "0"}));
    QVERIFY(!parsed(factory->writers[1]->config()).hasVideo());
}

void TestCaptureStreamer::startOpensBothWritersOnTheIngestAddress_data()
{
    QTest::addColumn<bool>("cloud");
    QTest::addColumn<QByteArray>("audioRate");

    QTest::newRow("local") << false << QByteArray("64K");
    QTest::newRow("cloud doubles the audio") << true << QByteArray("128K");
}

void TestCaptureStreamer::startOpensBothWritersOnTheIngestAddress()
{
    QFETCH(bool, cloud);
    QFETCH(QByteArray, audioRate);
    auto factory = studioFactory();
    CaptureStreamer streamer(factory);
    streamer.setSources(screenDevice, QStringLiteral("Mic"));
    streamer.setOutputParams(QSize(960, 540), 1000);
    LogCapture log;
    streamer.startStreaming(cloud);
    streamer.stopStreaming();
    QCOMPARE(factory->writers.size(), 2);
    const auto video = factory->writers[0];
    const auto audio = factory->writers[1];
    QCOMPARE(video->target(), QStringLiteral("tcp://127.0.0.1:62000"));
    QCOMPARE(audio->target(), QStringLiteral("tcp://127.0.0.1:62000"));
    QCOMPARE(video->flags(), 1);
    QCOMPARE(audio->flags(), 1);
    const WriterConfig videoConfig = parsed(video->config());
    QCOMPARE(videoConfig.videoCodec, QByteArray("mpeg1video"));
    QVERIFY(!videoConfig.hasAudio());
    QVERIFY(videoConfig.videoOptions.contains({"b", "936K"}));
    const WriterConfig audioConfig = parsed(audio->config());
    QCOMPARE(audioConfig.audioCodec, QByteArray("mp2"));
    QVERIFY(!audioConfig.hasVideo());
    QVERIFY(audioConfig.audioOptions.contains({"b", audioRate}));
    QCOMPARE(streamer.audioBitrate(), 64);
    QCOMPARE(log.contains(QStringLiteral("cloud mode audio bitrate:")), cloud);
    QVERIFY(log.contains(QStringLiteral("setup config Video Writer:")));
    QVERIFY(log.contains(QStringLiteral("setup config Audio Writer:")));
}

void TestCaptureStreamer::pumpFeedsOnlyEnabledWriters()
{
    auto factory = studioFactory();
    CaptureStreamer streamer(factory);
    streamer.setSources(QStringLiteral("NO_VIDEO"), QStringLiteral("Mic"));
    streamer.startStreaming(false);
    const auto video = factory->writers[0];
    const auto audio = factory->writers[1];
    QTRY_VERIFY(audio->frames() > 3);
    QCOMPARE(video->frames(), 0);
    streamer.setSources(screenDevice, QStringLiteral("NO_AUDIO"));
    QTRY_VERIFY(video->frames() > 3);
    const int audioFrames = audio->frames();
    streamer.stopStreaming();
    QVERIFY(streamer.wait(5000));
    // After the switch the audio writer got at most the frame in flight.
    QVERIFY(audio->frames() <= audioFrames + 1);
}

void TestCaptureStreamer::sizeChangeReachesTheNextFrameRequest()
{
    auto factory = studioFactory();
    CaptureStreamer streamer(factory);
    streamer.setSources(screenDevice, QStringLiteral("ORIGINAL"));
    streamer.startStreaming(false);
    const auto device = factory->created.first();
    QTRY_COMPARE(device->lastFormat().video.width, 960);
    streamer.setOutputParams(QSize(640, 360), 1000);
    QTRY_COMPARE(device->lastFormat().video.width, 640);
    QCOMPARE(device->lastFormat().video.height, 360);
    QCOMPARE(device->lastFormat().audio.samplesPerSec, 48000);
    streamer.stopStreaming();
}

void TestCaptureStreamer::restartWaitsForPumpAndOpensNewWriters()
{
    auto factory = studioFactory();
    CaptureStreamer streamer(factory);
    streamer.setSources(screenDevice, QStringLiteral("Mic"));
    streamer.startStreaming(false);
    QTRY_VERIFY(factory->writers[0]->frames() > 0);
    streamer.stopStreaming();
    streamer.startStreaming(false);
    QCOMPARE(factory->writers.size(), 4);
    // The first pair is released by the controller, and no pump feeds it any more.
    const int before = factory->writers[0]->frames();
    QTRY_VERIFY(factory->writers[2]->frames() > 3);
    QCOMPARE(factory->writers[0]->frames(), before);
    QCOMPARE(factory->writers[0].use_count(), 1L); // only the factory's record is left
    streamer.stopStreaming();
}

void TestCaptureStreamer::writeFailuresAreLoggedAndPumpGoesOn()
{
    struct FailingWriters : FakeMFFactory
    {
        MFWriterPtr createWriter() override
        {
            auto writer = std::static_pointer_cast<FakeMFWriter>(FakeMFFactory::createWriter());
            writer->failPut = true;
            return writer;
        }
    };
    auto factory = std::make_shared<FailingWriters>();
    factory->devices = studioFactory()->devices;
    CaptureStreamer streamer(factory);
    streamer.setSources(screenDevice, QStringLiteral("Mic"));
    LogCapture log;
    streamer.startStreaming(false);
    QTRY_VERIFY(factory->writers[1]->frames() > 2);
    streamer.stopStreaming();
    QVERIFY(streamer.wait(5000));
    QVERIFY(log.contains(QStringLiteral("write video error -5")));
    QVERIFY(log.contains(QStringLiteral("write audio error -5")));
}

void TestCaptureStreamer::destructionEndsThePump()
{
    auto factory = studioFactory();
    std::weak_ptr<FakeMFDevice> device;
    {
        CaptureStreamer streamer(factory);
        device = factory->created.first();
        streamer.setSources(screenDevice, QStringLiteral("Mic"));
        streamer.startStreaming(false);
        QTRY_VERIFY(factory->writers[0]->frames() > 0);
    }
    // Only the factory's record still holds the source: the pump has let go of it.
    QCOMPARE(device.use_count(), 1L);
    const int frames = factory->writers[0]->frames();
    QTest::qWait(50);
    QCOMPARE(factory->writers[0]->frames(), frames);
}

void TestCaptureStreamer::missingSourceObject()
{
    auto factory = studioFactory();
    factory->failDevices = true;
    LogCapture log;
    CaptureStreamer streamer(factory);
    QVERIFY(log.contains(QStringLiteral("__cdecl CaptureStreamer::CaptureStreamer(void)")));
    QVERIFY(log.contains(QStringLiteral("ERROR: Can't create MFormats instance")));
    streamer.setSources(screenDevice, QStringLiteral("Mic"));
    streamer.setCaptureArea(0, QRect(0, 0, 10, 10));
    streamer.startStreaming(false);
    QVERIFY(streamer.wait(5000)); // no source: the pump ends at once
    QCOMPARE(factory->writers.size(), 2);
}

void TestCaptureStreamer::ndiSourceListsLineInOptions()
{
    auto factory = studioFactory();
    factory->devices[eMFDT_Video] = QStringList{"Cam A", "NDI Receiver (2)", "NDI Receiver"};
    factory->lineInOptions = QStringList{"HOST (Slides)", "HOST (Cam)"};
    NDISource source(factory);
    QCOMPARE(factory->created.first()->calls(), QStringList{QStringLiteral("DeviceSet 0 1")});
    QStringList names{QStringLiteral("Cam A")};
    source.appendNDISources(names);
    QCOMPARE(names, (QStringList{"Cam A", "NDI:HOST (Slides)", "NDI:HOST (Cam)"}));
}

void TestCaptureStreamer::ndiSourceWithoutSourceObject()
{
    auto factory = studioFactory();
    factory->failDevices = true;
    LogCapture log;
    NDISource source(factory);
    QVERIFY(log.contains(QStringLiteral("ERROR: Can't create MFormats NDI instance")));
    QStringList names;
    source.appendNDISources(names);
    QVERIFY(names.isEmpty());
}

QTEST_GUILESS_MAIN(TestCaptureStreamer)
#include "tst_capturestreamer.moc"
