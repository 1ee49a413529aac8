#pragma once

#include "relay/WSServer.h"

// The ports a session listens on. The studio's own defaults suit the presenter; a test or a
// second studio on the same machine gives its own so that nothing depends on a fixed port
// being free.
struct SessionPorts
{
    // The viewer HTTP port offered first; the relay takes the next one. 0: the presenter's
    // saved choice, 8080 before there is one.
    int http = 0;
    // The local port the encoder writers send to; 0: one the system picks at each Start.
    quint16 ingest = WSServer::kIngestPort;

    static constexpr int kDefaultHttp = 8080;
};
