#pragma once

#include <QString>
#include <QVector>

// One stored question as the store lists it.
struct QuestionRecord
{
    qint64 id = 0;
    QString name;
    QString question;
};

using QuestionRecords = QVector<QuestionRecord>;
