// Standard input read with read(2) into our own buffer: stdio buffering would
// hide bytes from the poll that tells the search whether a line is waiting.
#include "support/input.h"

#include <cstring>

#include "support/logger.h"
#include "support/platform.h"

void LineReader::Attach(int descriptor) {
  Descriptor = descriptor;
  Begin = End = 0;
  AtEnd = false;
}

int LineReader::ReadyLength(int limit) const {
  int pending = End - Begin;
  int scan = pending < limit ? pending : limit;
  const void* newline = std::memchr(Buffer + Begin, '\n', static_cast<std::size_t>(scan));
  if (newline) return static_cast<int>(static_cast<const char*>(newline) - (Buffer + Begin)) + 1;
  if (pending >= limit) return limit;
  if (AtEnd) return pending;
  return 0;
}

bool LineReader::Refill(bool wait) {
  if (AtEnd) return false;
  if (!wait && !IsReadable(Descriptor)) return false;
  if (Begin > 0) {
    std::memmove(Buffer, Buffer + Begin, static_cast<std::size_t>(End - Begin));
    End -= Begin;
    Begin = 0;
  }
  if (End == BufferSize) return false;
  int count = ReadSome(Descriptor, Buffer + End, BufferSize - End);
  // A read error ends the input as end of file does: nothing more will come.
  if (count <= 0) {
    AtEnd = true;
    return true;
  }
  End += count;
  return true;
}

bool LineReader::IsReady(int size) {
  int limit = size - 1 < BufferSize ? size - 1 : BufferSize;
  if (limit < 1) return false;
  for (;;) {
    if (ReadyLength(limit) > 0 || (AtEnd && Begin == End)) return true;
    if (!Refill(false)) return false;
  }
}

bool LineReader::ReadLine(char* line, int size) {
  int limit = size - 1 < BufferSize ? size - 1 : BufferSize;
  if (limit < 1) return false;
  int length;
  while ((length = ReadyLength(limit)) == 0) {
    if (AtEnd) return false;
    Refill(true);
  }
  std::memcpy(line, Buffer + Begin, static_cast<std::size_t>(length));
  Begin += length;
  // CRLF from a Windows GUI: the commands must look the same as with LF.
  if (line[length - 1] == '\n') {
    if (length >= 2 && line[length - 2] == '\r') {
      line[length - 2] = '\n';
      length--;
    }
  } else if (AtEnd && Begin == End && line[length - 1] == '\r') {
    length--;
  }
  line[length] = 0;
  return true;
}

namespace {

struct StandardInputState {
  LineReader Reader{0};
  bool IsPipe = false;
  Logger* Log = nullptr;
  char LastLine[Input::LineSize + 1] = {};
  char Result[Input::LineSize + 1] = {};
};

StandardInputState& State() {
  // Made on first use, so that it is ready for other modules' static initialisers.
  static StandardInputState* state = [] {
    static StandardInputState instance;
    IgnoreBrokenPipe();
    instance.IsPipe = !IsTerminal(0);
    return &instance;
  }();
  return *state;
}

// Standard input is set up before main, as the program starts.
[[maybe_unused]] const bool ConsoleInputReady = (State(), true);

}  // namespace

namespace Input {

bool ReprocessLastLine = false;

char* ReadLine() {
  StandardInputState& state = State();
  if (!ReprocessLastLine) {
    if (!state.Reader.ReadLine(state.LastLine, LineSize)) {
      if (state.Log) {
        state.Log->Write(LogText, "<EOT>\n");
        state.Log->EndLine();
      }
      return nullptr;
    }
    if (state.Log) {
      state.Log->Write(LogInput, state.LastLine);
      state.Log->EndLine();
    }
  }
  ReprocessLastLine = false;
  std::memcpy(state.Result, state.LastLine, sizeof state.Result);
  return state.Result;
}

bool IsAvailable() {
  if (ReprocessLastLine) return true;
  return State().Reader.IsReady(LineSize);
}

bool IsPipe() { return State().IsPipe; }

bool ReadFirstLine(char* buffer, int size) { return State().Reader.ReadLine(buffer, size); }

void SetLogger(Logger* logger) { State().Log = logger; }

void Attach(int descriptor) {
  StandardInputState& state = State();
  state.Reader.Attach(descriptor);
  state.IsPipe = !IsTerminal(descriptor);
  state.LastLine[0] = 0;
  ReprocessLastLine = false;
}

}  // namespace Input
