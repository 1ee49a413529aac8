#include "app/MainWindow.h"

#include "app/CustomClouds.h"
#include "app/LinkLabel.h"
#include "app/QuestionsExport.h"
#include "app/SourceShortcuts.h"
#include "app/StatusBarWidget.h"
#include "audience/gui/RandomGame.h"
#include "audience/gui/VoteDlg.h"
#include "audience/gui/ZoomQRW.h"
#include "capture/CaptureStreamer.h"
#include "capture/NDISource.h"
#include "capture/gui/WCapture.h"
#include "quiz/gui/ISquiz.h"
#include "quiz/gui/QuizPlayWindow.h"
#include "record/RecordingPlace.h"
#include "relay/WSServer.h"
#include "session/AppSettings.h"
#include "session/CaptureSources.h"
#include "session/CloudServerList.h"
#include "session/OutputPresets.h"
#include "session/PublicServerList.h"
#include "session/StudioSession.h"
#include "session/ViewerAddress.h"
#include "ui_MainWindow.h"
#include "web/APIWebServer.h"
#include "web/WebServer.h"
#include "web/gui/QuestionsWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

// Resources of a static library must be registered by name; outside any namespace.
static void initIconResources()
{
    Q_INIT_RESOURCE(icons);
}

namespace {

constexpr int kCopiedIconMs = 200;
constexpr int kSourceCheckMs = 500;

QToolButton *toolButton(QWidget *parent, const char *icon)
{
    auto *button = new QToolButton(parent);
    button->setIcon(QIcon(icon));
    button->setIconSize(QSize(50, 50));
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

QWidget *toolBarSpacer(QWidget *parent)
{
    auto *spacer = new QWidget(parent);
    spacer->setMinimumHeight(30);
    return spacer;
}

CaptureSources::Item currentItem(const QComboBox *combo)
{
    return {combo->currentText(), combo->currentData().toString()};
}

} // namespace

MainWindow::MainWindow(QWidget *parent) : MainWindow(mfDefaultFactory(), {}, parent) {}

MainWindow::MainWindow(MFFactoryPtr captureFactory, SessionPorts ports, QWidget *parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::MainWindow>())
{
    initIconResources();
    m_wcapture = std::make_unique<WCapture>();
    m_zoomQR = std::make_unique<ZoomQRW>();
    m_statTimer = std::make_unique<QTimer>();
    m_settings.reset(createAppSettings());
    m_session = std::make_unique<StudioSession>(m_settings.get(), std::move(captureFactory), ports);
    m_randomGame = std::make_unique<RandomGame>();
    m_voteDlg = std::make_unique<VoteDlg>(m_session->vote());

    ui->setupUi(this);
    setWindowTitle("Lumacast PRO");
    m_statusBarWidget = new StatusBarWidget(QString(), this);
    statusBar()->addPermanentWidget(m_statusBarWidget, 1);
    buildToolBar();

    connect(m_statTimer.get(), &QTimer::timeout, this, qOverload<>(&MainWindow::onStatTimer));
    m_sourceCheckTimer = new QTimer(this);
    connect(m_sourceCheckTimer, &QTimer::timeout, this, &MainWindow::showSourceWarning);

    m_interfaces = ViewerAddress::enumerateInterfaces();
    if (m_interfaces.isEmpty())
        m_interfaces.append(ViewerAddress::kNoNetwork);
    fillVideoSources();
    fillAudioSources();
    ui->cmbNetwork->addItems(m_interfaces);
    fillPresets();

    const SessionChoices saved = m_session->savedChoices();
    ui->spbPort->setValue(saved.port);
    // The combo shows the address that Start will use.
    ui->cmbNetwork->setCurrentIndex(
        m_interfaces.indexOf(m_interfaces.contains(saved.ip) ? saved.ip : m_interfaces.first()));
    restoreIndices(saved);
    connect(m_wcapture.get(), &WCapture::onNewPosition, this, [this](QRect area) {
        m_session->streamer()->setCaptureArea(m_wcapture->screenIndex(), area);
    });

    StudioSession *session = m_session.get();
    connect(m_voteDlg.get(), &VoteDlg::voteStart, session, &StudioSession::onVoteStart);
    connect(m_voteDlg.get(), &VoteDlg::voteStop, session, &StudioSession::onVoteStop);
    connect(m_randomGame.get(), &RandomGame::randomGameTick, session,
            &StudioSession::onRandomGameTick);
    connect(m_randomGame.get(), &RandomGame::randomGameFinish, session,
            &StudioSession::onRandomGameFinish);
    connect(session, &StudioSession::connectionLost, this, &MainWindow::onReconnectFailed);
    m_statusBarWidget->followRecording(m_session.get(), m_sourceCheckTimer);

    onStatTimer(true);

    ui->cmdCopyURL->setStyleSheet("QPushButton {border:none;padding:0;margin:0;}");
    ui->cmdCopyURL->setIconSize(QSize(30, 30));
    ui->cmdCopyURL->setIcon(QIcon(":COPY"));
    ui->cmdCopyURL->setCursor(Qt::PointingHandCursor);
    ui->cmdCopyURL->setToolTip(tr("Copy"));
    ui->cmdQActions->setStyleSheet("QPushButton {background-color:#4A4C50;}");
    ui->cmdQActions->setCursor(Qt::PointingHandCursor);
    buildQuestionsMenu();
    setContextMenuPolicy(Qt::NoContextMenu);

    connect(m_session->publicServers(), &PublicServerList::changed, this,
            [this] { fillCloudServers(true); });
    m_session->publicServers()->request();
    fillCloudServers(false);
    if (CloudServerList::isServer(saved.cloudServer) &&
        ui->cmbCloudServer->findText(saved.cloudServer) >= 0)
        ui->cmbCloudServer->setCurrentText(saved.cloudServer);
    ui->chkCloud->setChecked(saved.useCloud);
    setCloudMode(saved.useCloud);
}

MainWindow::~MainWindow()
{
    stopSession();
    m_voteDlg.reset();
    // A quiz still shown on the session's board goes before the session.
    delete m_quizPlay.data();
    delete m_questionsWindow.data();
    m_session.reset();
    m_wcapture.reset();
}

bool MainWindow::cloudMode() const
{
    return m_session->viewerPlace().cloudMode;
}

bool MainWindow::isRunning() const
{
    return m_session->isRunning();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    m_wcapture->hide();
    // The capture thread must not outlive the window that owns the controller, and no other
    // window of the studio may go on reaching viewers without it.
    stopSession();
    m_voteDlg->close();
    m_randomGame->close();
    m_zoomQR->close();
    // The studio ends with its main window; an open quiz list would keep the process alive.
    if (m_squiz)
        m_squiz->hideWindow();
    if (m_quizPlay)
        m_quizPlay->close();
    if (m_questionsWindow)
        m_questionsWindow->close();
    event->accept();
}

void MainWindow::buildToolBar()
{
    ui->mainToolBar->setIconSize(QSize(50, 50));
    ui->mainToolBar->setStyleSheet("QToolButton {color:white;}");

    m_startButton = toolButton(this, ":START");
    m_startButton->setObjectName("cmdStart");
    m_startButton->setToolTip(tr("Start"));
    connect(m_startButton, &QToolButton::clicked, this, &MainWindow::on_cmdStart_clicked);
    ui->mainToolBar->addWidget(m_startButton);
    m_recordBox = new QCheckBox(tr("Record"), this);
    m_recordBox->setObjectName("chkRecord");
    m_recordBox->setStyleSheet("QCheckBox {color:white;}");
    m_recordBox->setChecked(RecordingPlace::enabled(*m_settings));
    ui->mainToolBar->addWidget(m_recordBox);
    ui->mainToolBar->addWidget(toolBarSpacer(this));

    const auto addTool = [this](const char *icon, const QString &text, void (MainWindow::*slot)()) {
        QToolButton *button = toolButton(this, icon);
        button->setText(text);
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        connect(button, &QToolButton::clicked, this, slot);
        ui->mainToolBar->addWidget(button);
    };
    addTool(":ZQR", tr("Zoom QR"), &MainWindow::on_ZoomQR);
    addTool(":RND", tr("Random Winner"), &MainWindow::onRandomWinnerTriggered);
    addTool(":VOTE", tr("Voting"), &MainWindow::onVoteTriggered);
    ui->mainToolBar->addWidget(toolBarSpacer(this));
    addTool(":QUIZ", tr("Quizzes"), &MainWindow::onSquizTriggered);
    addTool(":QUESTIONS", tr("Questions"), &MainWindow::onQuestionsTriggered);
}

QuestionsWindow *MainWindow::questionsWindow() const
{
    return m_questionsWindow;
}

void MainWindow::onQuestionsTriggered()
{
    if (!m_questionsWindow)
        m_questionsWindow = new QuestionsWindow(m_session->questionBoard(), m_session->store());
    m_questionsWindow->show();
    m_questionsWindow->raise();
    m_questionsWindow->activateWindow();
}

void MainWindow::buildQuestionsMenu()
{
    m_questionsMenu = new QMenu(ui->cmdQActions);
    m_questionsMenu->setObjectName("questionsMenu");
    m_questionsMenu->setStyleSheet("QMenu {background-color: #222633;color: "
                                   "rgb(255,255,255);}QMenu::item::selected {background-color: "
                                   "rgb(49,49,49);}");
    connect(m_questionsMenu->addAction(tr("JSON real-time export")), &QAction::triggered, this,
            &MainWindow::on_exportToJSON);
    connect(m_questionsMenu->addAction(tr("Export to file")), &QAction::triggered, this,
            &MainWindow::on_exportToFile);
    connect(m_questionsMenu->addAction(tr("Clear questions")), &QAction::triggered, this,
            &MainWindow::on_clearDatabaze);
}

void MainWindow::on_cmdQActions_clicked()
{
    m_questionsMenu->exec(ui->cmdQActions->mapToGlobal(QPoint(20, 20)));
}

QVector<CaptureSources::Item> MainWindow::fillVideoSources()
{
    QStringList devices;
    m_session->streamer()->enumerateDevices("VIDEO", devices);
    m_session->ndiSources()->appendNDISources(devices);
    const auto items = CaptureSources::videoItems(devices, int(QGuiApplication::screens().size()));

    QComboBox *combo = ui->cmbVideoSources;
    m_fillingVideoSources = true;
    combo->clear();
    for (const CaptureSources::Item &item : items)
        combo->addItem(item.text, item.data.isEmpty() ? QVariant() : QVariant(item.data));
    m_fillingVideoSources = false;

    for (int i = 0; i < combo->count(); ++i)
        combo->setItemText(i, CaptureSources::paddedText(combo->itemText(i), combo->width()));
    m_sourceShortcuts.bind(combo);
    return items;
}

void MainWindow::fillAudioSources()
{
    QStringList devices;
    m_session->streamer()->enumerateDevices("AUDIO", devices);
    qDebug() << "AUDIO:" << devices;
    ui->cmbAudioSources->clear();
    for (const CaptureSources::Item &item : CaptureSources::audioItems(devices))
        ui->cmbAudioSources->addItem(item.text,
                                     item.data.isEmpty() ? QVariant() : QVariant(item.data));
}

void MainWindow::fillPresets()
{
    for (const OutputPresets::FrameSize &preset : OutputPresets::frameSizes())
        ui->cmbFrames->addItem(preset.text, preset.size);
    for (const OutputPresets::Bitrate &preset : OutputPresets::bitrates())
        ui->cmbBitrate->addItem(preset.text, preset.kbps);
    m_cmbCodec = new QComboBox(this);
    m_cmbCodec->setObjectName(QStringLiteral("cmbCodec"));
    for (const OutputPresets::Codec &preset : OutputPresets::videoCodecs())
        m_cmbCodec->addItem(preset.text, VideoCodecs::key(preset.codec));
    ui->horizontalLayout_3->insertWidget(ui->horizontalLayout_3->indexOf(ui->cmbBitrate) + 1,
                                         m_cmbCodec);
}

void MainWindow::restoreIndices(const SessionChoices &saved)
{
    const SessionChoices defaults;
    const std::pair<QComboBox *, std::pair<int, int>> restored[] = {
        {ui->cmbVideoSources, {saved.videoIndex, defaults.videoIndex}},
        {ui->cmbAudioSources, {saved.audioIndex, defaults.audioIndex}},
        {ui->cmbFrames, {saved.frameIndex, defaults.frameIndex}},
        {ui->cmbBitrate, {saved.bitrateIndex, defaults.bitrateIndex}},
    };
    for (const auto &[combo, choice] : restored) {
        const auto [index, fallback] = choice;
        // A list that got shorter since (a device was removed) keeps a valid choice.
        combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : fallback);
    }
    m_cmbCodec->setCurrentIndex(m_cmbCodec->findData(VideoCodecs::key(saved.videoCodec)));
    ui->maxAudioLag->setValue(saved.audioLag);
    // A restored index equal to the fill's first item changed nothing, so nothing showed it.
    if (screenAreaChosen())
        showAreaSelector();
}

