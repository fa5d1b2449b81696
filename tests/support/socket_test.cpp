// The socket layer: whole sends, a peer's close and silence seen as failures
// that leave no descriptor behind, no SIGPIPE, and connecting through every
// address of a host in turn.
#include "support/socket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// A listening socket on 127.0.0.1 (port picked by the system), or a port
// that was bound and given up, so that nothing listens there.
struct Listener {
  explicit Listener(bool listening = true) {
    Handle = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (Handle >= 0 && bind(Handle, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(Handle, reinterpret_cast<sockaddr*>(&address), &length) == 0)
      Port = ntohs(address.sin_port);
    if (listening && Port) listen(Handle, 4);
    if (!listening && Handle >= 0) {
      close(Handle);
      Handle = -1;
    }
  }
  ~Listener() {
    if (Handle >= 0) close(Handle);
  }
  int Handle = -1;
  int Port = 0;
};

struct Pair {
  Pair() { Ok = socketpair(AF_UNIX, SOCK_STREAM, 0, Ends) == 0; }
  ~Pair() {
    if (Ends[1] >= 0) close(Ends[1]);
  }
  void ClosePeer() {
    close(Ends[1]);
    Ends[1] = -1;
  }
  bool Ok = false;
  int Ends[2] = {-1, -1};
};

TEST(SocketTest, SendsWholeBuffersAndReceivesThem) {
  Pair pair;
  ASSERT_TRUE(pair.Ok);
  Socket socket;
  socket.Adopt(pair.Ends[0]);
  socket.SetDeadline(Socket::WaitClock::now() + 30s);
  // More than a socket buffer holds: the send must wait for room and go on
  // until every byte is out, while the peer reads.
  const std::vector<char> data(1 << 20, 'x');
  std::size_t received = 0;
  std::thread reader([&] {
    char chunk[65536];
    for (ssize_t got; received < data.size() && (got = read(pair.Ends[1], chunk, sizeof chunk)) > 0;)
      received += static_cast<std::size_t>(got);
  });
  EXPECT_EQ(socket.Send(data.data(), static_cast<int>(data.size())), static_cast<int>(data.size()));
  reader.join();
  EXPECT_EQ(received, data.size());

  ASSERT_EQ(write(pair.Ends[1], "abc", 3), 3);
  char buffer[8];
  EXPECT_TRUE(socket.HasPendingInput());
  EXPECT_EQ(socket.Receive(buffer, sizeof buffer), 3);
  EXPECT_EQ(std::string(buffer, 3), "abc");
  EXPECT_FALSE(socket.HasPendingInput());
  EXPECT_EQ(socket.State, Socket::StateConnected);
}

// Each way of losing the peer closes the socket: the handle becomes "none",
// so a later call fails at once and never reaches a reused descriptor.
TEST(SocketTest, LostPeersCloseTheSocket) {
  struct Case {
    const char* What;
    bool ClosePeer;
    bool Sending;
    int Expected;
  };
  const Case cases[] = {
      {"peer closed, receive", true, false, 0},
      {"peer closed, send (no SIGPIPE)", true, true, -1},
      {"peer silent past the deadline, receive", false, false, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    Pair pair;
    ASSERT_TRUE(pair.Ok);
    Socket socket;
    socket.Adopt(pair.Ends[0]);
    if (c.ClosePeer) pair.ClosePeer();
    socket.SetDeadline(Socket::WaitClock::now() + 200ms);
    char buffer[64] = {};
    int result = 0;
    if (c.Sending) {
      // The first send may still land in the socket buffer; the next fails.
      for (int i = 0; i < 100 && result >= 0; i++) result = socket.Send(buffer, sizeof buffer);
    } else {
      result = socket.Receive(buffer, sizeof buffer);
    }
    EXPECT_EQ(result, c.Expected);
    EXPECT_EQ(socket.Handle, NoSocket);
    EXPECT_EQ(socket.State, Socket::StateNone);
    EXPECT_EQ(socket.Send(buffer, 1), -1);
    EXPECT_EQ(socket.Receive(buffer, 1), -1);
  }
}

TEST(SocketTest, ConnectsToAListeningPortAndFailsOnAClosedOne) {
  Listener server;
  ASSERT_NE(server.Port, 0);
  ClientSocket client;
  ASSERT_FALSE(client.Connect("127.0.0.1", server.Port, 5000));
  EXPECT_EQ(client.State, Socket::StateConnected);
  EXPECT_EQ(client.Description, "127.0.0.1");
  client.Close();
  EXPECT_EQ(client.Handle, NoSocket);

  Listener nobody(false);
  ASSERT_NE(nobody.Port, 0);
  EXPECT_TRUE(client.Connect("127.0.0.1", nobody.Port, 5000));
  EXPECT_EQ(client.Handle, NoSocket);
  EXPECT_EQ(client.State, Socket::StateNone);

  for (int port : {0, -1, 65536}) EXPECT_TRUE(client.Connect("127.0.0.1", port, 5000)) << port;
  EXPECT_TRUE(client.Connect("no-such-host.invalid", server.Port, 5000));
  EXPECT_EQ(client.Handle, NoSocket);
}

// A host with several addresses: one whose family cannot make a socket and
// one that refuses are passed over for the one that answers.
TEST(SocketTest, EveryAddressIsTriedInTurn) {
  Listener server, nobody(false);
  ASSERT_NE(server.Port, 0);
  ASSERT_NE(nobody.Port, 0);
  std::vector<SocketAddress> refusing, answering;
  ASSERT_FALSE(ResolveAddresses("127.0.0.1", nobody.Port, refusing));
  ASSERT_FALSE(ResolveAddresses("127.0.0.1", server.Port, answering));
  SocketAddress noFamily = answering.front();
  noFamily.Family = -1;
  std::vector<SocketAddress> addresses = {noFamily, refusing.front(), answering.front()};
  ClientSocket client;
  EXPECT_FALSE(client.Connect(addresses, 5000));
  EXPECT_EQ(client.State, Socket::StateConnected);
  // The listener took the third address's connection.
  sockaddr_in peer{};
  socklen_t length = sizeof peer;
  const int accepted = accept(server.Handle, reinterpret_cast<sockaddr*>(&peer), &length);
  EXPECT_GE(accepted, 0);
  if (accepted >= 0) close(accepted);

  EXPECT_TRUE(client.Connect(std::vector<SocketAddress>{noFamily, refusing.front()}, 5000));
  EXPECT_EQ(client.Handle, NoSocket);
}

}  // namespace
