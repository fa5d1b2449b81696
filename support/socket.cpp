// TCP sockets on POSIX. Descriptors stay non-blocking from their creation
// on, and every wait goes through poll with the caller's deadline.
#include "support/socket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

namespace {

bool MakeNonBlocking(int descriptor) {
  const int flags = fcntl(descriptor, F_GETFL, 0);
  return flags == -1 || fcntl(descriptor, F_SETFL, flags | O_NONBLOCK) == -1;
}

// Milliseconds left until deadline for poll: -1 without a bound, 0 when the
// deadline has passed, rounded up so that a wait never ends a little early.
int MillisecondsUntil(Socket::WaitClock::time_point deadline) {
  if (deadline == Socket::WaitClock::time_point::max()) return -1;
  const auto left = deadline - Socket::WaitClock::now();
  if (left <= Socket::WaitClock::duration::zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return static_cast<int>(std::min<long long>(ms, 1 << 30));
}

std::string NumericHost(const SocketAddress& address) {
  char text[NI_MAXHOST] = {};
  if (getnameinfo(reinterpret_cast<const sockaddr*>(address.Bytes.data()), static_cast<socklen_t>(address.Bytes.size()),
                  text, sizeof text, nullptr, 0, NI_NUMERICHOST) != 0)
    return std::string();
  return text;
}

}  // namespace

bool ResolveAddresses(const char* host, int port, std::vector<SocketAddress>& addresses) {
  addresses.clear();
  if (!host || port < 1 || port > 65535) return true;
  const std::string service = std::to_string(port);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* list = nullptr;
  if (getaddrinfo(host, service.c_str(), &hints, &list) != 0) return true;
  for (const addrinfo* entry = list; entry; entry = entry->ai_next) {
    SocketAddress address;
    address.Family = entry->ai_family;
    address.Type = entry->ai_socktype;
    address.Protocol = entry->ai_protocol;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(entry->ai_addr);
    address.Bytes.assign(bytes, bytes + entry->ai_addrlen);
    addresses.push_back(std::move(address));
  }
  freeaddrinfo(list);
  return addresses.empty();
}

// ------------------------------------------------------------------ Socket

Socket::~Socket() { Close(); }

bool Socket::Initialise() { return false; }

void Socket::Adopt(SocketHandle handle) {
  Close();
  if (handle == NoSocket) return;
  Handle = handle;
  State = StateConnected;
  MakeNonBlocking(handle);
}

bool Socket::WaitFor(short events) {
  for (;;) {
    const int ms = MillisecondsUntil(Deadline);
    if (ms == 0) {
      LastError = ETIMEDOUT;
      return true;
    }
    pollfd entry{Handle, events, 0};
    const int ready = poll(&entry, 1, ms);
    if (ready > 0) return false;
    if (ready == 0) continue;  // the deadline decides, on the next turn
    if (errno == EINTR) continue;
    LastError = errno;
    return true;
  }
}

int Socket::Receive(void* buffer, int size) {
  if (Handle == NoSocket || size <= 0) return -1;
  for (;;) {
    const ssize_t got = recv(Handle, buffer, static_cast<std::size_t>(size), 0);
    if (got > 0) return static_cast<int>(got);
    if (got == 0) {
      LastError = 0;
      Close();
      return 0;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (!WaitFor(POLLIN)) continue;
    } else {
      LastError = errno;
    }
    Close();
    return -1;
  }
}

int Socket::Send(const void* buffer, int size) {
  if (Handle == NoSocket || size < 0) return -1;
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  int sent = 0;
  while (sent < size) {
    // A peer that has gone answers with an error, never with SIGPIPE.
    const ssize_t done = send(Handle, bytes + sent, static_cast<std::size_t>(size - sent), MSG_NOSIGNAL);
    if (done > 0) {
      sent += static_cast<int>(done);
      continue;
    }
    if (done < 0 && errno == EINTR) continue;
    if (done < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!WaitFor(POLLOUT)) continue;
    } else {
      LastError = done < 0 ? errno : EPIPE;
    }
    Close();
    return -1;
  }
  return size;
}

bool Socket::HasPendingInput() const {
  if (Handle == NoSocket) return false;
  pollfd entry{Handle, POLLIN, 0};
  int ready;
  do ready = poll(&entry, 1, 0);
  while (ready < 0 && errno == EINTR);
  return ready != 0;
}

void Socket::Close() {
  if (Handle == NoSocket) return;
  // No retry on EINTR: Linux has released the descriptor either way, and a
  // second close could hit one that another thread has just been given.
  close(Handle);
  Handle = NoSocket;
  State = StateNone;
  Description.clear();
}

// ------------------------------------------------------------ ClientSocket

ClientSocket::~ClientSocket() {
  if (State != StateNone) Close();
}

bool ClientSocket::Connect(const char* host, int port, int timeoutMs) {
  std::vector<SocketAddress> addresses;
  if (ResolveAddresses(host, port, addresses)) return true;
  return Connect(addresses, timeoutMs);
}

bool ClientSocket::Connect(const std::vector<SocketAddress>& addresses, int timeoutMs) {
  if (State != StateNone) Close();
  const WaitClock::time_point savedDeadline = Deadline;
  Deadline = WaitClock::now() + std::chrono::milliseconds(timeoutMs);
  for (const SocketAddress& address : addresses) {
    // An address whose family this machine lacks (IPv6 here, say) only
    // means that the next one must be tried.
    const int descriptor = socket(address.Family, address.Type | SOCK_CLOEXEC, address.Protocol);
    if (descriptor == -1) {
      LastError = errno;
      continue;
    }
    Handle = descriptor;
    State = StateCreated;
    bool connected = false;
    if (!MakeNonBlocking(descriptor)) {
      const auto* target = reinterpret_cast<const sockaddr*>(address.Bytes.data());
      if (connect(descriptor, target, static_cast<socklen_t>(address.Bytes.size())) == 0) {
        connected = true;
      } else if (errno == EINPROGRESS || errno == EINTR) {
        // The attempt goes on without us; its outcome is the socket's error.
        int error = 0;
        socklen_t length = sizeof error;
        if (!WaitFor(POLLOUT) && getsockopt(descriptor, SOL_SOCKET, SO_ERROR, &error, &length) == 0) {
          connected = error == 0;
          if (error) LastError = error;
        }
      } else {
        LastError = errno;
      }
    } else {
      LastError = errno;
    }
    if (connected) {
      // Each frame goes out in one write already; without delay the last
      // small frame of a request never waits for an acknowledgement either.
      const int on = 1;
      setsockopt(descriptor, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      State = StateConnected;
      Description = NumericHost(address);
      Deadline = savedDeadline;
      return false;
    }
    Socket::Close();
    if (MillisecondsUntil(Deadline) == 0) break;
  }
  Deadline = savedDeadline;
  return true;
}

void ClientSocket::Close() {
  if (State == StateConnected) shutdown(Handle, SHUT_WR);
  Socket::Close();
}
