#pragma once

#include <QDialog>

#include <memory>

class QLineEdit;
class QSettings;

namespace Ui {
class CustomClouds;
}

// Edits the presenter's three own cloud servers, kept as "SERVER_1" to "SERVER_3".
class CustomClouds : public QDialog
{
    Q_OBJECT
public:
    // `settings` is not owned and must outlive the dialog.
    explicit CustomClouds(QSettings *settings, QWidget *parent = nullptr);
    ~CustomClouds() override;

    static constexpr const char *kHelpUrl = "https://lumacast.quillfen.com/help/custom-server";

    // Runs the dialog modally on the stored servers; OK stores the three fields as typed (also
    // when empty), Cancel stores nothing. Returns the dialog result (QDialog::Accepted for OK).
    int editServers();

    QLineEdit *serverEdit(int index) const;

private:
    std::unique_ptr<Ui::CustomClouds> ui;
    QSettings *m_settings;
};
