#pragma once

#include "audience/VoteState.h"
#include "support/QuestionStoreDir.h"
#include "support/WebDirFixture.h"
#include "web/DBStorage.h"

#include <QTest>

// What both HTTP servers are built on: a questions store in its own temporary directory, a web
// directory with a few files, and a vote. Members are destroyed in reverse order.
struct ServerDependencies
{
    QuestionStoreDir storeDir;
    WebDirFixture web;
    DBStorage storage;
    VoteState vote;

    bool waitForStore()
    {
        return QTest::qWaitFor([this] { return storage.isOpen(); });
    }
};
