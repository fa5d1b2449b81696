// The remote book's connection: framing, reassembly and the time bound of
// one book operation.
#include "books/remote/connection.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

constexpr const char* Blanks = " \t\r\n";

std::uint32_t ReadU32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// A port is all digits and lies in 1..65535; -1 otherwise.
int ReadPort(const std::string& text) {
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return -1;
  const long port = std::strtol(text.c_str(), nullptr, 10);
  return port >= 1 && port <= 65535 ? static_cast<int>(port) : -1;
}

}  // namespace

ConnectionClient::~ConnectionClient() {
  if (Connection.State != Socket::StateNone) Close();
}

bool ConnectionClient::SetAddress(const char* text) {
  if (!text) return true;
  std::string address = text;
  const std::size_t begin = address.find_first_not_of(Blanks);
  if (begin == std::string::npos) return false;  // nothing named: the defaults stay
  address = address.substr(begin);
  // The host ends at the first blank, as a configuration row's name does.
  address = address.substr(0, address.find_first_of(Blanks));

  std::string host, port;
  if (address[0] == '[') {
    // "[v6]" or "[v6]:port": the colons of the address are not the port's.
    const std::size_t close = address.find(']');
    if (close == std::string::npos || close == 1) return true;
    host = address.substr(1, close - 1);
    const std::string rest = address.substr(close + 1);
    if (!rest.empty()) {
      if (rest[0] != ':') return true;
      port = rest.substr(1);
      if (port.empty()) return true;
    }
  } else {
    const std::size_t colon = address.find(':');
    host = address.substr(0, colon);
    if (colon != std::string::npos) {
      port = address.substr(colon + 1);
      if (port.empty()) return true;
    }
  }
  int number = Port;
  if (!port.empty() && (number = ReadPort(port)) < 0) return true;
  if (!host.empty()) Host = host;
  Port = number;
  return false;
}

int ConnectionClient::Connect() {
  if (Host.empty()) return -1;
  Fill = 0;
  return Connection.Connect(Host.c_str(), Port, ConnectTimeoutMs) ? -1 : 0;
}

int ConnectionClient::Connect(const std::vector<SocketAddress>& addresses) {
  Fill = 0;
  return Connection.Connect(addresses, ConnectTimeoutMs) ? -1 : 0;
}

void ConnectionClient::Adopt(SocketHandle handle) {
  Fill = 0;
  Connection.Adopt(handle);
}

void ConnectionClient::Close() {
  if (Connection.State != Socket::StateNone) Connection.Close();
  Fill = 0;
}

void ConnectionClient::BeginOperation() {
  if (OperationDepth++ == 0)
    Connection.SetDeadline(Socket::WaitClock::now() + std::chrono::milliseconds(OperationTimeoutMs));
}

void ConnectionClient::EndOperation() {
  if (OperationDepth > 0 && --OperationDepth == 0) Connection.ClearDeadline();
}

bool ConnectionClient::EnterCall() {
  if (OperationDepth > 0) return false;
  BeginOperation();
  return true;
}

void ConnectionClient::LeaveCall(bool opened) {
  if (opened) EndOperation();
}

int ConnectionClient::SendMessage(int size, const std::uint8_t* bytes) {
  if (size < HeaderBytes || size > MaxMessage || !bytes) return -1;
  if (!IsConnected()) return -1;
  // Whatever is waiting now answers no request of ours: a late reply to one
  // that timed out, or a message the server sent unasked. Read as the reply
  // to this request it would pair every later request with the wrong answer.
  if (Fill > 0 || Connection.HasPendingInput()) {
    Close();
    return -1;
  }
  std::uint8_t frame[MaxFrame];
  const int length = size + LengthBytes;
  frame[0] = static_cast<std::uint8_t>(length & 0xFF);
  frame[1] = static_cast<std::uint8_t>(length >> 8);
  std::memcpy(frame + LengthBytes, bytes, static_cast<std::size_t>(size));
  const bool opened = EnterCall();
  const int sent = Connection.Send(frame, length);
  LeaveCall(opened);
  if (sent != length) {
    Close();
    return -1;
  }
  return size;
}

int ConnectionClient::GetMessage(std::uint8_t* destination) {
  if (!destination) return -1;
  const bool opened = EnterCall();
  int result = -1;
  for (;;) {
    if (Fill >= LengthBytes) {
      const int length = Buffer[0] | Buffer[1] << 8;
      if (length < MinFrame || length > MaxFrame) {
        Close();
        break;
      }
      if (Fill >= MinFrame && ReadU32(Buffer + LengthBytes + 4) != static_cast<std::uint32_t>(length - MinFrame)) {
        Close();
        break;
      }
      if (Fill >= length) {
        result = length - LengthBytes;
        std::memcpy(destination, Buffer + LengthBytes, static_cast<std::size_t>(result));
        std::memmove(Buffer, Buffer + length, static_cast<std::size_t>(Fill - length));
        Fill -= length;
        break;
      }
    }
    if (!IsConnected()) break;
    const int got = Connection.Receive(Buffer + Fill, BufferSize - Fill);
    if (got < 1) {
      Close();
      break;
    }
    Fill += got;
  }
  LeaveCall(opened);
  return result;
}