void MainWindow::on_cmdRefresh_clicked()
{
    const CaptureSources::Item chosen = currentItem(ui->cmbVideoSources);
    const QVector<CaptureSources::Item> items = fillVideoSources();
    ui->cmbVideoSources->setCurrentIndex(CaptureSources::indexAfterRefill(items, chosen));
}

void MainWindow::on_cmbVideoSources_currentIndexChanged(QString)
{
    // The list's own selection while it is cleared and filled is no choice of the presenter's:
    // a live stream keeps its source until the fill is over.
    if (m_fillingVideoSources)
        return;
    const bool screenArea = screenAreaChosen();
    if (screenArea)
        showAreaSelector();
    const CaptureSources::Choice choice = currentChoice();
    m_session->applySources(choice);
    // Idle as well, so the controller knows the area before Start.
    if (screenArea && !m_session->isRunning())
        m_session->streamer()->setCaptureArea(choice.display, choice.area);
}

bool MainWindow::screenAreaChosen() const
{
    return ui->cmbVideoSources->currentData().toString() == CaptureSources::kScreenAreaKey;
}

void MainWindow::showAreaSelector()
{
    qDebug() << "SELECT CAPTURE SCREEN";
    m_wcapture->show();
}

void MainWindow::on_cmbAudioSources_currentIndexChanged(QString arg1)
{
    qDebug() << "change audio:" << arg1;
    applySources();
}

