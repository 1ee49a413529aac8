#pragma once

#include <QString>
#include <functional>

class QCheckBox;
class QToolBar;
class QToolButton;

// The main window's tool bar: Start/Stop with "Record" beside it, then the audience tools, each
// button calling the handler it is given.
namespace StudioToolBar {

struct Handlers
{
    std::function<void()> start;
    std::function<void()> zoomQR;
    std::function<void()> randomWinner;
    std::function<void()> vote;
    std::function<void()> quizzes;
    std::function<void()> questions;
};

struct Controls
{
    QToolButton *start = nullptr; // "cmdStart"
    QCheckBox *record = nullptr;  // "chkRecord"
};

// Fills `bar`, whose parent widget becomes the buttons' parent; `record` is the box's first state.
Controls build(QToolBar *bar, const Handlers &handlers, bool record);

} // namespace StudioToolBar
