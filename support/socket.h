// TCP sockets on POSIX, for the remote book: the only file with socket
// calls. A Socket owns one descriptor; a ClientSocket connects one to a host.
// Every wait is bounded by a deadline the caller sets, so a silent peer
// costs the caller a known time and never a hang.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

using SocketHandle = int;
inline constexpr SocketHandle NoSocket = -1;

// One address to connect to, as the resolver gives it: family, type,
// protocol and the raw socket address.
struct SocketAddress {
  int Family = 0;
  int Type = 0;
  int Protocol = 0;
  std::vector<std::uint8_t> Bytes;
};

// The addresses of host and port, in the resolver's order (any family,
// stream sockets, TCP). True on failure.
bool ResolveAddresses(const char* host, int port, std::vector<SocketAddress>& addresses);

class Socket {
public:
  using WaitClock = std::chrono::steady_clock;
  enum SocketState : int { StateNone = 0, StateCreated = 1, StateConnected = 2 };

  Socket() = default;
  virtual ~Socket();
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  // Starts the network layer once per process; POSIX needs nothing started.
  // False on success.
  static bool Initialise();

  // Takes over a connected descriptor (one end of a socketpair, for
  // instance); a socket held before is closed first.
  void Adopt(SocketHandle handle);

  // Reads what has arrived, waiting until the deadline for the first byte.
  // The byte count; 0 when the peer has closed, -1 on an error or when the
  // deadline passes. Below 1 the socket is closed.
  int Receive(void* buffer, int size);
  // Sends all size bytes, waiting until the deadline for room: a short
  // send is no success. size, or -1 (the socket is then closed).
  int Send(const void* buffer, int size);
  // True when a read would not wait: bytes, the peer's close or an error.
  bool HasPendingInput() const;
  // Gives the descriptor back; the handle is "none" afterwards, so that no
  // later call touches a descriptor the system has handed to someone else.
  void Close();

  // Receive and Send wait at most until then; the far future means no bound.
  void SetDeadline(WaitClock::time_point deadline) { Deadline = deadline; }
  void ClearDeadline() { Deadline = WaitClock::time_point::max(); }

  SocketHandle Handle = NoSocket;
  std::int32_t State = StateNone;
  std::string Description;  // the peer's numeric address, once connected
  int LastError = 0;        // errno of the last failure

protected:
  // Waits for events (POLLIN or POLLOUT) until the deadline; false when the
  // descriptor is ready, true when the time is up or polling failed.
  bool WaitFor(short events);

  WaitClock::time_point Deadline = WaitClock::time_point::max();
};

class ClientSocket : public Socket {
public:
  ~ClientSocket() override;
  // Connects to host and port, trying every address in turn within
  // timeoutMs in all. True on failure.
  bool Connect(const char* host, int port, int timeoutMs);
  // The same over a given list of addresses.
  bool Connect(const std::vector<SocketAddress>& addresses, int timeoutMs);
  // Ends our sending first, so that the peer reads the end of the stream,
  // then closes.
  void Close();
};
