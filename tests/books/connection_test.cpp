// The remote book's framing over a socketpair: frames delivered whole however
// they arrive, bad lengths and lost peers closing the connection, one buffer
// per connection, and the host text of a configuration row.
#include "books/remote/connection.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "books/remote_server.h"

namespace {

using remotetest::Bytes;
using remotetest::Frame;

class FramingTest : public ::testing::Test {
protected:
  void SetUp() override {
    int ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
    Client.Adopt(ends[0]);
    Peer = ends[1];
  }
  void TearDown() override { ClosePeer(); }
  void Write(const Bytes& bytes) { ASSERT_EQ(write(Peer, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size())); }
  void ClosePeer() {
    if (Peer >= 0) close(Peer);
    Peer = -1;
  }
  // The message GetMessage delivers, or an empty one on -1.
  Bytes Next() {
    std::uint8_t message[ConnectionClient::MaxMessage];
    const int size = Client.GetMessage(message);
    return size < 0 ? Bytes() : Bytes(message, message + size);
  }
  static Bytes Message(std::uint32_t type, const Bytes& payload) {
    Bytes frame = Frame(type, payload);
    return Bytes(frame.begin() + 2, frame.end());
  }

  ConnectionClient Client;
  int Peer = -1;
};

// Two frames in one write: the second is delivered from the buffer, with
// the peer already gone, so no receive was needed for it.
TEST_F(FramingTest, TwoFramesInOneWriteAreDeliveredInTurn) {
  const Bytes big(ConnectionClient::MaxPayload, 7);
  Write(remotetest::Join({Frame(0, {'o', 'k', '1'}), Frame(9, big)}));
  ClosePeer();
  EXPECT_EQ(Next(), Message(0, {'o', 'k', '1'}));
  EXPECT_EQ(Next(), Message(9, big));
  EXPECT_EQ(Next(), Bytes());
  EXPECT_FALSE(Client.IsConnected());
}

TEST_F(FramingTest, AFrameInPiecesIsDeliveredWhenWhole) {
  const Bytes frame = Frame(3, Bytes(100, 1));
  std::thread writer([&] {
    for (std::size_t at = 0; at < frame.size(); at += 37) {
      const std::size_t piece = std::min<std::size_t>(37, frame.size() - at);
      if (write(Peer, frame.data() + at, piece) != static_cast<ssize_t>(piece)) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  // A deadline far past the pauses, so that a busy machine cannot fail it.
  Client.BeginOperation();
  Client.Connection.SetDeadline(Socket::WaitClock::now() + std::chrono::seconds(30));
  EXPECT_EQ(Next(), Message(3, Bytes(100, 1)));
  Client.EndOperation();
  writer.join();
  EXPECT_TRUE(Client.IsConnected());
}

// Lengths a frame cannot have, a header that disagrees with its length and
// a peer gone mid-frame: -1, and the connection is closed.
TEST_F(FramingTest, BadFramesCloseTheConnection) {
  struct Case {
    const char* What;
    Bytes Sent;
    bool ThenClose;
  };
  Bytes wrongLength = Frame(0, {'a', 'b'});
  wrongLength[6] = 3;  // the header says 3 payload bytes, the frame holds 2
  Bytes cut = Frame(0, Bytes(50, 'z'));
  cut.resize(30);
  const std::vector<Case> cases = {
      {"L 0", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, false},
      {"L 1", {1, 0}, false},
      {"L 9", {9, 0, 0, 0, 0, 0, 0, 0, 0}, false},
      {"L 2059", {0x0B, 0x08}, false},
      {"L 65535", {0xFF, 0xFF}, false},
      {"n is not L - 10", wrongLength, false},
      {"peer closes mid-frame", cut, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    int ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
    ConnectionClient client;
    client.Adopt(ends[0]);
    ASSERT_EQ(write(ends[1], c.Sent.data(), c.Sent.size()), static_cast<ssize_t>(c.Sent.size()));
    if (c.ThenClose) close(ends[1]);
    std::uint8_t message[ConnectionClient::MaxMessage];
    EXPECT_EQ(client.GetMessage(message), -1);
    EXPECT_FALSE(client.IsConnected());
    EXPECT_EQ(client.Connection.Handle, NoSocket);
    if (!c.ThenClose) close(ends[1]);
  }
}

// A silent peer: the receive gives up at the operation's deadline.
TEST_F(FramingTest, ASilentPeerEndsTheWaitAndTheConnection) {
  EXPECT_EQ(Next(), Bytes());
  EXPECT_FALSE(Client.IsConnected());
  const Bytes request = Message(1, {1});
  EXPECT_EQ(Client.SendMessage(static_cast<int>(request.size()), request.data()), -1);
}

TEST_F(FramingTest, SendMessageWritesOneFrame) {
  const Bytes request = Message(23, {1});
  EXPECT_EQ(Client.SendMessage(static_cast<int>(request.size()), request.data()), static_cast<int>(request.size()));
  std::uint8_t got[64];
  ASSERT_EQ(read(Peer, got, sizeof got), 11);
  EXPECT_EQ(Bytes(got, got + 11), Frame(23, {1}));

  // Too long for a frame: refused, nothing sent, the connection kept.
  const Bytes tooLong(ConnectionClient::MaxMessage + 1, 0);
  EXPECT_EQ(Client.SendMessage(static_cast<int>(tooLong.size()), tooLong.data()), -1);
  EXPECT_TRUE(Client.IsConnected());
}

// Bytes no request asked for would be read as the next reply: the request
// is not sent and the connection goes.
TEST_F(FramingTest, UnaskedBytesBeforeARequestCloseTheConnection) {
  Write(Frame(0, {'x'}));
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const Bytes request = Message(1, {1});
  EXPECT_EQ(Client.SendMessage(static_cast<int>(request.size()), request.data()), -1);
  EXPECT_FALSE(Client.IsConnected());
}

// Two connections, each frame split between two writes and the writes
// interleaved: each connection delivers only its own bytes.
TEST(ConnectionTest, EachConnectionKeepsItsOwnBytes) {
  int first[2], second[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, first), 0);
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, second), 0);
  ConnectionClient a, b;
  a.Adopt(first[0]);
  b.Adopt(second[0]);
  const Bytes frameA = Frame(0, Bytes(20, 'a')), frameB = Frame(0, Bytes(20, 'b'));
  ASSERT_EQ(write(first[1], frameA.data(), 5), 5);
  ASSERT_EQ(write(second[1], frameB.data(), 5), 5);
  ASSERT_EQ(write(first[1], frameA.data() + 5, frameA.size() - 5), static_cast<ssize_t>(frameA.size() - 5));
  std::uint8_t message[ConnectionClient::MaxMessage];
  ASSERT_EQ(a.GetMessage(message), 28);
  EXPECT_EQ(Bytes(message + 8, message + 28), Bytes(20, 'a'));
  ASSERT_EQ(write(second[1], frameB.data() + 5, frameB.size() - 5), static_cast<ssize_t>(frameB.size() - 5));
  ASSERT_EQ(b.GetMessage(message), 28);
  EXPECT_EQ(Bytes(message + 8, message + 28), Bytes(20, 'b'));
  close(first[1]);
  close(second[1]);
}

TEST(ConnectionTest, AddressTexts) {
  struct Case {
    const char* Text;
    bool Refused;
    const char* Host;
    int Port;
  };
  const Case cases[] = {
      {"somehost:5000", false, "somehost", 5000},
      {"somehost", false, "somehost", 4463},
      {"  somehost:5000 \r\n", false, "somehost", 5000},
      {"somehost more:5000", false, "somehost", 4463},
      {":5000", false, "127.0.0.1", 5000},
      {"", false, "127.0.0.1", 4463},
      {"[::1]:5000", false, "::1", 5000},
      {"[::1]", false, "::1", 4463},
      {"somehost:65535", false, "somehost", 65535},
      {"somehost:0", true, "127.0.0.1", 4463},
      {"somehost:65536", true, "127.0.0.1", 4463},
      {"somehost:-1", true, "127.0.0.1", 4463},
      {"somehost:50x", true, "127.0.0.1", 4463},
      {"somehost:", true, "127.0.0.1", 4463},
      {"::1", true, "127.0.0.1", 4463},
      {"[::1", true, "127.0.0.1", 4463},
      {"[]:5000", true, "127.0.0.1", 4463},
      {"[::1]5000", true, "127.0.0.1", 4463},
  };
  for (const Case& c : cases) {
    ConnectionClient client;
    EXPECT_EQ(client.SetAddress(c.Text), c.Refused) << c.Text;
    EXPECT_EQ(client.Host, c.Host) << c.Text;
    EXPECT_EQ(client.Port, c.Port) << c.Text;
  }
}

// Connecting: a listening server, and a port where nothing listens.
TEST(ConnectionTest, ConnectsOrAnswersMinusOne) {
  remotetest::Server server([](const remotetest::Request&) { return remotetest::Script(); }, 1);
  ASSERT_TRUE(server.Ready());
  ConnectionClient client;
  ASSERT_FALSE(client.SetAddress(server.Address().c_str()));
  EXPECT_EQ(client.Connect(), 0);
  EXPECT_TRUE(client.IsConnected());
  client.Close();
  EXPECT_FALSE(client.IsConnected());

  ConnectionClient nobody;
  ASSERT_FALSE(nobody.SetAddress(("127.0.0.1:" + std::to_string(remotetest::ClosedPort())).c_str()));
  EXPECT_EQ(nobody.Connect(), -1);
  nobody.Host.clear();
  EXPECT_EQ(nobody.Connect(), -1);
}

}  // namespace
