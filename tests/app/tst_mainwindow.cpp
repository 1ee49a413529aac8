#include "StudioTestHome.h"
#include "WindowProbe.h"
#include "support/CloudService.h"
#include "support/ModalHandler.h"

#include "app/AppStyle.h"
#include "app/CustomClouds.h"
#include "app/LinkLabel.h"
#include "app/MainWindow.h"
#include "app/StatusBarWidget.h"
#include "audience/DrawRun.h"
#include "audience/gui/RandomGame.h"
#include "audience/gui/VoteDlg.h"
#include "audience/gui/ZoomQRW.h"
#include "capture/CaptureStreamer.h"
#include "quiz/QuizBoard.h"
#include "quiz/QuizSession.h"
#include "quiz/gui/QuizPlayWindow.h"
#include "relay/CLOUDProxy.h"
#include "relay/WSServer.h"
#include "session/AppSettings.h"
#include "session/CloudServerList.h"
#include "session/ViewerAddress.h"
#include "web/APIWebServer.h"
#include "web/DBStorage.h"
#include "web/WebServer.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QStatusBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>

using namespace WindowProbe;

namespace {

// What the windows that start a session listen on: the system's pick, never a fixed port.
const SessionPorts kAnyFreePorts{0, 0};

QString firstInterface()
{
    return ViewerAddress::enumerateInterfaces().first();
}

QStringList comboTexts(const QComboBox *combo)
{
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i)
        texts.append(combo->itemText(i).trimmed());
    return texts;
}

// The tool bar button with that text; a missing one ends the test program.
QToolButton *toolBarButton(const MainWindow &window, const QString &text)
{
    for (QToolButton *button :
         child<QToolBar>(window, "mainToolBar")->findChildren<QToolButton *>())
        if (button->text() == text)
            return button;
    qFatal("no tool bar button %s", qPrintable(text));
}

// Answers one GET with a fixed body, as the server-list service would.
class OneShotHttpServer : public QTcpServer
{
public:
    explicit OneShotHttpServer(QByteArray body) : m_body(std::move(body))
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *socket = nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                m_request += socket->readAll();
                if (!m_request.contains("\r\n\r\n"))
                    return;
                socket->write("HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n"
                              "Content-Length: " +
                              QByteArray::number(m_body.size()) + "\r\n\r\n" + m_body);
                socket->disconnectFromHost();
            });
        });
    }
    QByteArray request() const { return m_request; }

private:
    QByteArray m_body;
    QByteArray m_request;
};

// Receives what the window asks the system browser to open.
class BrowserStandIn : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened.append(url); }
};

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void disabledControlsAndSpinButtonsShow();
    void settingsStoreIsUserIniFile();
    void windowIsDarkAndTitled();
    void constructionListensOnNothing();
    void closingIsAccepted();
    void presenterControlsAreWithinReach();
    void firstStartDefaults();
    void givenHttpPortIsOffered();
    void frameSizeSendsSizeAndBitrateWhileIdle();
    void storedChoicesAreRestored();
    void storedAddressThatIsNoLongerLocalFallsBack();
    void storedIndexOutsideTheListKeepsTheDefault();
    void sourceListsOfOneScreen();
    void shortcutsSelectVideoSources();
    void statisticsLabels();
    void addressLabelsFollowPort();
    void cloudModeAddress();
    void unavailablePublicListGivesNoAddress();
    void publicServerList_data();
    void publicServerList();
    void customServerDialog_data();
    void customServerDialog();
    void copyButtonShowsCopiedFor200Ms();
    void toolBarAndQuestionsMenu();
    void votingButtonOpensVoteWindow();
    void zoomQRButtonShowsTheViewerAddress();
    void randomWinnerButtonOpensTheGameWiredToTheRelay();
    void quizzesButtonOpensOneQuizList();
    void playedQuizLivesInTheSessionUntilItsWindowCloses();
    void jsonViewOpensQuestionsList();
    void exportToFileTellsWhereItSaved();
    void clearQuestionsAfterYes();
    void cloudStartToRefusingServerStaysIdle();
    void brokenCloudConnectionStopsTheSession();
    void statusBarShowsVersionAndHelp();

private:
    std::unique_ptr<StudioTestHome> m_home;
};

void TestMainWindow::initTestCase()
{
    qApp->setStyleSheet(globalStyleSheet());
    // The questions store's file goes where the application names say.
    QCoreApplication::setOrganizationName("Quillfen");
    QCoreApplication::setApplicationName("LumacastPRO");
}

void TestMainWindow::init()
{
    m_home = std::make_unique<StudioTestHome>();
}

