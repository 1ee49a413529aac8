#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class StatusBarWidget;
}

// The bottom line of the main window: the program's version on the left, the help link on the
// right. Its texts are set once.
class StatusBarWidget : public QWidget
{
    Q_OBJECT
public:
    // `text` follows the version after four spaces.
    StatusBarWidget(QString text, QWidget *parent);
    ~StatusBarWidget() override;

    static constexpr const char *kVersion = "ver 1.5 (build 42)";
    static constexpr const char *kHelpUrl = "https://lumacast.quillfen.com/help";

private:
    std::unique_ptr<Ui::StatusBarWidget> ui;
};
