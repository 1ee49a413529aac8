#pragma once

#include <memory>

class QSettings;

// What the main window sees of the quiz list window: it only shows and hides it.
class ISquiz
{
public:
    virtual ~ISquiz() = default;
    virtual void showWindow() = 0;
    virtual void hideWindow() = 0;
};

// Creates the quiz list window, without a parent and not shown, over the quiz folder the
// settings name (read once, here), with tiles sized from the desktop.
std::unique_ptr<ISquiz> createSquiz(const QSettings &settings);
