#include "app/AppStyle.h"

QString globalStyleSheet()
{
    // One line on purpose: this exact text is what every window has always been styled with;
    // the rules at its end only add to it.
    // clang-format off
    return QStringLiteral(
        "MainWindow {  background-color: #050F15;}"
        "QDialog {background-color: #050F15;border:4px solid lightgray;}"
        "VoteDlg {background-color: #050F15;border:4px solid lightgray;}"
        "RandomGame {background-color: #050F15;border:4px solid lightgray;}"
        "QStatusBar {background-color:transparent; color:white;font-weight: bold;}"
        "QStatusBar::item {border:none;}"
        "QLabel {font-size:13px; color: white;}"
        "QCheckBox {font-size:13px;color: white;}"
        "QToolBar {border:none;}"
        "QGroupBoxZZ {color:white;}"
        "QGroupBox {background-color: #0E2B47;border:1px solid #34383A;}"
        "QPushButton:checked{ background: red;  color:white;}"
        "QComboBox {background:#262626;color: #EA700C; selection-background-color:#262626; selection-color: #EA700C; } "
        "QSpinBox {background:#262626;color:#EA700C; border:none; selection-background-color:#262626; selection-color: #EA700C; }"
        "QDoubleSpinBox {background:#262626;color:#EA700C; border:none; selection-background-color:#262626; selection-color: #EA700C; }"
        "QLineEdit {font-size:14px; background: black; border:none; color: #EA700C;}"
        "WCapture {background-color: #050F15;}"
        "ZoomQRW {background-color: #0E2B47;}"
        "MainQuiz, QuizEditor{background-color: #050F15;}"
        "#scrollAreaQuize QWidget, #scrollAreaQuizeEd QWidget{background-color: #0E2B47;}"
        "#scrollAreaQuize QWidget QPushButton{background-color: white;}"
        // A control the session holds fixed must look so, and a spin box must show its buttons:
        // the rules above leave both to a style that draws neither.
        "QComboBox:disabled, QSpinBox:disabled, QDoubleSpinBox:disabled, QLineEdit:disabled {background:#1B1B1B; color:#6E6E6E;}"
        "QCheckBox:disabled {color:#6E6E6E;}"
        "QSpinBox::up-button, QSpinBox::down-button, QDoubleSpinBox::up-button, QDoubleSpinBox::down-button {subcontrol-origin:border; width:16px; border:none; background:#333333;}"
        "QSpinBox::up-button, QDoubleSpinBox::up-button {subcontrol-position:top right;}"
        "QSpinBox::down-button, QDoubleSpinBox::down-button {subcontrol-position:bottom right;}"
        "QSpinBox::up-arrow, QDoubleSpinBox::up-arrow {image:url(:SPIN_UP); width:8px; height:8px;}"
        "QSpinBox::down-arrow, QDoubleSpinBox::down-arrow {image:url(:SPIN_DOWN); width:8px; height:8px;}"
        "QSpinBox::up-arrow:disabled, QSpinBox::up-arrow:off, QDoubleSpinBox::up-arrow:disabled, QDoubleSpinBox::up-arrow:off {image:url(:SPIN_UP_OFF);}"
        "QSpinBox::down-arrow:disabled, QSpinBox::down-arrow:off, QDoubleSpinBox::down-arrow:disabled, QDoubleSpinBox::down-arrow:off {image:url(:SPIN_DOWN_OFF);}");
    // clang-format on
}
