#pragma once

#include <QGuiApplication>
#include <QPoint>
#include <QProcess>
#include <QStringList>
#include <QVector>
#include <QtTest>

// Real pointer input on the X display of $DISPLAY through the XTEST extension (xdotool), so the
// X server decides which window gets each event, as it would for the presenter's mouse.
namespace XPointer {

// A round trip to the X server: what the application asked of it is done, and every event it sent
// before the reply has been handled here.
inline void roundTrip()
{
    QCoreApplication::processEvents();
    QGuiApplication::sync();
    QCoreApplication::processEvents();
}

// Presses the left button at the first point, moves through the others and releases at the
// last. False when xdotool fails.
inline bool drag(const QVector<QPoint> &points)
{
    // The application's own requests (a new shape, a window shown) go out from its event loop
    // and must reach the X server before the pointer acts.
    roundTrip();
    QStringList args;
    for (int i = 0; i < points.size(); ++i) {
        args << "mousemove" << QString::number(points[i].x()) << QString::number(points[i].y());
        if (i == 0)
            args << "mousedown"
                 << "1";
    }
    args << "mouseup"
         << "1";
    return QProcess::execute("xdotool", args) == 0;
}

} // namespace XPointer
