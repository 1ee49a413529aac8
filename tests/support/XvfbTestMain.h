#pragma once

#include "support/XvfbSession.h"

#include <QApplication>
#include <QtTest>

// Runs a QtTest object in a widget application on a private X server (the xcb platform), for
// windows that must really appear on an X display: their shapes, input and what a screen
// capture sees of them.
template <class Test>
int runOnPrivateXvfb(int argc, char **argv, QSize screen, QSize secondScreen = QSize())
{
    XvfbSession xvfb;
    QString error;
    if (!xvfb.start(screen, &error, secondScreen)) {
        qCritical("Xvfb: %s", qPrintable(error));
        return 1;
    }
    qputenv("DISPLAY", xvfb.display().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    Test test;
    return QTest::qExec(&test, argc, argv);
}
