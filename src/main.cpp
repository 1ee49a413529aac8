#include "app/AppStyle.h"
#include "app/MainWindow.h"
#include "net/DescriptorLimit.h"

#include <QApplication>
#include <limits>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    DescriptorLimit::raiseToHardLimit();
    app.setStyleSheet(globalStyleSheet());
    // Qt's bearer polling scans the network interfaces every ten seconds, which stalls Wi-Fi
    // traffic for a moment; the stream must not stutter. "-1" was meant to switch it off, but
    // Qt 5 takes the value as a timer interval and warns about a negative one at every start.
    // The longest interval switches it off just the same.
    qputenv("QT_BEARER_POLL_TIMEOUT", QByteArray::number(std::numeric_limits<int>::max()));

    int exitCode = 0;
    {
        MainWindow window;
        window.show();
        exitCode = app.exec();
    }
    return exitCode;
}
