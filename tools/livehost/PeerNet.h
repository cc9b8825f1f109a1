// The platform underneath the live-host peer: a listening TCP socket, one
// client at a time, the console's typed lines and the clocks. BSD sockets
// natively, Winsock on Windows.
#pragma once

#include <cstdint>
#include <string>

namespace livehost {

using SocketId = std::intptr_t;
inline constexpr SocketId kNoSocket = -1;

bool StartNetworking(std::string& error);
SocketId Listen(const std::string& address, int port, std::string& error);
// A waiting connection, or kNoSocket; never blocks. Sets TCP_NODELAY.
SocketId Accept(SocketId listener, std::string& peer);
// Waits at most timeoutMs; bit 0: the listener is readable, bit 1: the client.
int WaitReadable(SocketId listener, SocketId client, int timeoutMs);
// Bytes read (> 0), 0 when the peer closed, -1 on an error.
long Receive(SocketId socket, char* buffer, std::size_t size);
bool SendAll(SocketId socket, const std::string& bytes);
// reset: an abortive close (the agent sees a connection reset).
void CloseSocket(SocketId socket, bool reset);

// Lines typed on standard input, read by a thread of their own.
void StartInputReader();
// A typed line if one waits; eof once input has ended.
bool NextInputLine(std::string& line, bool& eof);

std::uint64_t MonotonicMicros();
std::string LocalTimeStamp();  // "hh:mm:ss.mmm"

}  // namespace livehost
