#include "app/AppStyle.h"

QString globalStyleSheet()
{
    // One line on purpose: this exact text is what every window has always been styled with.
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
        "#scrollAreaQuize QWidget QPushButton{background-color: white;}");
    // clang-format on
}