void MainWindow::on_cmbFrames_currentIndexChanged(int)
{
    m_session->streamer()->setOutputParams(ui->cmbFrames->currentData().toSize(),
                                           ui->cmbBitrate->currentData().toInt());
}

void MainWindow::on_maxAudioLag_valueChanged(double arg1)
{
    m_session->webServer()->setMaxAudioLag(arg1);
}

void MainWindow::on_spbPort_valueChanged(int arg1)
{
    m_session->setLocalAddress(ui->cmbNetwork->currentText(), arg1);
    updateLinks();
}

void MainWindow::on_cmbNetwork_currentIndexChanged(int)
{
    m_session->setLocalAddress(ui->cmbNetwork->currentText(), ui->spbPort->value());
    updateLinks();
}

void MainWindow::on_chkCloud_clicked(bool checked)
{
    setCloudMode(checked);
}

CaptureSources::Choice MainWindow::currentChoice() const
{
    CaptureSources::Choice choice =
        CaptureSources::resolve(currentItem(ui->cmbVideoSources), currentItem(ui->cmbAudioSources));
    if (choice.screenArea) {
        choice.display = m_wcapture->screenIndex();
        choice.area = m_wcapture->captureArea();
    }
    return choice;
}

void MainWindow::applySources()
{
    m_session->applySources(currentChoice());
}

