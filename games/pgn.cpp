// The PGN reader: one game per call, character by character, with tag
// pairs, SAN or coordinate moves, comments, variations, NAGs, suffix glyphs
// and the result. Errors name their line, and the next call goes on with
// the next game.
#include <cctype>
#include <cstring>
#include <string>

#include "games/gamerecord.h"
#include "support/messages.h"

namespace {

constexpr const char* StandardStartFen = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -";

// Longest move token kept: a 12th character is an error.
constexpr int MoveTokenLength = 11;
// Longest tag name read; the rest of a longer one is dropped.
constexpr int TagNameLength = 1023;
// Tag values are kept up to the FEN limit; GameTag cuts texts to 80.
constexpr int TagValueLength = Game::StartFenLength;
// Main-line moves a game needs to be returned.
constexpr int ShortestGame = 3;
// NAGs are kept in one byte by the stored record.
constexpr int LargestNag = 255;

// The characters of the stream as the reader sees them: every line end as
// '\n' (LF, CRLF, or a lone CR as old Mac files end their lines), line ends
// counted, and whether a character opens its line.
class PgnChars {
public:
  explicit PgnChars(PgnInput& input) : Input(input) {}

  int Get() {
    if (Pushed != NoChar) {
      int c = Pushed;
      Pushed = NoChar;
      return c;
    }
    int c = std::fgetc(Input.Stream);
    if (c == '\r') {
      // The LF of a CRLF belongs to its CR; any other character opens the
      // next line.
      const int next = std::fgetc(Input.Stream);
      if (next != '\n' && next != EOF) std::ungetc(next, Input.Stream);
      c = '\n';
    }
    OpensLine = Input.AtLineStart;
    Last = c;
    if (c == '\n') {
      Input.Line++;
      Input.AtLineStart = true;
    } else if (c != ' ' && c != '\t' && c != EOF) {
      Input.AtLineStart = false;
    }
    return c;
  }
  // Puts one character back (a ')' that ends a move token, a line end that
  // ends a ';' comment); the line count stays as it is.
  void Unget(int c) { Pushed = c; }
  // Whether the last character read was the first non-blank of its line.
  bool OpenedLine() const { return OpensLine; }
  // The line (from 1) of the last character read; a line end belongs to
  // the line it ends.
  int Line() const { return Last == '\n' ? Input.Line : Input.Line + 1; }

  // Skips to the end of the line (its line end is read).
  void SkipLine() {
    int c;
    do c = Get();
    while (c != '\n' && c != EOF);
  }

private:
  static constexpr int NoChar = -2;
  PgnInput& Input;
  int Pushed = NoChar;
  int Last = NoChar;
  bool OpensLine = true;
};

enum class ReadState { Outside, InGame, Ended };

class PgnReader {
public:
  // Open variations followed at once.
  static constexpr int MaxOpenVariations = 100;

  PgnReader(Game& game, PgnInput& input, GameSink& sink) : TheGame(game), Chars(input), Sink(sink), Input(input) {}

  PgnResult Run();

private:
  struct OpenVariation {
    GameNode* Move;  // the move the variation replaces
    int Ply;         // the ply after that move
  };

  // Each handler answers true when the game failed (message given).
  bool TagPair();
  bool CommentText(int opening);
  bool VariationBegin();
  bool VariationEnd();
  bool Nag();
  bool MoveToken(int first);
  bool Number(int first);
  bool AddToken(const char* token, int nag);
  bool SkipDroppedVariation();
  bool StartFromFen(const char* fen);

  // Finishes a game after its result: the game to return, or a short one
  // dropped (then reading goes on).
  bool FinishGame(PgnResult& result);

  bool Fail(int messageId, bool withLine);
  bool FailText(const char* text, int messageId);
  void Warn(int messageId, const char* detail);
  bool ResetGame();

