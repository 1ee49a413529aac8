#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>

// Every socket of the benchmark stays on 127.0.0.1.
struct LoopbackAddress
{
    explicit LoopbackAddress(int port)
    {
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    }
    sockaddr *get() { return reinterpret_cast<sockaddr *>(&address); }

    sockaddr_in address{};
    socklen_t size = sizeof address;
};
