// Where the game records' errors, warnings and dumps go. The caller names
// the sink: the console prints, an import collects or logs, a test records
// the message ids; nothing is written to standard output unasked.
#pragma once

#include <cstdio>
#include <string>

class GameBoard;

class GameSink {
public:
  virtual ~GameSink() = default;
  // Free text: Game::Print, board pictures, the record readers' own texts.
  virtual void Write(const char* text) = 0;
  // One error or warning of the PGN reader or the record readers, already
  // formatted as text (with its line end). messageId is the messages-file
  // id the text is built on (0 for a fixed text), line the input line (0
  // when there is none).
  virtual void Report(bool warning, int messageId, int line, const char* text) {
    (void)warning;
    (void)messageId;
    (void)line;
    Write(text);
  }

  // Formats like printf and hands the text to Write.
  void Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // The picture of a board, as GameBoard::Print draws it.
  void WriteBoard(const GameBoard& board);
};

// Writes to a C stream (standard output for the console).
class FileGameSink : public GameSink {
public:
  explicit FileGameSink(std::FILE* file) : File(file) {}
  void Write(const char* text) override;

private:
  std::FILE* File;
};

// Keeps the text: Game::Print into a string, tests.
class StringGameSink : public GameSink {
public:
  void Write(const char* text) override { Text += text; }
  std::string Text;
};

// Says nothing: callers that only want the results.
class SilentGameSink : public GameSink {
public:
  void Write(const char*) override {}
};
