#include "session/CaptureSources.h"
#include "session/OutputPresets.h"
#include "session/SessionStats.h"

#include <QtTest>

using CaptureSources::Item;
Q_DECLARE_METATYPE(Item)

namespace {

QStringList texts(const QVector<Item> &items)
{
    QStringList result;
    for (const Item &item : items)
        result.append(item.text + "|" + item.data);
    return result;
}

} // namespace

class TestSourcesAndStats : public QObject
{
    Q_OBJECT
private slots:
    void videoItems_data();
    void videoItems();
    void audioItems();
    void padding_data();
    void padding();
    void resolve_data();
    void resolve();
    void presets();
    void statistics_data();
    void statistics();
    void fakeTickShowsZerosAndKeepsCounters();
};

void TestSourcesAndStats::videoItems_data()
{
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<int>("screens");
    QTest::addColumn<QStringList>("items");
    const QString area = "-- capture screen area --|CAPTURE_SCREEN";
    QTest::newRow("one screen") << QStringList{} << 1
                                << QStringList{area, "Desktop|CAPTURE_DISPLAY#0",
                                               "no video|NO_VIDEO"};
    QTest::newRow("two screens, devices first") << QStringList{"Cam", "NDI:studio"} << 2
                                                << QStringList{"Cam|",
                                                               "NDI:studio|",
                                                               area,
                                                               "Desktop #0|CAPTURE_DISPLAY#0",
                                                               "Desktop #1|CAPTURE_DISPLAY#1",
                                                               "no video|NO_VIDEO"};
}

void TestSourcesAndStats::videoItems()
{
    QFETCH(QStringList, devices);
    QFETCH(int, screens);
    QFETCH(QStringList, items);
    QCOMPARE(texts(CaptureSources::videoItems(devices, screens)), items);
}

void TestSourcesAndStats::audioItems()
{
    QCOMPARE(texts(CaptureSources::audioItems({"Mic"})),
             (QStringList{"no audio|NO_AUDIO", "original|ORIGINAL", "Mic|"}));
}

void TestSourcesAndStats::padding_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("padded");
    QTest::newRow("padded to width - 8 - length") << "Desktop" << 30 << "Desktop" + QString(8, ' ');
    QTest::newRow("trimmed first") << "  Cam " << 30 << "Cam" + QString(13, ' ');
    QTest::newRow("never cut") << "Desktop #1" << 10 << "Desktop #1";
}

void TestSourcesAndStats::padding()
{
    QFETCH(QString, text);
    QFETCH(int, width);
    QFETCH(QString, padded);
    QCOMPARE(CaptureSources::paddedText(text, width), padded);
}

void TestSourcesAndStats::resolve_data()
{
    QTest::addColumn<Item>("video");
    QTest::addColumn<Item>("audio");
    QTest::addColumn<QString>("videoName");
    QTest::addColumn<QString>("audioName");
    QTest::addColumn<int>("display");
    QTest::addColumn<bool>("screenArea");
    const QString screen = CaptureSources::kScreenDevice;
    QTest::newRow("padded device, no audio")
        << Item{" Cam One     ", ""} << Item{"no audio", "NO_AUDIO"} << "Cam One"
        << "NO_AUDIO" << -1 << false;
    QTest::newRow("desktop 0, original")
        << Item{"Desktop      ", "CAPTURE_DISPLAY#0"} << Item{"original", "ORIGINAL"} << screen
        << "ORIGINAL" << 0 << false;
    QTest::newRow("desktop 1, audio device")
        << Item{"Desktop #1   ", "CAPTURE_DISPLAY#1"} << Item{" Mic A ", ""} << screen << "Mic A"
        << 1 << false;
    QTest::newRow("no video") << Item{"no video    ", "NO_VIDEO"} << Item{"Mic", ""} << "NO_VIDEO"
                              << "Mic" << -1 << false;
    QTest::newRow("NDI source") << Item{"NDI:HOST (Cam)   ", ""} << Item{"no audio", "NO_AUDIO"}
                                << "NDI:HOST (Cam)"
                                << "NO_AUDIO" << -1 << false;
    QTest::newRow("screen area") << Item{"-- capture screen area --   ", "CAPTURE_SCREEN"}
                                 << Item{"original", "ORIGINAL"} << screen << "ORIGINAL" << -1
                                 << true;
}