void TestMainWindow::cleanup()
{
    m_home.reset();
}

void TestMainWindow::disabledControlsAndSpinButtonsShow()
{
    MainWindow window(fakeDevices());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const auto hasColour = [](const QImage &image, QRect area, QColor colour) {
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                if (image.pixelColor(x, y) == colour)
                    return true;
        return false;
    };
    QSpinBox *port = child<QSpinBox>(window, "spbPort");
    const QImage enabledPort = port->grab().toImage();
    // The up and down buttons at the right edge carry their orange arrows.
    const QRect buttons(port->width() - 16, 0, 16, port->height());
    QVERIFY(hasColour(enabledPort, buttons, QColor("#EA700C")));
    for (QWidget *control : {static_cast<QWidget *>(port), child<QWidget>(window, "cmbFrames"),
                             child<QWidget>(window, "chkCloud")}) {
        const QImage enabled = control->grab().toImage();
        control->setEnabled(false);
        const QImage disabled = control->grab().toImage();
        QVERIFY2(enabled != disabled, qPrintable(control->objectName()));
        QVERIFY2(!hasColour(disabled, disabled.rect(), QColor("#EA700C")),
                 qPrintable(control->objectName()));
    }
}

void TestMainWindow::settingsStoreIsUserIniFile()
{
    std::unique_ptr<QSettings> settings(createAppSettings());
    QCOMPARE(settings->format(), QSettings::IniFormat);
    QCOMPARE(settings->scope(), QSettings::UserScope);
    QCOMPARE(settings->fileName(), m_home->settingsFile());
    settings->setValue("PORT", 8090);
    settings->sync();
    QCOMPARE(settings->status(), QSettings::NoError);
    QVERIFY(QFile::exists(settings->fileName()));
}

void TestMainWindow::windowIsDarkAndTitled()
{
    MainWindow window;
    QCOMPARE(window.windowTitle(), QString("Lumacast PRO"));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QImage picture = window.grab().toImage();
    // Between the group boxes the window's own background shows.
    const QWidget *group = child<QWidget>(window, "groupBoxQR");
    const QPoint gap = group->mapTo(&window, QPoint(group->width() / 2, group->height() + 3));
    QCOMPARE(picture.pixelColor(gap), QColor("#050F15"));
    // Inside its frame a group box is the studio's blue.
    QCOMPARE(picture.pixelColor(group->mapTo(&window, QPoint(3, group->height() - 3))),
             QColor("#0E2B47"));
    QCOMPARE(window.settings()->fileName(), m_home->settingsFile());
}

void TestMainWindow::constructionListensOnNothing()
{
    MainWindow window;
    QVERIFY(window.session()->relay());
    QVERIFY(!window.session()->relay()->isListening());
    QVERIFY(!window.session()->relay()->ingestServer.isListening());
    QCOMPARE(window.session()->webServer()->serverPort(), quint16(0));
    QCOMPARE(window.session()->apiServer()->serverPort(), quint16(0));
    QVERIFY(!window.session()->streamer()->isStreaming());
}

void TestMainWindow::closingIsAccepted()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.onVoteTriggered();
    window.onRandomWinnerTriggered();
    window.on_ZoomQR();
    QVERIFY(window.voteWindow()->isVisible());
    QVERIFY(window.randomGameWindow()->isVisible());
    QVERIFY(window.zoomQRWindow()->isVisible());
    // The event loop's own quit on the last close is checked with the real executable under
    // Xvfb, the stop of a running session in the session tests; here: the close is accepted and
    // takes the studio's other windows with it, so no half-running studio stays behind.
    QVERIFY(window.close());
    QVERIFY(!window.isVisible());
    QVERIFY(!window.voteWindow()->isVisible());
    QVERIFY(!window.randomGameWindow()->isVisible());
    QVERIFY(!window.zoomQRWindow()->isVisible());
}

void TestMainWindow::presenterControlsAreWithinReach()
{
    MainWindow window(fakeDevices());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    for (const char *name :
         {"cmbNetwork", "spbPort", "chkCloud", "cmdCopyURL", "cmbVideoSources", "cmbAudioSources",
          "cmdRefresh", "cmbFrames", "cmbBitrate", "cmbCodec", "maxAudioLag", "cmdQActions"}) {
        const QWidget *control = child<QWidget>(window, name);
        QVERIFY2(control->isVisible() && control->isEnabled(), name);
    }
    QCOMPARE(window.toolBarArea(child<QToolBar>(window, "mainToolBar")), Qt::RightToolBarArea);
    QVERIFY(!child<QToolBar>(window, "mainToolBar")->isMovable());
    const QSpinBox *port = child<QSpinBox>(window, "spbPort");
    QCOMPARE(port->minimum(), 10);
    QCOMPARE(port->maximum(), 65535);
    const QDoubleSpinBox *lag = child<QDoubleSpinBox>(window, "maxAudioLag");
    QCOMPARE(lag->maximum(), 5.0);
    QCOMPARE(lag->singleStep(), 0.2);
    QCOMPARE(child<QCheckBox>(window, "chkCloud")->text(), QString("use cloud"));
    QCOMPARE(window.contextMenuPolicy(), Qt::NoContextMenu);
}

