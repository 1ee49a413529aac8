// Which sound the capture source takes after a sequence of device choices, and which of ALSA's
// devices are offered as audio sources.
#include "capture/media/DeviceSelection.h"

#include <QtTest>

namespace {

struct Choice
{
    eMFDeviceType type;
    MFDeviceEntry entry;
};

// Built on use: the catalogue's names are constants of another file, not yet made when this
// file's own constants would be.
MFDeviceEntry screen()
{
    return {DeviceCatalog::screenName, "x11grab", ":1"};
}
MFDeviceEntry noInternal()
{
    return {DeviceCatalog::noInternalAudioName, {}, {}};
}
MFDeviceEntry noExternal()
{
    return {DeviceCatalog::noExternalAudioName, {}, {}};
}
const MFDeviceEntry camera{"Cam A", "video4linux2", "/dev/video0"};
const MFDeviceEntry mic{"USB Mic", "pulse", "usb_mic"};

} // namespace

Q_DECLARE_METATYPE(QVector<Choice>)

class TestDeviceSelection : public QObject
{
    Q_OBJECT
private slots:
    void audioSource_data();
    void audioSource();
    void alsaOffersOnlyCardCaptureDevices();
};

void TestDeviceSelection::audioSource_data()
{
    QTest::addColumn<QVector<Choice>>("choices");
    QTest::addColumn<QString>("sound"); // empty: silence

    QTest::newRow("screen brings the desktop sound")
        << QVector<Choice>{{eMFDT_Video, screen()}} << DeviceCatalog::desktopSoundName;
    QTest::newRow("camera without sound of its own")
        << QVector<Choice>{{eMFDT_Video, camera}} << QString();
    QTest::newRow("external device replaces the own sound")
        << QVector<Choice>{{eMFDT_Video, screen()},
                           {eMFDT_Audio, noInternal()},
                           {eMFDT_ExtAudio, mic}}
        << mic.name;
    QTest::newRow("giving up the external device brings the own sound back")
        << QVector<Choice>{{eMFDT_Video, screen()},
                           {eMFDT_Audio, noInternal()},
                           {eMFDT_ExtAudio, mic},
                           {eMFDT_ExtAudio, noExternal()}}
        << DeviceCatalog::desktopSoundName;
    QTest::newRow("external device stays across a video change")
        << QVector<Choice>{{eMFDT_Video, camera},
                           {eMFDT_Audio, noInternal()},
                           {eMFDT_ExtAudio, mic},
                           {eMFDT_Video, screen()}}
        << mic.name;
    QTest::newRow("no internal audio alone is silence")
        << QVector<Choice>{{eMFDT_Video, screen()}, {eMFDT_Audio, noInternal()}} << QString();
}

void TestDeviceSelection::audioSource()
{
    QFETCH(QVector<Choice>, choices);
    QFETCH(QString, sound);
    DeviceSelection selection;
    for (const Choice &choice : choices)
        selection.select(choice.type, choice.entry);
    const std::optional<MFDeviceEntry> source = selection.audioSource();
    QCOMPARE(source ? source->name : QString(), sound);
}

void TestDeviceSelection::alsaOffersOnlyCardCaptureDevices()
{
    // ALSA's own list on a machine with one sound card, as FFmpeg's alsa input gives it.
    const auto alsa = [](const char *description, const char *name) {
        return MFDeviceEntry{description, "alsa", name};
    };
    const QList<MFDeviceEntry> listed{
        alsa("Discard all samples (playback) or generate zero samples (capture)", "null"),
        alsa("JACK Audio Connection Kit", "jack"),
        alsa("Open Sound System", "oss"),
        alsa("Rate Converter Plugin Using Speex Resampler", "speexrate"),
        alsa("Plugin for channel upmix (4,6,8)", "upmix"),
        alsa("Default ALSA Output (currently PulseAudio Sound Server)", "default"),
        alsa("HDA Intel PCH, ALC892 Analog\nDefault Audio Device", "sysdefault:CARD=PCH"),
        alsa("HDA Intel PCH, ALC892 Analog\nDirect sample snooping device",
             "dsnoop:CARD=PCH,DEV=0"),
        alsa("HDA Intel PCH, ALC892 Analog\nDirect hardware device without any conversions",
             "hw:CARD=PCH,DEV=0"),
        alsa("HDA Intel PCH, ALC892 Analog\nHardware device with all software conversions",
             "plughw:CARD=PCH,DEV=0"),
        alsa("USB Audio, USB Audio\nHardware device with all software conversions",
             "plughw:CARD=Device,DEV=0"),
    };
    QStringList offered;
    for (const MFDeviceEntry &entry : DeviceCatalog::alsaCaptureDevices(listed))
        offered.append(entry.name + " = " + QString::fromUtf8(entry.url));
    QCOMPARE(offered, (QStringList{"HDA Intel PCH, ALC892 Analog = plughw:CARD=PCH,DEV=0",
                                   "USB Audio, USB Audio = plughw:CARD=Device,DEV=0"}));
}

QTEST_GUILESS_MAIN(TestDeviceSelection)
#include "tst_deviceselection.moc"
