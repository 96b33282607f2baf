#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>

namespace orbisan {

constexpr int kInvalidSocket = -1;

// Socket option helpers; each returns false when the option is refused.
bool SetReceiveTimeoutMs(int fd, uint32_t ms);
bool SetSendTimeoutMs(int fd, uint32_t ms);
bool SetReceiveBufferSize(int fd, uint32_t bytes);
// The receive buffer the system granted, in the units it was asked in (the
// kernel reports twice the request for its bookkeeping); 0 when unknown.
uint32_t GetReceiveBufferSize(int fd);
bool SetNonBlocking(int fd, bool nonBlocking);

// Dotted IPv4 text to an address (network order); false for anything else.
bool ParseIPv4(const std::string& text, in_addr& out);
// Name or dotted address to the first IPv4 address of its resolution.
bool ResolveIPv4(const std::string& host, in_addr& out);

// Connects without ever blocking longer than timeoutMs: the socket is made
// non-blocking and writability is awaited in rounds of 100 ms (timeoutMs /
// 100 rounds). Below 100 ms there is no round at all and the connect fails.
// The socket is left blocking again on success; on failure errno says why
// (ECONNREFUSED, ETIMEDOUT ...). ResolveIPv4 leaves EADDRNOTAVAIL.
bool ConnectWithTimeout(int fd, const sockaddr_in& address, uint32_t timeoutMs);

// Result of waiting for a socket to become readable.
enum class ReadinessResult {
  kReadable,
  kTimeout,
  kClosed,         // bad address, network down, socket gone: the owner is told the client closed
  kInvalid,        // invalid argument: the wait ends quietly
  kTransientError  // anything else: wait again
};
ReadinessResult WaitReadable(int fd, uint32_t timeoutMs);

void CloseSocket(int& fd);

// "a.b.c.d:port" of an IPv4 socket address (for logs and tests).
std::string AddressToString(const sockaddr_in& address);

}  // namespace orbisan