void TestSourcesAndStats::resolve()
{
    QFETCH(Item, video);
    QFETCH(Item, audio);
    QFETCH(QString, videoName);
    QFETCH(QString, audioName);
    QFETCH(int, display);
    QFETCH(bool, screenArea);
    const CaptureSources::Choice choice = CaptureSources::resolve(video, audio);
    QCOMPARE(choice.video, videoName);
    QCOMPARE(choice.audio, audioName);
    QCOMPARE(choice.display, display);
    QCOMPARE(choice.screenArea, screenArea);
}

void TestSourcesAndStats::presets()
{
    const auto &frames = OutputPresets::frameSizes();
    QCOMPARE(frames.size(), 4);
    QCOMPARE(QString(frames[1].text), QString("SD (960x540)"));
    QCOMPARE(frames[3].size, QSize(1920, 1080));
    const auto &rates = OutputPresets::bitrates();
    QCOMPARE(rates.size(), 14);
    QCOMPARE(QString(rates[1].text), QString("512 Kbs"));
    QCOMPARE(rates[2].kbps, 1000);
    QCOMPARE(QString(rates[12].text), QString("6 Mbs"));
    QCOMPARE(rates[13].kbps, 7000);
}

void TestSourcesAndStats::statistics_data()
{
    QTest::addColumn<quint64>("received");
    QTest::addColumn<quint64>("sent");
    QTest::addColumn<int>("viewers");
    QTest::addColumn<QString>("stream");
    QTest::addColumn<QString>("total");
    QTest::addColumn<QString>("clients");
    QTest::newRow("idle") << quint64(0) << quint64(0) << 0 << "Stream bitrate: 0 Kbs"
                          << "Total bitrate: 0 Kbs"
                          << "Clients: 0 ";
    QTest::newRow("1 MiB in a period")
        << quint64(1048576) << quint64(3 * 1048576) << 3 << "Stream bitrate: 2730 Kbs"
        << "Total bitrate: 8192 Kbs"
        << "Clients: 3 ";
}

void TestSourcesAndStats::statistics()
{
    QFETCH(quint64, received);
    QFETCH(quint64, sent);
    QFETCH(int, viewers);
    SessionStats stats;
    const SessionStats::Texts texts = stats.tick(received, sent, viewers, false);
    QTEST(texts.stream, "stream");
    QTEST(texts.total, "total");
    QTEST(texts.clients, "clients");
}

void TestSourcesAndStats::fakeTickShowsZerosAndKeepsCounters()
{
    SessionStats stats;
    SessionStats::Texts texts = stats.tick(5000, 9000, 2, true);
    QCOMPARE(texts.stream, QString("Stream bitrate: 0 Kbs"));
    QCOMPARE(texts.clients, QString("Clients: 0 "));
    // The counters of the fake tick are the base of the next one.
    texts = stats.tick(5000 + 384, 9000, 2, false);
    QCOMPARE(texts.stream, QString("Stream bitrate: 1 Kbs"));
    // A counter below the previous one (a server that restarted its count) gives 0.
    texts = stats.tick(100, 50, 2, false);
    QCOMPARE(texts.stream, QString("Stream bitrate: 0 Kbs"));
    QCOMPARE(texts.total, QString("Total bitrate: 0 Kbs"));
    stats.reset();
    QCOMPARE(stats.tick(3072 / 8, 0, 1, false).stream, QString("Stream bitrate: 1 Kbs"));
}

QTEST_GUILESS_MAIN(TestSourcesAndStats)
#include "tst_sourcesandstats.moc"