void TestMainWindow::firstStartDefaults()
{
    MainWindow window(fakeDevices());
    QCOMPARE(currentPort(window), 8080);
    QCOMPARE(child<QSpinBox>(window, "spbPort")->value(), 8080);
    QCOMPARE(currentAddress(window), firstInterface());
    QCOMPARE(child<QComboBox>(window, "cmbVideoSources")->currentIndex(), 0);
    QCOMPARE(child<QComboBox>(window, "cmbVideoSources")->currentText().trimmed(),
             QString("Cam One"));
    QCOMPARE(child<QComboBox>(window, "cmbAudioSources")->currentText(), QString("no audio"));
    QCOMPARE(child<QComboBox>(window, "cmbFrames")->currentText(), QString("SD (960x540)"));
    QCOMPARE(child<QComboBox>(window, "cmbBitrate")->currentText(), QString("512 Kbs"));
    QCOMPARE(comboTexts(child<QComboBox>(window, "cmbCodec")),
             (QStringList{"MPEG-1 (every browser)", "H.264 (sharper, fewer bits)"}));
    QCOMPARE(child<QComboBox>(window, "cmbCodec")->currentIndex(), 0);
    QCOMPARE(child<QDoubleSpinBox>(window, "maxAudioLag")->value(), 1.5);
    QVERIFY(!window.cloudMode());
    QVERIFY(!child<QCheckBox>(window, "chkCloud")->isChecked());
    QVERIFY(child<QComboBox>(window, "cmbCloudServer")->isHidden());
    QVERIFY(!child<QComboBox>(window, "cmbNetwork")->isHidden());
    // The frame-size fill already handed the controller its output size.
    QCOMPARE(window.session()->streamer()->outputProps().video.width, 960);
}

void TestMainWindow::givenHttpPortIsOffered()
{
    m_home->set("PORT", 9000);
    MainWindow window(fakeDevices(), SessionPorts{41234, 0});
    QCOMPARE(child<QSpinBox>(window, "spbPort")->value(), 41234);
    QVERIFY(window.session()->viewerUrl().endsWith(":41234"));
}

void TestMainWindow::frameSizeSendsSizeAndBitrateWhileIdle()
{
    MainWindow window(fakeDevices());
    CaptureStreamer *streamer = window.session()->streamer();
    const int before = streamer->videoBitrate();
    child<QComboBox>(window, "cmbBitrate")->setCurrentIndex(3); // "1.5 Mbs"
    QCOMPARE(streamer->videoBitrate(), before);
    child<QComboBox>(window, "cmbFrames")->setCurrentIndex(2); // "HD (1280x720)"
    QCOMPARE(streamer->outputProps().video.width, 1280);
    QCOMPARE(streamer->outputProps().video.height, 720);
    QCOMPARE(streamer->videoBitrate(), 1500 - streamer->audioBitrate());
}

void TestMainWindow::storedChoicesAreRestored()
{
    m_home->set("PORT", 9000);
    m_home->set("VIDEO_IND", 1);
    m_home->set("AUDIO_IND", 2);
    m_home->set("FRAME_IND", 3);
    m_home->set("BITRATE_IND", 13);
    m_home->set("AUDIO_LAG", 0.4);
    m_home->set("VIDEO_CODEC", "h264");
    MainWindow window(fakeDevices());
    QCOMPARE(currentPort(window), 9000);
    QCOMPARE(child<QComboBox>(window, "cmbVideoSources")->currentText().trimmed(),
             QString("Capture Card"));
    QCOMPARE(child<QComboBox>(window, "cmbAudioSources")->currentText(), QString("Mic A"));
    QCOMPARE(child<QComboBox>(window, "cmbFrames")->currentText(), QString("FullHD (1920x1080)"));
    QCOMPARE(child<QComboBox>(window, "cmbBitrate")->currentText(), QString("7 Mbs"));
    QCOMPARE(child<QComboBox>(window, "cmbCodec")->currentText(),
             QString("H.264 (sharper, fewer bits)"));
    QCOMPARE(child<QDoubleSpinBox>(window, "maxAudioLag")->value(), 0.4);
}

