#pragma once

#include "app/MainWindow.h"
#include "capture/FakeMFFactory.h"
#include "session/StudioSession.h"
#include "support/ModalHandler.h"

#include <QComboBox>
#include <QIcon>
#include <QMenu>
#include <QMessageBox>
#include <QSpinBox>
#include <QString>
#include <QToolButton>
#include <memory>

// Looks at a studio window the way its tests need to.
namespace WindowProbe {

// The widget of that object name; a missing one ends the test program.
template <class T> T *child(const MainWindow &window, const char *name)
{
    T *widget = window.findChild<T *>(name);
    if (!widget)
        qFatal("no widget %s", name);
    return widget;
}

inline QToolButton *startButton(const MainWindow &window)
{
    return child<QToolButton>(window, "cmdStart");
}

inline QMenu *questionsMenu(const MainWindow &window)
{
    return child<QMenu>(window, "questionsMenu");
}

// The port and address that Start will use.
inline int currentPort(const MainWindow &window)
{
    return child<QSpinBox>(window, "spbPort")->value();
}

inline QString currentAddress(const MainWindow &window)
{
    return child<QComboBox>(window, "cmbNetwork")->currentText();
}

// Whether `icon` shows the image of the resource (icons carry no name to compare).
inline bool showsIcon(const QIcon &icon, const char *resource)
{
    return icon.pixmap(30, 30).toImage() == QIcon(resource).pixmap(30, 30).toImage();
}

// Closes the next message box with its default button and puts its title in `title`.
inline void closeNextMessageBox(QString *title)
{
    whenModalAppears([title](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        *title = box ? box->windowTitle() : QString("<not a message box>");
        modal->close();
    });
}

// The same, and its text in `text`.
inline void closeNextMessageBox(QString *title, QString *text)
{
    whenModalAppears([title, text](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        *title = box ? box->windowTitle() : QString("<not a message box>");
        *text = box ? box->text() : QString();
        modal->close();
    });
}

// A back end with a video device, one whose name has spaces around it, and an audio device.
inline std::shared_ptr<FakeMFFactory> fakeDevices()
{
    auto factory = std::make_shared<FakeMFFactory>();
    factory->devices[eMFDT_Video] = QStringList{"Cam One", "  Capture Card  "};
    factory->devices[eMFDT_ExtAudio] = QStringList{"Mic A"};
    return factory;
}

} // namespace WindowProbe
