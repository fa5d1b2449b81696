// Helpers of the game-record tests: the board tables and the messages file,
// a sink that keeps message ids, PGN text as a stream, and the tree written
// out as one text so that two games compare in full.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "games/gamerecord.h"
#include "support/messages.h"

// The game board's tables and the English texts, once per test program.
inline void PrepareGameTables() {
  static bool done = false;
  if (done) return;
  done = true;
  LoadMessagesFile(QUELM_DATA_DIR "/english");
}

// Keeps every text and, for errors and warnings, the id and the line.
class RecordingGameSink : public GameSink {
public:
  struct Message {
    bool Warning;
    int Id;
    int Line;
  };
  void Write(const char* text) override { Text += text; }
  void Report(bool warning, int messageId, int line, const char* text) override {
    Messages.push_back({warning, messageId, line});
    Text += text;
  }
  int Errors() const {
    int count = 0;
    for (const Message& message : Messages) count += !message.Warning;
    return count;
  }
  std::string Text;
  std::vector<Message> Messages;
};

// A stream holding exactly these bytes (NUL bytes included), read from the start.
class PgnStream {
public:
  explicit PgnStream(const std::string& text) {
    File = std::tmpfile();
    if (!File) return;
    std::fwrite(text.data(), 1, text.size(), File);
    std::rewind(File);
    Input.Stream = File;
  }
  ~PgnStream() {
    if (File) std::fclose(File);
  }
  PgnStream(const PgnStream&) = delete;
  PgnStream& operator=(const PgnStream&) = delete;

  std::FILE* File = nullptr;
  PgnInput Input;
};

inline std::string SquareText(int square) {
  return {static_cast<char>('a' + square % 8), static_cast<char>('8' - square / 8)};
}

// Coordinate text of a stored move, castling as its corner ("h1h1").
inline std::string CornerText(const GameMove& move) {
  std::string text = SquareText(move.From) + SquareText(move.To);
  if (move.Promotion) text += GamePiece::Letters[(move.Promotion & 7) + GamePiece::Black];
  return text;
}

// A line and everything below it: moves, NAGs, comments, variations in order.
inline void AppendLine(std::string& out, const GameNode* node, bool withNotes) {
  for (; node; node = node->MainChild) {
    out += CornerText(*node->Move);
    if (withNotes && node->Nag) {
      out += '$';
      out += std::to_string(node->Nag);
    }
    if (withNotes && node->Comment) {
      out += '{';
      out += node->Comment;
      out += '}';
    }
    out += ' ';
    for (const auto* link = node->Variations.Head; link; link = link->Next) {
      out += "(";
      AppendLine(out, link->Element, withNotes);
      out += ") ";
    }
  }
}

// The whole game as one text: start, tags (in list order, or only ids 1..7
// in id order), comment and tree. withNotes false leaves comments and NAGs out.
inline std::string GameText(const Game& game, bool withNotes = true, bool mainTagsOnly = false) {
  std::ostringstream out;
  out << "start " << game.StartKind << " " << game.Chess960Number << " " << game.StartFenText << "\n";
  for (const auto* node = game.Tags.Head; node; node = node->Next) {
    int id = node->Element.Id;
    if (!mainTagsOnly) out << TagNames[id] << "=" << node->Element.ToString() << "\n";
  }
  for (int id = TagEvent; mainTagsOnly && id <= TagResult; id++)
    if (const GameTag* tag = game.Tags.Find(id)) out << TagNames[id] << "=" << tag->ToString() << "\n";
  if (withNotes && game.Comment) out << "{" << game.Comment << "}\n";
  std::string tree;
  AppendLine(tree, game.Root, withNotes);
  return out.str() + tree;
}

// The main line as UCI text, castling as the king's two-square move.
inline std::vector<std::string> MainLineUci(const Game& game) {
  std::vector<std::string> moves;
  for (const GameNode* node = game.Root; node; node = node->MainChild) {
    const GameMove& move = *node->Move;
    if (move.IsCastling()) {
      int king = move.CastlingKingSquare;
      int rank = king / 8 * 8;
      int target = rank + (move.From % 8 == 7 ? 6 : 2);
      moves.push_back(SquareText(king) + SquareText(target));
    } else {
      moves.push_back(CornerText(move));
    }
  }
  return moves;
}

inline std::string Printed(const Game& game) {
  StringGameSink sink;
  game.Print(sink);
  return sink.Text;
}
