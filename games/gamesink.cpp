// Game sinks: formatting helpers and the stream sink.
#include "games/gamesink.h"

#include <cstdarg>
#include <cstdlib>
#include <vector>

#include "games/gameboard.h"

void GameSink::Printf(const char* format, ...) {
  char small[512];
  va_list arguments;
  va_start(arguments, format);
  int length = std::vsnprintf(small, sizeof small, format, arguments);
  va_end(arguments);
  if (length < 0) return;
  if (length < static_cast<int>(sizeof small)) {
    Write(small);
    return;
  }
  std::vector<char> large(static_cast<std::size_t>(length) + 1);
  va_start(arguments, format);
  std::vsnprintf(large.data(), large.size(), format, arguments);
  va_end(arguments);
  Write(large.data());
}

void GameSink::WriteBoard(const GameBoard& board) {
  // The board draws on a C stream; a memory stream hands its picture here.
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* memory = open_memstream(&text, &size);
  if (!memory) return;
  board.Print(memory);
  std::fclose(memory);
  if (text) Write(text);
  std::free(text);
}

void FileGameSink::Write(const char* text) {
  if (File) std::fputs(text, File);
}