void TestMainWindow::storedAddressThatIsNoLongerLocalFallsBack()
{
    m_home->set("IP", "203.0.113.9");
    MainWindow window;
    QCOMPARE(currentAddress(window), firstInterface());
    QCOMPARE(child<QComboBox>(window, "cmbNetwork")->currentText(), firstInterface());
    QVERIFY(window.session()->viewerUrl().startsWith("http://" + firstInterface() + ":"));
}

void TestMainWindow::storedIndexOutsideTheListKeepsTheDefault()
{
    // A device was removed since the index was saved.
    m_home->set("VIDEO_IND", 12);
    m_home->set("FRAME_IND", -3);
    MainWindow window(fakeDevices());
    QCOMPARE(child<QComboBox>(window, "cmbVideoSources")->currentIndex(), 0);
    QCOMPARE(child<QComboBox>(window, "cmbFrames")->currentText(), QString("SD (960x540)"));
}

void TestMainWindow::sourceListsOfOneScreen()
{
    QCOMPARE(QGuiApplication::screens().size(), 1);
    MainWindow window(fakeDevices());
    const QComboBox *video = child<QComboBox>(window, "cmbVideoSources");
    QCOMPARE(comboTexts(video), (QStringList{"Cam One", "Capture Card", "-- capture screen area --",
                                             "Desktop", "no video"}));
    QCOMPARE(video->itemData(0), QVariant());
    QCOMPARE(video->itemData(2).toString(), QString("CAPTURE_SCREEN"));
    QCOMPARE(video->itemData(3).toString(), QString("CAPTURE_DISPLAY#0"));
    QCOMPARE(video->itemData(4).toString(), QString("NO_VIDEO"));
    // Padded to the combo's width, so the drop-down is as wide as the combo.
    QCOMPARE(video->itemText(3).size(), video->width() - 8 - int(qstrlen("Desktop")));
    const QComboBox *audio = child<QComboBox>(window, "cmbAudioSources");
    QCOMPARE(comboTexts(audio), (QStringList{"no audio", "original", "Mic A"}));
    QCOMPARE(audio->itemData(0).toString(), QString("NO_AUDIO"));
    QCOMPARE(audio->itemData(1).toString(), QString("ORIGINAL"));
    QCOMPARE(audio->itemData(2), QVariant());
}

void TestMainWindow::shortcutsSelectVideoSources()
{
    MainWindow window(fakeDevices());
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QComboBox *video = child<QComboBox>(window, "cmbVideoSources");
    QTest::keyClick(&window, Qt::Key_3, Qt::ControlModifier);
    QCOMPARE(video->currentIndex(), 2);
    QTest::keyClick(&window, Qt::Key_N, Qt::ControlModifier);
    QCOMPARE(video->currentIndex(), 3);
    QTest::keyClick(&window, Qt::Key_N, Qt::ControlModifier);
    QCOMPARE(video->currentIndex(), 4);
    QTest::keyClick(&window, Qt::Key_N, Qt::ControlModifier);
    QCOMPARE(video->currentIndex(), 0);
    // Beyond the list nothing happens.
    QTest::keyClick(&window, Qt::Key_9, Qt::ControlModifier);
    QCOMPARE(video->currentIndex(), 0);

    // After a refill each key is bound once, so it still works.
    QTest::mouseClick(child<QPushButton>(window, "cmdRefresh"), Qt::LeftButton);
    QCOMPARE(video->count(), 5);
    QTest::keyClick(&window, Qt::Key_2, Qt::ControlModifier);
    QCOMPARE(video->currentIndex(), 1);
    QTest::keyClick(&window, Qt::Key_N, Qt::ControlModifier);
    QCOMPARE(video->currentIndex(), 2);
}

void TestMainWindow::statisticsLabels()
{
    MainWindow window;
    QLabel *feed = child<QLabel>(window, "lblStatFeed");
    QLabel *total = child<QLabel>(window, "lblStatTotal");
    QLabel *clients = child<QLabel>(window, "lblStatClients");
    QCOMPARE(feed->text(), QString("Stream bitrate: 0 Kbs"));
    QCOMPARE(total->text(), QString("Total bitrate: 0 Kbs"));
    QCOMPARE(clients->text(), QString("Clients: 0 "));

    window.session()->relay()->receivedBytes = 1048576;
    window.session()->relay()->room().setSentBytes(2 * 1048576);
    window.onStatTimer();
    QCOMPARE(feed->text(), QString("Stream bitrate: 2730 Kbs"));
    QCOMPARE(total->text(), QString("Total bitrate: 5461 Kbs"));
    window.onStatTimer(true);
    QCOMPARE(feed->text(), QString("Stream bitrate: 0 Kbs"));
    QCOMPARE(clients->text(), QString("Clients: 0 "));
}

