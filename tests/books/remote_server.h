// A scripted remote book server for the tests: it listens on 127.0.0.1 only,
// on a port the system picks, serves a bounded number of connections one
// after the other, answers each request frame with what the test's handler
// scripts (bytes, pauses, a close) and stops by itself after a minute, so
// that no test can hang on it. It speaks the frame with raw POSIX calls of
// its own: it checks the client, so it shares no code with it.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace remotetest {

using Bytes = std::vector<std::uint8_t>;

inline void PutU32(Bytes& bytes, std::uint32_t value) {
  for (int i = 0; i < 4; i++) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// One frame: the length L = payload + 10, then type, payload length, payload.
inline Bytes Frame(std::uint32_t type, const Bytes& payload) {
  Bytes bytes;
  const std::size_t length = payload.size() + 10;
  bytes.push_back(static_cast<std::uint8_t>(length & 0xFF));
  bytes.push_back(static_cast<std::uint8_t>(length >> 8));
  PutU32(bytes, type);
  PutU32(bytes, static_cast<std::uint32_t>(payload.size()));
  bytes.insert(bytes.end(), payload.begin(), payload.end());
  return bytes;
}

inline Bytes TextFrame(const std::string& text, std::uint32_t type = 0) {
  return Frame(type, Bytes(text.begin(), text.end()));
}

inline Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// A 46-byte entry image.
struct Image {
  std::uint8_t From = 12, To = 28, Promotion = 0;
  std::int8_t Manual = 0;
  std::int32_t Counters[6] = {};  // database wins, draws, losses, own wins, draws, losses
  std::int32_t Score = 0, Score2 = 0;
  std::int32_t DBGames = 0, OwnGames = 0;
  std::uint8_t Depth = 0, Depth2 = 0;

  Bytes Encode() const {
    Bytes bytes = {From, To, Promotion, static_cast<std::uint8_t>(Manual)};
    for (std::int32_t counter : Counters) PutU32(bytes, static_cast<std::uint32_t>(counter));
    PutU32(bytes, static_cast<std::uint32_t>(Score));
    PutU32(bytes, static_cast<std::uint32_t>(Score2));
    PutU32(bytes, static_cast<std::uint32_t>(DBGames));
    PutU32(bytes, static_cast<std::uint32_t>(OwnGames));
    bytes.push_back(Depth);
    bytes.push_back(Depth2);
    return bytes;
  }
};

struct Request {
  std::uint32_t Type = 0;
  Bytes Payload;
  std::string Text() const {  // a FEN payload, up to its zero
    return std::string(Payload.begin(), std::find(Payload.begin(), Payload.end(), 0));
  }
};

// What the server does in answer: write bytes after a pause, or close.
struct Step {
  Bytes Write;
  int PauseMs = 0;
  bool CloseAfter = false;
};
using Script = std::vector<Step>;

inline Script Reply(Bytes bytes) { return {Step{std::move(bytes), 0, false}}; }

class Server {
public:
  using Handler = std::function<Script(const Request&)>;

  // onAccept runs for every new connection before any request is read (a
  // message sent unasked, a silent server that never reads).
  explicit Server(Handler handler, int maxConnections = 4, Handler onAccept = nullptr)
      : HandleRequest(std::move(handler)), OnAccept(std::move(onAccept)), MaxConnections(maxConnections) {
    Listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (Listener < 0 || bind(Listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(Listener, 8) != 0 || getsockname(Listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      if (Listener >= 0) close(Listener);
      Listener = -1;
      return;
    }
    ListeningPort = ntohs(address.sin_port);
    Worker = std::thread([this] { Run(); });
  }
  ~Server() {
    Stop = true;
    if (Worker.joinable()) Worker.join();
    if (Listener >= 0) close(Listener);
  }
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  bool Ready() const { return Listener >= 0; }
  int Port() const { return ListeningPort; }
  std::string Address() const { return "127.0.0.1:" + std::to_string(ListeningPort); }
  std::vector<Request> Requests() {
    std::lock_guard<std::mutex> lock(Lock);
    return Received;
  }
  int Accepted() const { return AcceptedCount.load(); }
  // True once the client's end of the last connection was seen closed.
  bool PeerClosed() const { return ClientClosed.load(); }

private:
  static constexpr auto Lifetime = std::chrono::seconds(60);

  void Run() {
    const auto end = std::chrono::steady_clock::now() + Lifetime;
    while (!Stop && std::chrono::steady_clock::now() < end && AcceptedCount < MaxConnections) {
      pollfd entry{Listener, POLLIN, 0};
      if (poll(&entry, 1, 50) <= 0) continue;
      const int client = accept(Listener, nullptr, nullptr);
      if (client < 0) continue;
      AcceptedCount++;
      ClientClosed = false;
      Serve(client, end);
      close(client);
    }
  }

  bool Perform(int client, const Script& script) {
    for (const Step& step : script) {
      if (step.PauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(step.PauseMs));
      std::size_t sent = 0;
      while (sent < step.Write.size()) {
        const ssize_t done = send(client, step.Write.data() + sent, step.Write.size() - sent, MSG_NOSIGNAL);
        if (done <= 0) return false;
        sent += static_cast<std::size_t>(done);
      }
      if (step.CloseAfter) return false;
    }
    return true;
  }

  void Serve(int client, std::chrono::steady_clock::time_point end) {
    if (OnAccept && !Perform(client, OnAccept(Request{}))) return;
    Bytes pending;
    while (!Stop && std::chrono::steady_clock::now() < end) {
      pollfd entry{client, POLLIN, 0};
      if (poll(&entry, 1, 50) <= 0) continue;
      std::uint8_t chunk[4096];
      const ssize_t got = recv(client, chunk, sizeof chunk, 0);
      if (got <= 0) {
        ClientClosed = true;
        return;
      }
      pending.insert(pending.end(), chunk, chunk + got);
      while (pending.size() >= 10) {
        const std::size_t length = pending[0] | pending[1] << 8;
        if (length < 10 || pending.size() < length) break;
        Request request;
        request.Type = pending[2] | pending[3] << 8 | pending[4] << 16 | static_cast<std::uint32_t>(pending[5]) << 24;
        request.Payload.assign(pending.begin() + 10, pending.begin() + static_cast<std::ptrdiff_t>(length));
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(length));
        {
          std::lock_guard<std::mutex> lock(Lock);
          Received.push_back(request);
        }
        if (!Perform(client, HandleRequest(request))) return;
      }
    }
  }

  Handler HandleRequest;
  Handler OnAccept;
  int MaxConnections;
  int Listener = -1;
  int ListeningPort = 0;
  std::atomic<bool> Stop{false};
  std::atomic<int> AcceptedCount{0};
  std::atomic<bool> ClientClosed{false};
  std::mutex Lock;
  std::vector<Request> Received;
  std::thread Worker;
};

// A port on 127.0.0.1 with nothing listening: bound, then given up.
inline int ClosedPort() {
  const int probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (probe >= 0 && bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  if (probe >= 0) close(probe);
  return port;
}

}  // namespace remotetest
