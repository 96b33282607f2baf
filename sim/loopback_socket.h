#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace strandline::sim {

// The simulated camera's sockets live on 127.0.0.1 only.
sockaddr_in LoopbackAddress(uint16_t port);
// The local port a socket is bound to.
uint16_t BoundPort(int fd);
// A UDP socket bound to the port (0: any free one); -1 when it cannot be.
int BindLoopbackUdp(uint16_t port);
// An even port and the one after it, for RTP and RTCP; false when none is free.
bool BindLoopbackUdpPair(int* rtp, int* rtcp, uint16_t* port);
// A listening TCP socket on the port (0: any free one), or -1 with the reason in error.
int ListenLoopback(uint16_t port, int backlog, std::string* error);
// Writes all of data to a stream socket; false once the peer is gone.
bool SendAll(int fd, std::string_view data);

}  // namespace strandline::sim