// --- viewer address and cloud servers ---

QString MainWindow::getWEBDir()
{
    return StudioSession::webDir();
}

void MainWindow::updateLinks()
{
    const QString url = m_session->viewerUrl();
    if (url.isEmpty())
        ui->lblURL->setText(tr("no server chosen"));
    else
        LinkLabel::showLink(ui->lblURL, url,
                            LinkLabel::fittedText(ui->lblURL, ViewerAddress::shownText(url)));
    const QString qlink = m_session->apiBaseUrl() + "/feedback_list.html";
    qDebug() << "QLINK:" << qlink;
    LinkLabel::showLink(ui->lblQuestionsLink, qlink, tr("See Questions"));
}

void MainWindow::setCloudMode(bool on)
{
    m_session->setCloudServer(on, ui->cmbCloudServer->currentText());
    ui->cmbNetwork->setVisible(!on);
    ui->spbPort->setVisible(!on);
    ui->cmbCloudServer->setVisible(on);
    updateLinks();
}

QString MainWindow::viewerUrlToHandOut()
{
    const QString url = m_session->viewerUrl();
    if (url.isEmpty())
        m_statusBarWidget->showNotice(tr("No viewer address yet: choose a cloud server first."),
                                      StatusBarWidget::kNoticeMs);
    return url;
}

