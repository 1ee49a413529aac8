#pragma once

#include <QMainWindow>

#include <memory>

class QSettings;
class WSServer;

// The studio's one window. Its constructor builds every long-lived object in a
// fixed order; nothing listens on the network until the presenter presses Start.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    QSettings *settings() const { return m_settings.get(); }
    WSServer *relayServer() const { return m_wsServer.get(); }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    bool m_running = false;
    // The settings store and the service objects live as long as the window,
    // which is the life of the process; they are parentless so no widget owns them.
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<WSServer> m_wsServer;
};
