#include "app/MainWindow.h"

#include "app/AudienceWindows.h"
#include "app/CloudServerPicker.h"
#include "app/LinkLabel.h"
#include "app/QuestionsExport.h"
#include "app/SourcePicker.h"
#include "app/StatusBarWidget.h"
#include "app/StudioToolBar.h"
#include "capture/gui/WCapture.h"
#include "session/AppSettings.h"
#include "session/OutputPresets.h"
#include "session/PublicServerList.h"
#include "session/StudioSession.h"
#include "session/ViewerAddress.h"
#include "ui_MainWindow.h"

#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QGuiApplication>
#include <QMessageBox>
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

} // namespace

MainWindow::MainWindow(QWidget *parent) : MainWindow(mfDefaultFactory(), {}, parent) {}

MainWindow::MainWindow(MFFactoryPtr captureFactory, SessionPorts ports, QWidget *parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::MainWindow>())
{
    initIconResources();
    m_wcapture = std::make_unique<WCapture>();
    m_statTimer = std::make_unique<QTimer>();
    m_settings.reset(createAppSettings());
    m_session = std::make_unique<StudioSession>(m_settings.get(), std::move(captureFactory), ports);
    m_audience = std::make_unique<AudienceWindows>(m_session.get(), m_settings.get());
    const SessionChoices saved = m_session->savedChoices();

    ui->setupUi(this);
    m_sources = std::make_unique<SourcePicker>(ui->cmbVideoSources, ui->cmbAudioSources,
                                               m_wcapture.get(), m_session.get());
    setWindowTitle("Lumacast PRO");
    m_statusBarWidget = new StatusBarWidget(QString(), this);
    statusBar()->addPermanentWidget(m_statusBarWidget, 1);
    const auto call = [this](void (MainWindow::*slot)()) {
        return [this, slot] {
            (this->*slot)();
        };
    };
    const StudioToolBar::Controls tools = StudioToolBar::build(
        ui->mainToolBar,
        {call(&MainWindow::on_cmdStart_clicked), call(&MainWindow::on_ZoomQR),
         call(&MainWindow::onRandomWinnerTriggered), call(&MainWindow::onVoteTriggered),
         call(&MainWindow::onSquizTriggered), call(&MainWindow::onQuestionsTriggered)},
        saved.record);
    m_startButton = tools.start;
    m_recordBox = tools.record;

    connect(m_statTimer.get(), &QTimer::timeout, this, qOverload<>(&MainWindow::onStatTimer));
    m_sourceCheckTimer = new QTimer(this);
    connect(m_sourceCheckTimer, &QTimer::timeout, this, &MainWindow::showSourceWarning);

    const QStringList interfaces = ViewerAddress::enumerateInterfaces();
    m_sources->fill();
    ui->cmbNetwork->addItems(interfaces);
    fillPresets();

    ui->spbPort->setValue(saved.port);
    // The combo shows the address that Start will use.
    ui->cmbNetwork->setCurrentIndex(ViewerAddress::chosenInterface(interfaces, saved.ip));
    restoreIndices(saved);
    connect(m_wcapture.get(), &WCapture::onNewPosition, this,
            [this](QRect area) { m_session->setCaptureArea(m_wcapture->screenIndex(), area); });
    connect(m_session.get(), &StudioSession::connectionLost, this, &MainWindow::onReconnectFailed);
    m_statusBarWidget->followRecording(m_session.get(), m_sourceCheckTimer);

    onStatTimer(true);

    ui->cmdCopyURL->setStyleSheet("QPushButton {border:none;padding:0;margin:0;}");
    ui->cmdCopyURL->setIconSize(QSize(30, 30));
    ui->cmdCopyURL->setIcon(QIcon(":COPY"));
    ui->cmdCopyURL->setCursor(Qt::PointingHandCursor);
    ui->cmdCopyURL->setToolTip(tr("Copy"));
    ui->cmdQActions->setStyleSheet("QPushButton {background-color:#4A4C50;}");
    ui->cmdQActions->setCursor(Qt::PointingHandCursor);
    QuestionsExport::menu(
        ui->cmdQActions, this, m_session->store(), [this] { return m_session->apiBaseUrl(); },
        [this](const QString &fileName) {
            m_statusBarWidget->showNotice(
                tr("Questions saved to %1").arg(QDir::toNativeSeparators(fileName)),
                StatusBarWidget::kNoticeMs);
        });
    setContextMenuPolicy(Qt::NoContextMenu);

    m_servers =
        std::make_unique<CloudServerPicker>(ui->cmbCloudServer, m_session.get(), m_settings.get());
    m_session->publicServers()->request();
    m_servers->fill(saved.cloudServer);
    ui->chkCloud->setChecked(saved.useCloud);
    setCloudMode(saved.useCloud);
}