void MainWindow::on_cmdCopyURL_clicked()
{
    const QString url = viewerUrlToHandOut();
    if (url.isEmpty())
        return;
    ui->cmdCopyURL->setIcon(QIcon(":COPY2"));
    QGuiApplication::clipboard()->setText(url);
    QTimer::singleShot(kCopiedIconMs, ui->cmdCopyURL,
                       [button = ui->cmdCopyURL] { button->setIcon(QIcon(":COPY")); });
}

void MainWindow::fillCloudServers(bool keepChoice)
{
    // A late public list must not undo the presenter's (or the restored) choice.
    const QString previous = !keepChoice || ui->cmbCloudServer->currentData().isValid()
                                 ? QString()
                                 : ui->cmbCloudServer->currentText();
    m_serversReady = false;
    ui->cmbCloudServer->clear();
    ui->cmbCloudServer->addItems(m_session->publicServers()->items());
    ui->cmbCloudServer->addItem(CloudServerList::kAddCustomItem,
                                QString(CloudServerList::kAddCustomData));
    if (CloudServerList::isServer(previous) && ui->cmbCloudServer->findText(previous) >= 0)
        ui->cmbCloudServer->setCurrentText(previous);
    m_serversReady = true;
}

void MainWindow::on_cmbCloudServer_currentIndexChanged(int)
{
    if (m_serversReady &&
        ui->cmbCloudServer->currentData().toString() == CloudServerList::kAddCustomData) {
        CustomClouds dialog(m_settings.get());
        dialog.editServers();
        fillCloudServers(false);
        return;
    }
    m_session->setCloudServer(m_session->viewerPlace().cloudMode,
                              ui->cmbCloudServer->currentText());
    updateLinks();
}

// --- streaming session ---

void MainWindow::on_cmdStart_clicked()
{
    if (isRunning())
        stopSession();
    else
        startSession();
}

void MainWindow::onReconnectFailed()
{
    QMessageBox::warning(nullptr, tr("Connection Error"), tr("Connection was broken"),
                         QMessageBox::Ok);
    // Only a running cloud session reconnects; a stopped one must not be started by this.
    stopSession();
}

void MainWindow::startSession()
{
    m_startButton->setIcon(QIcon(":STOP"));
    SessionRequest request;
    const StudioSession::ViewerPlace &place = m_session->viewerPlace();
    request.address = place.address;
    request.port = place.port;
    request.maxAudioLag = ui->maxAudioLag->value();
    request.sources = currentChoice();
    request.frameSize = ui->cmbFrames->currentData().toSize();
    request.bitrateKbps = ui->cmbBitrate->currentData().toInt();
    request.videoCodec = VideoCodecs::fromKey(m_cmbCodec->currentData().toString());
    request.cloudMode = place.cloudMode;
    request.cloudServer = place.cloudServer;
    request.record = m_recordBox->isChecked();

    SessionChoices choices;
    choices.videoIndex = ui->cmbVideoSources->currentIndex();
    choices.audioIndex = ui->cmbAudioSources->currentIndex();
    choices.frameIndex = ui->cmbFrames->currentIndex();
    choices.bitrateIndex = ui->cmbBitrate->currentIndex();
    choices.videoCodec = request.videoCodec;
    choices.audioLag = ui->maxAudioLag->value();
    choices.ip = place.address;
    choices.port = place.port;
    choices.cloudServer = place.cloudServer;
    choices.useCloud = ui->chkCloud->isChecked();
    choices.record = m_recordBox->isChecked();

    if (const auto error = m_session->start(request, choices)) {
        m_startButton->setIcon(QIcon(":START"));
        QMessageBox::warning(nullptr, error->title, error->text);
        return;
    }
    m_startButton->setToolTip(tr("Stop"));
    m_stats.reset();
    m_statTimer->start(SessionStats::kPeriodMs);
    m_sourceCheckTimer->start(kSourceCheckMs);
    setSessionControlsEnabled(false);
    updateLinks();
}

