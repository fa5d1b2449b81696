// The remote book's connection: messages framed on one TCP stream. A frame
// is a u16 little-endian length L that counts its own two bytes, then L - 2
// bytes of message: type u32, payload length n u32 (both little-endian) and
// n <= 2048 payload bytes, so L = n + 10 and 10 <= L <= 2058.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/socket.h"

inline constexpr const char* DefaultRemoteHost = "127.0.0.1";
inline constexpr int DefaultRemotePort = 4463;

// How long a remote book may hold up the engine, chosen so that a dead or
// stalled server costs a game at most one short pause: connecting takes at
// most ConnectTimeoutMs per configured book over all its addresses (a server
// on the local network answers in a few milliseconds, so 2 s leaves room for
// a slow resolver or a busy host), and one book operation (a move choice
// with the getters it asks, or one stored game) at most OperationTimeoutMs
// of wall time in all, short enough to be lost even in a bullet game. A
// timeout closes the connection, and a closed connection is never tried
// again, so a dead server costs the clock this much once per run.
inline constexpr int ConnectTimeoutMs = 2000;
inline constexpr int OperationTimeoutMs = 500;

class ConnectionClient {
public:
  static constexpr int LengthBytes = 2;
  static constexpr int HeaderBytes = 8;  // type and payload length
  static constexpr int MaxPayload = 2048;
  static constexpr int MaxMessage = HeaderBytes + MaxPayload;
  static constexpr int MinFrame = LengthBytes + HeaderBytes;
  static constexpr int MaxFrame = LengthBytes + MaxMessage;
  static constexpr int BufferSize = 8192;

  ConnectionClient() = default;
  virtual ~ConnectionClient();
  ConnectionClient(const ConnectionClient&) = delete;
  ConnectionClient& operator=(const ConnectionClient&) = delete;

  // Reads "host", "host:port" or "[v6 address]:port" with blanks around it;
  // a missing part keeps its default. True when the text names no usable
  // address (an empty bracket, a port that is not a number in 1..65535);
  // host and port are then unchanged.
  bool SetAddress(const char* text);

  // 0 when connected, -1 when no host is set or no address answered.
  int Connect();
  // The same over a given list of addresses (the tests' several-address
  // host).
  int Connect(const std::vector<SocketAddress>& addresses);
  // Takes over a connected descriptor (the framing tests' socketpair).
  void Adopt(SocketHandle handle);

  // Sends one message (header and payload, size bytes) as one frame. The
  // message size, or -1: a message too long for a frame (nothing is sent,
  // the connection stays), a closed connection, a failed send or bytes
  // waiting that no request asked for (the connection is then closed, as
  // they would be taken for this request's reply).
  int SendMessage(int size, const std::uint8_t* bytes);
  // The next message into destination (MaxMessage bytes): its size, or -1.
  // A frame whose length is outside 10..2058, or whose header's payload
  // length disagrees with it, closes the connection, as does a failed or
  // late receive.
  int GetMessage(std::uint8_t* destination);

  void Close();
  bool IsConnected() const { return Connection.State == Socket::StateConnected; }

  // One book operation: every send and receive between BeginOperation and
  // EndOperation shares one deadline OperationTimeoutMs away. Nested
  // operations keep the outermost one's deadline. A send or receive outside
  // any operation gets a deadline of its own.
  void BeginOperation();
  void EndOperation();
  class Operation {
  public:
    explicit Operation(ConnectionClient& client) : Client(client) { Client.BeginOperation(); }
    ~Operation() { Client.EndOperation(); }
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

  private:
    ConnectionClient& Client;
  };

  ClientSocket Connection;
  std::string Host = DefaultRemoteHost;
  std::int32_t Port = DefaultRemotePort;

private:
  // Opens an operation for a single call made outside one.
  bool EnterCall();
  void LeaveCall(bool opened);

  // Concurrency: each connection has its own receive buffer, so that the
  // bytes of one book's server never reach another book. Books are used
  // from the front-end (main) thread only, and so is this buffer: no lock.
  // It holds the bytes received past the last delivered message, which never
  // reach a whole frame when a message is asked for (those are delivered
  // first), so a frame of at most MaxFrame bytes always finds room.
  std::uint8_t Buffer[BufferSize] = {};
  int Fill = 0;
  int OperationDepth = 0;
};