void TestMainWindow::addressLabelsFollowPort()
{
    MainWindow window;
    QSpinBox *port = child<QSpinBox>(window, "spbPort");
    port->setValue(8095);
    QCOMPARE(currentPort(window), 8095);
    const QString url = "http://" + firstInterface() + ":8095";
    QCOMPARE(window.session()->viewerUrl(), url);
    QCOMPARE(window.session()->apiBaseUrl(), url);
    QLabel *link = child<QLabel>(window, "lblURL");
    QCOMPARE(link->text(), LinkLabel::linkHtml(url, ViewerAddress::shownText(url)));
    QVERIFY(link->openExternalLinks());
    QVERIFY(link->textInteractionFlags() & Qt::LinksAccessibleByKeyboard);
    QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(child<QLabel>(window, "lblQuestionsLink")->text(),
             "<a style='color:white;' href='" + url + "/feedback_list.html'>See Questions</a>");
}

void TestMainWindow::cloudModeAddress()
{
    m_home->set("SERVER_1", "relay.example.com:8089");
    MainWindow window;
    window.show();
    QCheckBox *cloud = child<QCheckBox>(window, "chkCloud");
    QTest::mouseClick(cloud, Qt::LeftButton);
    QVERIFY(window.cloudMode());
    QVERIFY(!child<QComboBox>(window, "cmbCloudServer")->isHidden());
    QVERIFY(child<QComboBox>(window, "cmbNetwork")->isHidden());
    QVERIFY(child<QSpinBox>(window, "spbPort")->isHidden());
    const QString url = window.session()->viewerUrl();
    QCOMPARE(url, "http://relay.example.com:8089?room=" + window.session()->roomId());
    QCOMPARE(url.size(), 7 + int(qstrlen("relay.example.com:8089")) + 6 + 49);
    // Cut after at most 30 characters, and further if the label's width needs it, never
    // through a character, always with "..." after it.
    QLabel *link = child<QLabel>(window, "lblURL");
    const QString shown = LinkLabel::fittedText(link, url.left(30) + "...");
    QCOMPARE(link->text(), LinkLabel::linkHtml(url, shown));
    QVERIFY(shown.endsWith("...") && url.startsWith(shown.chopped(3)));
    QVERIFY(shown.size() > 20);
    QVERIFY(link->fontMetrics().horizontalAdvance(shown) <= link->maximumWidth());
    // Before the first cloud start the API server has no port yet.
    QCOMPARE(window.session()->apiBaseUrl(), QString("http://127.0.0.1:0"));
    QTest::mouseClick(cloud, Qt::LeftButton);
    QVERIFY(!window.cloudMode());
}

void TestMainWindow::unavailablePublicListGivesNoAddress()
{
    // The home's list address is a loopback port where nothing listens.
    MainWindow window;
    window.show();
    QComboBox *servers = child<QComboBox>(window, "cmbCloudServer");
    QTRY_COMPARE(servers->itemText(0), QString(CloudServerList::kUnavailableItem));
    QTest::mouseClick(child<QCheckBox>(window, "chkCloud"), Qt::LeftButton);
    QCOMPARE(window.session()->viewerUrl(), QString());
    QVERIFY(!child<QLabel>(window, "lblURL")->text().contains("href"));

    QGuiApplication::clipboard()->setText("before");
    QTest::mouseClick(child<QPushButton>(window, "cmdCopyURL"), Qt::LeftButton);
    QCOMPARE(QGuiApplication::clipboard()->text(), QString("before"));
    QTest::mouseClick(toolBarButton(window, "Zoom QR"), Qt::LeftButton);
    QVERIFY(!window.zoomQRWindow()->isVisible());
    QVERIFY(window.findChild<StatusBarWidget *>()->message().contains("choose a cloud server"));
}

void TestMainWindow::publicServerList_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("items");
    const QString add = CloudServerList::kAddCustomItem;
    QTest::newRow("array") << QByteArray(R"(["p1.example:8089","p2.example:8089"])")
                           << QStringList{"mine:8089", "p1.example:8089", "p2.example:8089", add};
    QTest::newRow("object") << QByteArray(R"({"list":["p1.example:8089"]})")
                            << QStringList{"mine:8089", add};
    QTest::newRow("invalid JSON") << QByteArray("[\"p1.example:8089\"")
                                  << QStringList{"mine:8089", add};
}