void MainWindow::stopSession()
{
    if (!isRunning())
        return;
    m_statTimer->stop();
    m_sourceCheckTimer->stop();
    m_session->stop();
    showSourceWarning();
    onStatTimer(true);
    m_startButton->setIcon(QIcon(":START"));
    m_startButton->setToolTip(tr("Start"));
    setSessionControlsEnabled(true);
    updateLinks();
}

void MainWindow::setSessionControlsEnabled(bool enabled)
{
    m_recordBox->setEnabled(enabled);
    for (QWidget *control :
         {static_cast<QWidget *>(ui->cmbNetwork), static_cast<QWidget *>(ui->spbPort),
          static_cast<QWidget *>(ui->cmbFrames), static_cast<QWidget *>(ui->cmbBitrate),
          static_cast<QWidget *>(m_cmbCodec), static_cast<QWidget *>(ui->chkCloud)})
        control->setEnabled(enabled);
}

void MainWindow::showSourceWarning()
{
    m_statusBarWidget->setWarning(m_session->sourceWarning());
}

void MainWindow::onStatTimer()
{
    onStatTimer(false);
}

void MainWindow::onStatTimer(bool fake)
{
    const WSServer::Statistics stats = m_session->statistics();
    const SessionStats::Texts texts =
        m_stats.tick(quint64(stats.receivedBytes), quint64(stats.sentBytes), stats.viewers, fake);
    ui->lblStatFeed->setText(texts.stream);
    ui->lblStatTotal->setText(texts.total);
    ui->lblStatClients->setText(texts.clients);
}

// --- audience tools ---

void MainWindow::onVoteTriggered()
{
    m_voteDlg->showVote(m_settings.get(), m_session->apiBaseUrl());
}

void MainWindow::onRandomWinnerTriggered()
{
    m_randomGame->showGame(m_settings.get());
}

void MainWindow::on_ZoomQR()
{
    const QString url = viewerUrlToHandOut();
    if (!url.isEmpty())
        m_zoomQR->showQR(url);
}

void MainWindow::onSquizTriggered()
{
    if (!m_squiz) {
        m_squiz = createSquiz(*m_settings);
        m_squiz->setPlayHandler([this](const QuizInfo &quiz) { playQuiz(quiz); });
    }
    m_squiz->showWindow();
}

QuizPlayWindow *MainWindow::quizPlayWindow() const
{
    return m_quizPlay;
}

void MainWindow::playQuiz(const QuizInfo &quiz)
{
    if (m_quizPlay)
        m_quizPlay->close();
    m_quizPlay = new QuizPlayWindow(quiz, m_settings.get());
    connect(m_quizPlay, &QuizPlayWindow::started, m_session.get(), &StudioSession::playQuiz);
    m_quizPlay->show();
    m_quizPlay->raise();
}

void MainWindow::on_exportToJSON()
{
    QuestionsExport::openJsonView(m_session->apiBaseUrl());
}

void MainWindow::on_exportToFile()
{
    const QString fileName = QuestionsExport::exportToFile(this, m_session->store());
    if (!fileName.isEmpty())
        m_statusBarWidget->showNotice(
            tr("Questions saved to %1").arg(QDir::toNativeSeparators(fileName)),
            StatusBarWidget::kNoticeMs);
}

void MainWindow::on_clearDatabaze()
{
    QuestionsExport::clearQuestions(this, m_session->store());
}
