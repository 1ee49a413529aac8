#pragma once

#include "audience/VoteDlg.h"
#include "support/QuestionStoreDir.h"
#include "support/WebDirFixture.h"
#include "web/DBStorage.h"

#include <QTest>
#include <QWidget>

// What both HTTP servers are built on: a questions store in its own temporary directory, a web
// directory with a few files, and a voting window. Members are destroyed in reverse order.
struct ServerDependencies
{
    QuestionStoreDir storeDir;
    WebDirFixture web;
    DBStorage storage;
    VoteDlg voteDlg;

    bool waitForStore()
    {
        return QTest::qWaitFor([this] { return storage.isOpen(); });
    }
};
