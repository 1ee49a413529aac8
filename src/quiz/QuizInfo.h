#pragma once

#include <QJsonArray>
#include <QString>

// One listed quiz: the file it lives in and what that file holds.
struct QuizInfo
{
    // The file name without its last "." suffix; the key to the file.
    QString name;
    // The root "title" value; empty for an unreadable file.
    QString title;
    // The root "questions" value as read, not normalised.
    QJsonArray questions;
};
