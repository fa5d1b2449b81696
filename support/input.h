// Line input from standard input, the same on a pipe and on a terminal: a
// blocking line read, a non-blocking test for a waiting line (the search polls
// it), and a pushed-back line that a handler can leave for the main loop.
#pragma once

class Logger;

// Reads lines from a descriptor through its own buffer, so that a poll of the
// descriptor and the bytes already read agree about what is waiting.
class LineReader {
public:
  static constexpr int BufferSize = 16384;

  explicit LineReader(int descriptor) : Descriptor(descriptor) {}
  // Reads from another descriptor; whatever was buffered is dropped.
  void Attach(int descriptor);

  // Like fgets: at most size - 1 characters, the '\n' kept when the line had
  // one; the rest of a longer line comes as the next line. A '\r' before the
  // line end is dropped. False at end of input (then every time).
  bool ReadLine(char* line, int size);
  // True when ReadLine(line, size) would return at once: a whole line, or
  // size - 1 characters of a longer one, or the end of input is waiting.
  // Never blocks; a partial line is not enough.
  bool IsReady(int size);

private:
  // The length of the next line to hand out, 0 when none is complete yet.
  int ReadyLength(int limit) const;
  bool Refill(bool wait);

  int Descriptor;
  char Buffer[BufferSize] = {};
  int Begin = 0;
  int End = 0;
  bool AtEnd = false;
};

namespace Input {

// The size of a line buffer. A game holds up to 800 plies, and a GUI sends
// them all in one "position fen ... moves ..." line (about 4900 characters
// with promotions and a FEN): a shorter limit would cut such a line in two
// and lose moves, so lines hold up to 16382 characters.
inline constexpr int LineSize = 16383;

// Set by a handler that wants the same line read again: the next ReadLine
// returns it (without logging it twice) and IsAvailable answers true.
extern bool ReprocessLastLine;

// The next line of standard input with its '\n' (when it had one), or null
// at end of input. The text stays valid until the next call.
char* ReadLine();
// True when ReadLine would not wait. Never blocks.
bool IsAvailable();
// True when standard input is not a terminal (a pipe or a file).
bool IsPipe();
// The first line a GUI sends, at most size - 1 characters; the rest of a longer
// line stays for the next ReadLine. Not logged. False at end of input.
bool ReadFirstLine(char* buffer, int size);
// The log that input lines go to; null turns that off.
void SetLogger(Logger* logger);
// Reads from descriptor instead of standard input (buffered input is dropped).
void Attach(int descriptor);

}  // namespace Input
