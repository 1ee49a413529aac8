#include "app/MainWindow.h"

#include "app/AppSettings.h"
#include "relay/WSServer.h"

#include <QCloseEvent>
#include <QSettings>

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent)
{
    setWindowTitle("Lumacast PRO");
    m_running = false;
    m_settings.reset(createAppSettings());
    m_wsServer = std::make_unique<WSServer>();
}

MainWindow::~MainWindow() = default;

void MainWindow::closeEvent(QCloseEvent *event)
{
    event->accept();
}