void TestMainWindow::publicServerList()
{
    QFETCH(QByteArray, body);
    QFETCH(QStringList, items);
    OneShotHttpServer service(body);
    QVERIFY(service.listen(QHostAddress::LocalHost));
    m_home->setListHost("http://127.0.0.1:" + QString::number(service.serverPort()));
    m_home->set("SERVER_2", "mine:8089");
    m_home->set("CLOUD_SERVER", "mine:8089");
    MainWindow window;
    const QComboBox *servers = child<QComboBox>(window, "cmbCloudServer");
    QCOMPARE(comboTexts(servers), (QStringList{"mine:8089", CloudServerList::kAddCustomItem}));
    QTRY_VERIFY(!service.request().isEmpty());
    QVERIFY(service.request().startsWith("GET /api/lumacast/servers/list HTTP/1.1\r\n"));
    QTRY_COMPARE(comboTexts(servers), items);
    QCOMPARE(servers->currentText(), QString("mine:8089"));
    QCOMPARE(servers->itemData(servers->count() - 1).toString(),
             QString(CloudServerList::kAddCustomData));
}

void TestMainWindow::customServerDialog_data()
{
    QTest::addColumn<bool>("accept");
    QTest::addColumn<QStringList>("items");
    QTest::newRow("OK") << true
                        << QStringList{"new.example:8089", "old.example:8089",
                                       CloudServerList::kAddCustomItem};
    QTest::newRow("Cancel") << false
                            << QStringList{"old.example:8089", CloudServerList::kAddCustomItem};
}

void TestMainWindow::customServerDialog()
{
    QFETCH(bool, accept);
    QFETCH(QStringList, items);
    m_home->set("SERVER_3", "old.example:8089");
    MainWindow window;
    QComboBox *servers = child<QComboBox>(window, "cmbCloudServer");
    QString title;
    QStringList shown;
    whenModalAppears([&](QWidget *modal) {
        auto *dialog = qobject_cast<CustomClouds *>(modal);
        if (!dialog)
            return;
        title = dialog->windowTitle();
        for (int i = 0; i < 3; ++i)
            shown.append(dialog->serverEdit(i)->text());
        dialog->serverEdit(0)->setText("new.example:8089");
        if (accept)
            dialog->accept();
        else
            dialog->reject();
    });
    servers->setCurrentIndex(servers->count() - 1);
    QCOMPARE(title, QString("Custom Servers"));
    QCOMPARE(shown, (QStringList{"", "", "old.example:8089"}));
    QCOMPARE(comboTexts(servers), items);
    QCOMPARE(servers->currentIndex(), 0);
    QCOMPARE(m_home->value("SERVER_1").isValid(), accept);
    QCOMPARE(m_home->value("SERVER_3").toString(), QString("old.example:8089"));
}

void TestMainWindow::copyButtonShowsCopiedFor200Ms()
{
    MainWindow window;
    QPushButton *copy = child<QPushButton>(window, "cmdCopyURL");
    QVERIFY(showsIcon(copy->icon(), ":COPY"));
    QCOMPARE(copy->toolTip(), QString("Copy"));
    QTest::mouseClick(copy, Qt::LeftButton);
    QVERIFY(showsIcon(copy->icon(), ":COPY2"));
    QCOMPARE(QGuiApplication::clipboard()->text(), window.session()->viewerUrl());
    QTRY_VERIFY(showsIcon(copy->icon(), ":COPY"));
}

void TestMainWindow::toolBarAndQuestionsMenu()
{
    MainWindow window;
    QVERIFY(!QIcon(":START").pixmap(50, 50).isNull());
    QVERIFY(!QIcon(":STOP").pixmap(50, 50).isNull());
    QVERIFY(showsIcon(startButton(window)->icon(), ":START"));
    QCOMPARE(startButton(window)->toolTip(), QString("Start"));
    QCOMPARE(startButton(window)->cursor().shape(), Qt::PointingHandCursor);
    const auto buttons = child<QToolBar>(window, "mainToolBar")->findChildren<QToolButton *>();
    QStringList texts;
    for (const QToolButton *button : buttons)
        if (!button->text().isEmpty())
            texts.append(button->text());
    QCOMPARE(texts, (QStringList{"Zoom QR", "Random Winner", "Voting", "Quizzes", "Questions"}));
    QVERIFY(!QIcon(":QUIZ").pixmap(50, 50).isNull());
    QVERIFY(!QIcon(":ZQR").pixmap(50, 50).isNull());
    QVERIFY(!QIcon(":RND").pixmap(50, 50).isNull());

    QStringList actions;
    for (const QAction *action : questionsMenu(window)->actions())
        actions.append(action->text());
    QCOMPARE(actions, (QStringList{"JSON real-time export", "Export to file", "Clear questions"}));
    QCOMPARE(questionsMenu(window)->parent(), child<QPushButton>(window, "cmdQActions"));
}

