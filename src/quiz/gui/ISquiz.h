#pragma once

#include "quiz/QuizInfo.h"

#include <functional>
#include <memory>

class QSettings;

// What the main window sees of the quiz list window: it shows and hides it, and plays the quiz
// of a tile's "Play" button.
class ISquiz
{
public:
    using PlayHandler = std::function<void(const QuizInfo &quiz)>;

    virtual ~ISquiz() = default;
    virtual void showWindow() = 0;
    virtual void hideWindow() = 0;
    virtual void setPlayHandler(PlayHandler play) = 0;
};

// Creates the quiz list window, without a parent and not shown, over the quiz folder the
// settings name (read once, here), with tiles sized from the desktop.
std::unique_ptr<ISquiz> createSquiz(const QSettings &settings);