  Game& TheGame;
  PgnChars Chars;
  GameSink& Sink;
  PgnInput& Input;
  ReadState State = ReadState::Outside;
  OpenVariation Stack[MaxOpenVariations];
  int Open = 0;
  bool VariationFirstMove = false;
  bool ResultTagSeen = false;
  bool MovesRead = false;
};

bool PgnReader::Fail(int messageId, bool withLine) {
  char text[320];
  if (withLine)
    std::snprintf(text, sizeof text, "\n%s: %s %d\n", Messages.Text(3), Messages.Text(messageId), Chars.Line());
  else
    std::snprintf(text, sizeof text, "\n%s: %s\n", Messages.Text(3), Messages.Text(messageId));
  Sink.Report(false, messageId, Chars.Line(), text);
  return true;
}

bool PgnReader::FailText(const char* text, int messageId) {
  Sink.Report(false, messageId, Chars.Line(), text);
  return true;
}

void PgnReader::Warn(int messageId, const char* detail) {
  char text[320];
  std::snprintf(text, sizeof text, "\nWARNING: %s %s %s %d: variation dropped\n", Messages.Text(messageId), detail,
                Messages.Text(10), Chars.Line());
  Sink.Report(true, messageId, Chars.Line(), text);
}

bool PgnReader::ResetGame() {
  Open = 0;
  VariationFirstMove = false;
  ResultTagSeen = false;
  MovesRead = false;
  if (!TheGame.Reset()) return false;
  char text[320];
  std::snprintf(text, sizeof text, "\n%s: Resetting the game failed %s %d\n", Messages.Text(3), Messages.Text(10),
                Chars.Line());
  return FailText(text, 3);
}

PgnResult PgnReader::Run() {
  if (!Input.Stream) return PgnResult::Error;
  if (ResetGame()) return PgnResult::Error;
  for (;;) {
    int c = Chars.Get();
    // Escape lines ('%' opening a line) are for other programs.
    if (c == '%' && Chars.OpenedLine()) {
      Chars.SkipLine();
      c = '\n';
    }
    if (c == EOF) {
      if (State == ReadState::Outside) return PgnResult::End;
      if (State == ReadState::Ended) {
        PgnResult result = PgnResult::End;
        if (FinishGame(result)) return PgnResult::Error;
        if (result == PgnResult::Game) return result;
        return PgnResult::End;
      }
      Fail(4, false);
      return PgnResult::Error;
    }
    if (State == ReadState::Outside) {
      // Only a '[' that opens a line starts a game: "[%clk ...]" inside a
      // comment that an error left unread must not.
      if (c != '[' || !Chars.OpenedLine()) continue;
      State = ReadState::InGame;
    }
    bool failed = false;
    switch (c) {
      case ' ':
      case '\t':
        break;
      case '\n':
        if (State == ReadState::Ended) {
          PgnResult result = PgnResult::End;
          if (FinishGame(result)) return PgnResult::Error;
          if (result == PgnResult::Game) return result;
        }
        break;
      case '[':
        failed = TagPair();
        break;
      case '{':
      case ';':
        failed = CommentText(c);
        break;
      case '(':
        failed = VariationBegin();
        break;
      case ')':
        failed = VariationEnd();
        break;
      case '$':
        failed = Nag();
        break;
      case '*': {
        GameTag tag;
        tag.Parse(TagResult, "*");
        TheGame.Tags.Set(tag);
        State = ReadState::Ended;
        break;
      }
      default:
        if (c < 128 && std::isalpha(c))
          failed = MoveToken(c);
        else if (c < 128 && std::isdigit(c))
          failed = Number(c);
        else
          failed = Fail(11, true);
        break;
    }
    if (failed) {
      // Reading goes on with the next game at the next call.
      State = ReadState::Outside;
      return PgnResult::Error;
    }
  }
}

bool PgnReader::FinishGame(PgnResult& result) {
  if (Open > 0) {
    Open = 0;
    return Fail(40, true);
  }
  int mainLine = 0;
  for (GameNode* node = TheGame.Root; node; node = node->MainChild) mainLine++;
  State = ReadState::Outside;
  if (mainLine >= ShortestGame) {
    TheGame.Rewind();
    result = PgnResult::Game;
    return false;
  }
  // Too short to be worth keeping, but counted.
  Input.ShortGames++;
  result = PgnResult::End;
  return ResetGame();
}

bool PgnReader::TagPair() {
  int c;
  do c = Chars.Get();
  while (c == ' ' || c == '\t');
  std::string name;
  while (c != ' ' && c != '\t' && c != '"' && c != ']' && c != '\n' && c != EOF) {
    if (static_cast<int>(name.size()) < TagNameLength) name += static_cast<char>(c);
    c = Chars.Get();
  }
  while (c == ' ' || c == '\t') c = Chars.Get();
  if (c == EOF) return Fail(4, false);
  if (c != '"') return Fail(6, true);
  // The value, with the \" and \\ escapes of the standard.
  char value[TagValueLength + 1];
  int length = 0;
  for (;;) {
    c = Chars.Get();
    if (c == EOF) return Fail(4, false);
    if (c == '\n') return Fail(6, true);
    if (c == '"') break;
    if (c == '\\') {
      int next = Chars.Get();
      if (next == '"' || next == '\\') {
        c = next;
      } else {
        Chars.Unget(next);
      }
    }
    if (length < TagValueLength) value[length++] = static_cast<char>(c);
  }
  value[length] = 0;
  do {
    c = Chars.Get();
    if (c == EOF) return Fail(4, false);
    if (c == '\n') return Fail(6, true);
  } while (c != ']');

  int id = 0;
  if (!name.empty() && std::isdigit(static_cast<unsigned char>(name[0]))) {
    int number = std::atoi(name.c_str());
    id = number >= 0 && number < TagCount - 1 ? number : 0;
  } else {
    for (int candidate = TagCount - 1; candidate >= 1 && !id; candidate--)
      if (name == TagNames[candidate]) id = candidate;
  }
  if (id == 0 || id == TagSetUp || id == TagPlyCount) return false;
  if (id == TagFEN) return StartFromFen(value);
  GameTag tag;
  // A number naming an id without a kind is a name the table does not know.
  if (tag.Parse(id, value)) return false;
  if (id == TagResult) ResultTagSeen = true;
  if (TheGame.Tags.Set(tag)) return Fail(0, true);
  return false;
}

bool PgnReader::StartFromFen(const char* fen) {
  Game& game = TheGame;
  if (game.Root) game.Root->Destroy();
  game.Root = game.Current = nullptr;
  game.StartKind = StartFen;
  std::snprintf(game.StartFenText, sizeof game.StartFenText, "%s", fen);
  game.GameHashUpToDate = false;
  game.Ply = 0;
  bool failed = std::strlen(fen) > static_cast<std::size_t>(Game::StartFenLength) || game.Board.SetFen(fen);
  game.BlackFirst = game.Board.Side == GameBoard::Black ? 1 : 0;
  game.KeyHistory[0] = game.Board.HashKey();
  if (failed) return Fail(7, true);
  // Kept in the board's own form, as the records write it (no counters),
  // and the standard start as such: a game read back from its record is
  // then the game that was read.
  std::snprintf(game.StartFenText, sizeof game.StartFenText, "%s", game.Board.GetFen());
  if (std::strcmp(game.StartFenText, StandardStartFen) == 0) {
    game.StartKind = StartStandard;
    game.StartFenText[0] = 0;
  }
  return false;
}

bool PgnReader::CommentText(int opening) {
  int c;
  do c = Chars.Get();
  while (c == ' ' || c == '\t');
  std::string text;
  const int closing = opening == '{' ? '}' : '\n';
  while (c != closing) {
    if (c == EOF) {
      if (opening == '{') return Fail(41, false);
      break;
    }
    if (c == '\n' || c == '\t') c = ' ';
    if (static_cast<int>(text.size()) < Game::CommentLength) text += static_cast<char>(c);
    c = Chars.Get();
  }
  // The line end that closes a ';' comment may end the game too.
  if (opening == ';') Chars.Unget(c);
  if (State == ReadState::Ended) {
    GameTag tag;
    tag.Parse(TagTermination, text.c_str());
    TheGame.Tags.Set(tag);
  } else if (TheGame.Current) {
    TheGame.Current->SetComment(text.c_str());
  } else if (!MovesRead) {
    TheGame.SetComment(text.c_str());
  }
  return false;
}

bool PgnReader::VariationBegin() {
  // A variation replaces a move: before the first move there is none.
  if (!TheGame.Current || Open >= MaxOpenVariations) return Fail(40, true);
  Stack[Open++] = {TheGame.Current, TheGame.Ply};
  TheGame.Back();
  VariationFirstMove = true;
  return false;
}

bool PgnReader::VariationEnd() {
  if (Open == 0) return Fail(40, true);
  OpenVariation back = Stack[--Open];
  // Back to the position before the replaced move, then that move again:
  // board, ply and key history are those of the main line once more.
  while (TheGame.Current != back.Move->Parent && !TheGame.Back()) {
  }
  TheGame.Board.MakeMove(*back.Move->Move);
  TheGame.Current = back.Move;
  TheGame.Ply = back.Ply;
  TheGame.KeyHistory[TheGame.Ply] = TheGame.Board.HashKey();
  VariationFirstMove = false;
  return false;
}

bool PgnReader::Nag() {
  int c = Chars.Get();
  long value = 0;
  int digits = 0;
  while (c != EOF && c < 128 && std::isdigit(c)) {
    if (value <= LargestNag) value = value * 10 + (c - '0');
    digits++;
    c = Chars.Get();
  }
  Chars.Unget(c);
  // The record keeps a NAG in one byte.
  if (!digits || value > LargestNag || !TheGame.Current) return Fail(11, true);
  TheGame.Current->Nag = static_cast<std::int32_t>(value);
  return false;
}

bool PgnReader::MoveToken(int first) {
  char token[MoveTokenLength + 1];
  char glyph[4] = {};
  int length = 0, glyphLength = 0;
  int c = first;
  for (;;) {
    if (c == ' ' || c == '\t' || c == '\n' || c == EOF) break;
    // These open the next element, written without a blank.
    if (c == ')' || c == '(' || c == '{' || c == ';' || c == '$') {
      Chars.Unget(c);
      break;
    }
    if (c == '!' || c == '?') {
      if (glyphLength < 3) glyph[glyphLength++] = static_cast<char>(c);
    } else if (c != '+' && c != '#') {
      if (length == MoveTokenLength) return Fail(8, true);
      // A suffix glyph ends the move's text.
      if (glyphLength) return Fail(11, true);
      token[length++] = static_cast<char>(c);
    }
    c = Chars.Get();
  }
  token[length] = 0;
  static constexpr const char* Glyphs[] = {"!", "?", "!!", "??", "!?", "?!"};
  int nag = 0;
  for (int i = 0; i < 6 && glyphLength; i++)
    if (std::strcmp(glyph, Glyphs[i]) == 0) nag = i + 1;
  return AddToken(token, nag);
}

bool PgnReader::AddToken(const char* token, int nag) {
  Game& game = TheGame;
  bool failed = VariationFirstMove ? game.AddVariationMoveText(token) : game.AddMoveText(token);
  if (failed && Open > 0) {
    // A side line that cannot be stored (an alternative to the game's first
    // move, which the tree cannot hold, or a move that is not legal there)
    // costs only the rest of that side line, not the game.
    Warn(9, token);
    return SkipDroppedVariation();
  }
  if (failed) {
    Sink.WriteBoard(game.Board);
    char text[320];
    std::snprintf(text, sizeof text, "\n%s: %s %s %s %d\n", Messages.Text(3), Messages.Text(9), token,
                  Messages.Text(10), Chars.Line());
    return FailText(text, 9);
  }
  VariationFirstMove = false;
  MovesRead = true;
  if (nag) game.Current->Nag = nag;
  return false;
}

// Skips the rest of a dropped variation, nested ones and comments included,
// and closes it.
bool PgnReader::SkipDroppedVariation() {
  int depth = 1;
  while (depth > 0) {
    int c = Chars.Get();
    if (c == EOF) return Fail(4, false);
    if (c == '(') depth++;
    if (c == ')') depth--;
    if (c == '{') {
      do c = Chars.Get();
      while (c != '}' && c != EOF);
      if (c == EOF) return Fail(41, false);
    }
  }
  return VariationEnd();
}

bool PgnReader::Number(int first) {
  int c = Chars.Get();
  if (c == '.' || (c != EOF && c < 128 && std::isdigit(c))) {
    while (c != EOF && c < 128 && std::isdigit(c)) c = Chars.Get();
    if (c != '.') return Fail(13, true);
    while (c == '.') c = Chars.Get();
    Chars.Unget(c);
    return false;
  }
  if (first != '0' && first != '1') return Fail(13, true);
  // A result: the rest must follow exactly.
  const char* rest = first == '0' ? "-1" : c == '/' ? "/2-1/2" : "-0";
  for (const char* p = rest; *p; p++) {
    if (c != *p) return Fail(12, true);
    if (p[1]) c = Chars.Get();
  }
  if (!ResultTagSeen) {
    // The token is the only result the game gives.
    GameTag tag;
    tag.Parse(TagResult, first == '0' ? "0-1" : rest[0] == '/' ? "1/2-1/2" : "1-0");
    TheGame.Tags.Set(tag);
  }
  State = ReadState::Ended;
  return false;
}

}  // namespace

PgnResult Game::ReadPgn(PgnInput& input, GameSink& sink) {
  PgnReader reader(*this, input, sink);
  return reader.Run();
}