void TestMainWindow::votingButtonOpensVoteWindow()
{
    MainWindow window;
    QTest::mouseClick(toolBarButton(window, "Voting"), Qt::LeftButton);
    QVERIFY(window.voteWindow()->isVisible());
}

void TestMainWindow::zoomQRButtonShowsTheViewerAddress()
{
    MainWindow window;
    QTest::mouseClick(toolBarButton(window, "Zoom QR"), Qt::LeftButton);
    QVERIFY(window.zoomQRWindow()->isVisible());
    QCOMPARE(window.zoomQRWindow()->text(), window.session()->viewerUrl());

    // The address of the moment: a new port shows at the next click.
    window.zoomQRWindow()->close();
    child<QSpinBox>(window, "spbPort")->setValue(currentPort(window) + 1);
    QTest::mouseClick(toolBarButton(window, "Zoom QR"), Qt::LeftButton);
    QVERIFY(window.zoomQRWindow()->isVisible());
    QCOMPARE(window.zoomQRWindow()->text(), window.session()->viewerUrl());
}

void TestMainWindow::randomWinnerButtonOpensTheGameWiredToTheRelay()
{
    MainWindow window;
    QTest::mouseClick(toolBarButton(window, "Random Winner"), Qt::LeftButton);
    RandomGame *game = window.randomGameWindow();
    QVERIFY(game->isVisible());
    QCOMPARE(game->findChild<QLineEdit *>("winnerTextLineEdit")->text(), QString("You WON !!!"));
    // The relay has no viewers before a session: the finish reaching it says so.
    QTest::ignoreMessage(QtDebugMsg, "no clients");
    game->findChild<QPushButton *>("cmdStart")->click();
    for (int tick = 0; tick < 26; ++tick)
        window.session()->drawRun()->tick();
    QCOMPARE(window.settings()->value("WIN_TEXT").toString(), QString("You WON !!!"));
}

void TestMainWindow::playedQuizLivesInTheSessionUntilItsWindowCloses()
{
    MainWindow window;
    const auto shown = [&window] {
        return QJsonDocument::fromJson(window.session()->quizBoard()->json()).object();
    };
    window.playQuiz(
        QuizInfo{"q", "Colours",
                 QJsonArray{QJsonObject{{"title", "Sky?"}, {"options", QJsonArray{"blue"}}}}});
    QPointer<QuizPlayWindow> play = window.quizPlayWindow();
    QVERIFY(!window.session()->quiz());
    play->findChild<QPushButton *>("btnNext")->click();
    QCOMPARE(play->session(), window.session()->quiz());
    QCOMPARE(shown()["question"].toString(), QString("Sky?"));

    play->close();
    QTRY_VERIFY(!play);
    QVERIFY(!window.session()->quiz());
    QCOMPARE(shown()["quiz"].toBool(), false);
}

void TestMainWindow::quizzesButtonOpensOneQuizList()
{
    QTemporaryDir quizzes;
    m_home->set("QUIZ_DIR", quizzes.path());
    MainWindow window;
    const auto quizWindows = [] {
        QList<QWidget *> found;
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (widget->windowTitle() == "Quizes" && widget->isVisible())
                found.append(widget);
        return found;
    };
    QTest::mouseClick(toolBarButton(window, "Quizzes"), Qt::LeftButton);
    QCOMPARE(quizWindows().size(), 1);
    QWidget *list = quizWindows().first();
    list->close();
    QTest::mouseClick(toolBarButton(window, "Quizzes"), Qt::LeftButton);
    QCOMPARE(quizWindows(), QList<QWidget *>{list});
    // Closing the studio closes the list too, so the process can end.
    window.close();
    QVERIFY(quizWindows().isEmpty());
}

void TestMainWindow::jsonViewOpensQuestionsList()
{
    MainWindow window;
    BrowserStandIn browser;
    QDesktopServices::setUrlHandler("http", &browser, "open");
    questionsMenu(window)->actions().at(0)->trigger();
    QDesktopServices::unsetUrlHandler("http");
    QCOMPARE(browser.opened,
             QList<QUrl>{QUrl(window.session()->viewerUrl() + "/feedback_list.json")});
}