MainWindow::~MainWindow()
{
    stopSession();
    // The audience's windows show parts of the session, so they go first.
    m_audience.reset();
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
    m_audience->closeAll();
    event->accept();
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
    for (const auto &[combo, choice] : restored)
        SourcePicker::restore(combo, choice.first, choice.second);
    m_cmbCodec->setCurrentIndex(m_cmbCodec->findData(VideoCodecs::key(saved.videoCodec)));
    ui->maxAudioLag->setValue(saved.audioLag);
    // A restored index equal to the fill's first item changed nothing, so nothing showed it.
    m_sources->showAreaIfChosen();
}

void MainWindow::on_cmdRefresh_clicked()
{
    m_sources->refillVideo();
}

void MainWindow::on_cmbVideoSources_currentIndexChanged(QString)
{
    m_sources->onVideoChanged();
}

void MainWindow::on_cmbAudioSources_currentIndexChanged(QString)
{
    m_sources->onAudioChanged();
}

void MainWindow::on_cmbFrames_currentIndexChanged(int)
{
    m_session->setOutput(ui->cmbFrames->currentData().toSize(),
                         ui->cmbBitrate->currentData().toInt());
}

void MainWindow::on_maxAudioLag_valueChanged(double arg1)
{
    m_session->setMaxAudioLag(arg1);
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

// --- viewer address and cloud servers ---

void MainWindow::updateLinks()
{
    const QString url = m_session->viewerUrl();
    if (url.isEmpty())
        ui->lblURL->setText(tr("no server chosen"));
    else
        LinkLabel::showLink(ui->lblURL, url,
                            LinkLabel::fittedText(ui->lblURL, ViewerAddress::shownText(url)));
    LinkLabel::showLink(ui->lblQuestionsLink, m_session->questionsPageUrl(), tr("See Questions"));
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

void MainWindow::on_cmbCloudServer_currentIndexChanged(int)
{
    if (m_servers->onIndexChanged())
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
    const StudioSession::ViewerPlace &place = m_session->viewerPlace();
    SessionChoices choices;
    choices.videoIndex = ui->cmbVideoSources->currentIndex();
    choices.audioIndex = ui->cmbAudioSources->currentIndex();
    choices.frameIndex = ui->cmbFrames->currentIndex();
    choices.bitrateIndex = ui->cmbBitrate->currentIndex();
    choices.videoCodec = VideoCodecs::fromKey(m_cmbCodec->currentData().toString());
    choices.audioLag = ui->maxAudioLag->value();
    choices.ip = place.address;
    choices.port = place.port;
    choices.cloudServer = place.cloudServer;
    choices.useCloud = place.cloudMode;
    choices.record = m_recordBox->isChecked();

    const SessionRequest request = m_session->requestFor(choices, m_sources->choice());
    if (const auto error = m_session->start(request, choices)) {
        m_startButton->setIcon(QIcon(":START"));
        QMessageBox::warning(nullptr, error->title, error->text);
        return;
    }
    m_startButton->setToolTip(tr("Stop"));
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
    for (QWidget *control : std::initializer_list<QWidget *>{
             ui->cmbNetwork, ui->spbPort, ui->cmbFrames, ui->cmbBitrate, m_cmbCodec, ui->chkCloud})
        control->setEnabled(enabled);
}

void MainWindow::showSourceWarning()
{
    m_statusBarWidget->setWarning(m_session->sourceWarning());
}

void MainWindow::onStatTimer(bool fake)
{
    const SessionStats::Texts texts = m_session->statisticsTick(fake);
    ui->lblStatFeed->setText(texts.stream);
    ui->lblStatTotal->setText(texts.total);
    ui->lblStatClients->setText(texts.clients);
}

// --- audience tools ---

void MainWindow::on_ZoomQR()
{
    const QString url = viewerUrlToHandOut();
    if (!url.isEmpty())
        m_audience->showQR(url);
}