void TestMainWindow::exportToFileTellsWhereItSaved()
{
    MainWindow window;
    QTemporaryDir home;
    const QByteArray previousHome = qgetenv("HOME");
    qputenv("HOME", home.path().toUtf8());
    QVERIFY(QDir(home.path()).mkpath("Desktop"));
    whenModalAppears([](QWidget *modal) {
        if (auto *dialog = qobject_cast<QFileDialog *>(modal))
            static_cast<QDialog *>(dialog)->accept();
    });
    questionsMenu(window)->actions().at(1)->trigger();
    qputenv("HOME", previousHome);
    const QString fileName = home.path() + "/Desktop/table.html";
    QVERIFY(QFile::exists(fileName));
    QCOMPARE(window.findChild<StatusBarWidget *>()->message(), "Questions saved to " + fileName);
}

void TestMainWindow::clearQuestionsAfterYes()
{
    MainWindow window;
    QTRY_VERIFY(window.session()->store()->isOpen());
    window.session()->store()->postQuestion(R"({"name":"Ann","msg":"one"})");
    QTRY_COMPARE(window.session()->store()->selectQuestions().size(), 1);
    QString text;
    whenModalAppears([&text](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        text = box->text();
        box->button(QMessageBox::Yes)->click();
    });
    questionsMenu(window)->actions().at(2)->trigger();
    QCOMPARE(text, QString("Are you sure?"));
    QCOMPARE(window.session()->store()->selectQuestions().size(), 0);
}

void TestMainWindow::cloudStartToRefusingServerStaysIdle()
{
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    m_home->set("SERVER_1", QString("127.0.0.1:%1").arg(closed.serverPort()));
    closed.close();
    MainWindow window(fakeDevices(), kAnyFreePorts);
    QTest::mouseClick(child<QCheckBox>(window, "chkCloud"), Qt::LeftButton);
    QString title;
    QString text;
    closeNextMessageBox(&title, &text);
    QTest::mouseClick(startButton(window), Qt::LeftButton);
    QCOMPARE(title, QString("Connection error"));
    QCOMPARE(text, QString("Can't connect to selected server"));
    QVERIFY(!window.isRunning());
    QVERIFY(showsIcon(startButton(window)->icon(), ":START"));
    QVERIFY(child<QCheckBox>(window, "chkCloud")->isEnabled());
    QVERIFY(!window.session()->streamer()->isStreaming());
    QCOMPARE(window.session()->apiServer()->serverPort(), quint16(0));
    QVERIFY(!m_home->value("USE_CLOUD").isValid());
    QVERIFY(!m_home->value("CLOUD_SERVER").isValid());
}

void TestMainWindow::brokenCloudConnectionStopsTheSession()
{
    CloudService service;
    m_home->set("SERVER_1", service.server());
    MainWindow window(fakeDevices(), kAnyFreePorts);
    QTest::mouseClick(child<QCheckBox>(window, "chkCloud"), Qt::LeftButton);
    QTest::mouseClick(startButton(window), Qt::LeftButton);
    QVERIFY(window.isRunning());
    const quint16 apiPort = window.session()->apiServer()->serverPort();
    QVERIFY(apiPort != 0);
    const QString questions = child<QLabel>(window, "lblQuestionsLink")->text();
    QVERIFY2(questions.contains(QString(":%1/feedback_list.html").arg(apiPort)),
             qPrintable(questions));
    QCOMPARE(m_home->value("CLOUD_SERVER").toString(), service.server());

    QString title;
    QString text;
    closeNextMessageBox(&title, &text);
    service.kill();
    QTRY_VERIFY_WITH_TIMEOUT(!window.isRunning(), 8000);
    QCOMPARE(title, QString("Connection Error"));
    QCOMPARE(text, QString("Connection was broken"));
    QVERIFY(showsIcon(startButton(window)->icon(), ":START"));
    QCOMPARE(window.session()->apiServer()->serverPort(), quint16(0));
    QVERIFY(!window.session()->cloudProxy()->ingestServer.isListening());
}

void TestMainWindow::statusBarShowsVersionAndHelp()
{
    MainWindow window;
    auto *bar = window.statusBar()->findChild<StatusBarWidget *>();
    QVERIFY(bar);
    const QLabel *version = bar->findChild<QLabel *>("lblVersion");
    QCOMPARE(version->text(), QString("ver 1.5 (build 42)    "));
    QCOMPARE(version->styleSheet(), QString("font-weight:bold;"));
    const QLabel *help = bar->findChild<QLabel *>("lblHelp");
    QCOMPARE(help->text(), "<a style='color:white;' href='" + QString(StatusBarWidget::kHelpUrl) +
                               "'>help &raquo;</a>");
    QVERIFY(help->openExternalLinks());
    QCOMPARE(StatusBarWidget("extra", nullptr).findChild<QLabel *>("lblVersion")->text(),
             QString("ver 1.5 (build 42)    extra"));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
