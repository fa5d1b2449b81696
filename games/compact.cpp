// Writing and reading the stored record and the buffer form of a game. The
// writers replay the tree on the game's board so that each place is the one
// the reader will find; the readers replay every place they read.
#include "games/compact.h"

#include <cstring>
#include <vector>

#include "support/binfile.h"
#include "support/messages.h"

namespace {

using Record = CompactGameRecord;

constexpr const char* StandardStartFen = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -";

// A text byte equal to the byte that ends its field would end it early (a
// Latin-1 'û' is 251): it is written as this instead. UTF-8 never holds
// 247 or 251, so only single-byte encodings lose a character.
constexpr char TerminatorStandIn = '?';

// ---------------------------------------------------------------- writing

// Where a node encoding goes: a file (stored form) or the caller's buffer.
class ByteWriter {
public:
  virtual ~ByteWriter() = default;
  virtual void Byte(std::uint32_t value) = 0;
  virtual void Word(std::uint32_t value) = 0;  // 2 bytes in the form's order
  bool Failed = false;
};

class FileWriter : public ByteWriter {
public:
  explicit FileWriter(BinFile& file) : File(file) {}
  void Byte(std::uint32_t value) override { Failed = File.WriteU8(value) || Failed; }
  void Word(std::uint32_t value) override { Failed = File.WriteU16(value) || Failed; }
  void Text(const char* text, std::uint8_t terminator) {
    for (const char* p = text; *p; p++) {
      std::uint8_t byte = static_cast<std::uint8_t>(*p);
      Byte(byte == terminator ? static_cast<std::uint8_t>(TerminatorStandIn) : byte);
    }
    Byte(terminator);
  }

private:
  BinFile& File;
};

class BufferWriter : public ByteWriter {
public:
  explicit BufferWriter(std::uint8_t* buffer) : Buffer(buffer) {}
  void Byte(std::uint32_t value) override {
    if (Length < Record::Size) Buffer[Length++] = static_cast<std::uint8_t>(value);
    else Failed = true;
  }
  void Word(std::uint32_t value) override {
    Byte(value >> 8);  // high byte first on the wire
    Byte(value);
  }
  void Text(const char* text) {
    for (const char* p = text; *p; p++) Byte(static_cast<std::uint8_t>(*p));
    Byte(0);
  }
  std::uint8_t* Buffer;
  int Length = 0;
};

void WritePlace(ByteWriter& out, int place) {
  if (place < Record::LongPlace) {
    out.Byte(static_cast<std::uint32_t>(place));
    return;
  }
  out.Byte(0);
  out.Word(static_cast<std::uint32_t>(place));
}

int PlaceBytes(int place) { return place < Record::LongPlace ? 1 : 3; }

// Plays node's move afresh on the game's board: the place is the one the
// board gives now, under the rook-square rule in force, whatever the node
// stored. 0 when the move cannot be played or the line is too deep.
int ReplayNode(Game& game, GameNode* node, GameMove& record) {
  if (game.Ply >= Game::MaxLinePly) return 0;
  int place = game.Board.PlayMove(*node->Move, record);
  if (!place) return 0;
  game.Current = node;
  game.Ply++;
  return place;
}

struct PlayedMove {
  GameNode* Node;
  GameMove Record;
};

void UnplayNode(Game& game, GameNode* node, const GameMove& record) {
  game.Board.UnmakeMove(record);
  game.Current = node->Parent;
  game.Ply--;
}

// The stored encoding of a line: each node's move, comment and NAG, its
// variations, then its main child. Every move played is taken back.
bool WriteStoredLine(Game& game, FileWriter& out, GameNode* first) {
  // The line's records, for taking the moves back in reverse; on the heap,
  // as variations nest a hundred deep.
  std::vector<PlayedMove> played;
  int count = 0;
  bool failed = false;
  for (GameNode* node = first; node && !failed; node = node->MainChild) {
    GameMove record;
    int place = ReplayNode(game, node, record);
    if (!place) {
      failed = true;
      break;
    }
    played.push_back({node, record});
    count++;
    WritePlace(out, place);
    if (node->Comment) {
      out.Byte(Record::CommentBegin);
      out.Text(node->Comment, Record::CommentEnd);
    }
    // A NAG is one byte in the record.
    if (node->Nag > 0 && node->Nag <= 255) {
      out.Byte(Record::NagMarker);
      out.Byte(static_cast<std::uint32_t>(node->Nag));
    }
    for (auto* link = node->Variations.Head; link && !failed; link = link->Next) {
      out.Byte(Record::VariationBegin);
      failed = WriteStoredLine(game, out, link->Element);
      out.Byte(Record::VariationEnd);
    }
    failed = failed || out.Failed;
  }
  while (count > 0) {
    count--;
    UnplayNode(game, played[count].Node, played[count].Record);
  }
  return failed;
}

// The buffer encoding of a line within room bytes; returns the bytes used.
// What does not fit is left out, never cut in the middle of a move or of a
// variation: a variation's 245 always fits.
int WriteBufferLine(Game& game, BufferWriter& out, GameNode* first, int room) {
  std::vector<PlayedMove> played;
  int count = 0;
  int used = 0;
  for (GameNode* node = first; node; node = node->MainChild) {
    GameMove record;
    int place = ReplayNode(game, node, record);
    if (!place) break;
    played.push_back({node, record});
    count++;
    if (room - used < PlaceBytes(place)) break;
    WritePlace(out, place);
    used += PlaceBytes(place);
    bool cut = false;
    for (auto* link = node->Variations.Head; link; link = link->Next) {
      if (room - used < 3) {
        cut = true;
        break;
      }
      out.Byte(Record::VariationBegin);
      used++;
      used += WriteBufferLine(game, out, link->Element, room - used - 1);
      out.Byte(Record::VariationEnd);
      used++;
    }
    if (cut) break;
  }
  while (count > 0) {
    count--;
    UnplayNode(game, played[count].Node, played[count].Record);
  }
  return used;
}

// ---------------------------------------------------------------- reading

// Where the bytes of a record come from; every read is bounded by the source.
class ByteReader {
public:
  virtual ~ByteReader() = default;
  // True when no byte is left.
  virtual bool Byte(std::uint32_t& value) = 0;
  virtual bool Word(std::uint32_t& value) = 0;
};

class FileReader : public ByteReader {
public:
  explicit FileReader(BinFile& file) : File(file) {}
  bool Byte(std::uint32_t& value) override { return File.ReadU8(value); }
  bool Word(std::uint32_t& value) override { return File.ReadU16(value); }

private:
  BinFile& File;
};

class BufferReader : public ByteReader {
public:
  BufferReader(const std::uint8_t* buffer, int length) : Buffer(buffer), Length(buffer ? length : 0) {}
  bool Byte(std::uint32_t& value) override {
    if (Position >= Length) return true;
    value = Buffer[Position++];
    return false;
  }
  bool Word(std::uint32_t& value) override {
    std::uint32_t high, low;
    if (Byte(high) || Byte(low)) return true;
    value = high << 8 | low;
    return false;
  }

private:
  const std::uint8_t* Buffer;
  int Length;
  int Position = 0;
};

// Reads a text up to its terminator into text (room for limit characters).
// True when the source ends first or the text is longer than limit, unless
// keepExcess: then the excess is read and dropped.
bool ReadText(ByteReader& in, std::uint8_t terminator, char* text, int limit, bool keepExcess) {
  int length = 0;
  for (;;) {
    std::uint32_t byte;
    if (in.Byte(byte)) return true;
    if (byte == terminator) break;
    if (length < limit)
      text[length++] = static_cast<char>(byte);
    else if (!keepExcess)
      return true;
  }
  text[length] = 0;
  return false;
}

// The start field after its kind byte; true on failure.
bool ReadStart(Game& game, ByteReader& in, std::uint32_t kind, std::uint8_t fenEnd, GameSink& sink) {
  if (kind == Record::StartStandard) return game.Reset();
  if (kind == Record::StartChess960) {
    std::uint32_t number;
    return in.Word(number) || game.SetStartFrc(static_cast<int>(number));
  }
  if (kind == Record::StartFen) {
    char fen[Game::StartFenLength + 1];
    if (ReadText(in, fenEnd, fen, Game::StartFenLength, false)) return true;
    if (std::strcmp(fen, StandardStartFen) == 0) return game.Reset();
    return game.SetStartFen(fen);
  }
  sink.Report(false, 0, 0, "ERROR: Unknown start position\n");
  return true;
}

// What the move tokens of both forms share: placing moves in the tree and
// following variations.
class TreeReader {
public:
  TreeReader(Game& game, GameSink& sink) : TheGame(game), Sink(sink) {}

  // A move place read from the record; true on failure.
  bool Move(int place) {
    GameBoard& board = TheGame.Board;
    if (!board.IsMoveListBuilt()) board.GenerateMoves();
    int count = board.Moves.Count();
    if (place < 1 || place > count) {
      TheGame.Print(Sink);
      Sink.Printf("ERROR: File corrupted. Move index %d is larger than number of possible moves (%d)\n", place, count);
      return true;
    }
    if (TheGame.Ply >= Game::MaxLinePly) return true;
    GameMove record;
    if (!board.PlayMove(board.Moves[place - 1], record)) {
      Sink.Printf("ERROR: File corrupted. Move index %d is not a legal move\n", place);
      return true;
    }
    GameNode* node = nullptr;
    if (!TheGame.Current) {
      // Only the first move of the game stands at the start: an earlier
      // 246 there was refused.
      node = TheGame.Root ? nullptr : GameNode::Create(record);
      if (node) TheGame.Root = node;
    } else {
      node = AfterVariationBegin ? TheGame.Current->AddMove(record) : TheGame.Current->AddMainLine(record);
    }
    if (!node) {
      board.UnmakeMove(record);
      return true;
    }
    AfterVariationBegin = false;
    MovesRead++;
    TheGame.Current = node;
    TheGame.Ply++;
    TheGame.KeyHistory[TheGame.Ply] = board.HashKey();
    return false;
  }

  bool VariationBegin() {
    // The tree has one first move: nothing can be its alternative.
    if (!TheGame.Current || Open >= Record::MaxOpenVariations) return VariationError(40);
    Stack[Open++] = TheGame.Current;
    AfterVariationBegin = true;
    return false;
  }

  bool VariationEnd() {
    if (Open == 0) return VariationError(40);
    GameNode* back = Stack[--Open];
    while (TheGame.Current != back && !TheGame.Back()) {
    }
    AfterVariationBegin = false;
    return false;
  }

  // At the end of the record: the game goes back to its start. A record
  // that failed already is not blamed for the variations it left open.
  bool Finish(bool failedAlready) {
    bool failed = !failedAlready && Open > 0 && VariationError(42);
    TheGame.Rewind();
    return failed;
  }

  int MovesRead = 0;

private:
  bool VariationError(int id) {
    char text[256];
    std::snprintf(text, sizeof text, "%s: %s\n", Messages.Text(3), Messages.Text(id));
    Sink.Report(false, id, 0, text);
    return true;
  }

  Game& TheGame;
  GameSink& Sink;
  GameNode* Stack[Record::MaxOpenVariations] = {};
  int Open = 0;
  bool AfterVariationBegin = false;
};

bool ReadPlace(ByteReader& in, std::uint32_t token, int& place) {
  if (token != 0) {
    place = static_cast<int>(token);
    return false;
  }
  std::uint32_t word;
  if (in.Word(word)) return true;
  place = static_cast<int>(word);
  return false;
}

}  // namespace

// ---------------------------------------------------------------- stored record

bool Game::CompactWriteFile(BinFile& file, int rookSquareRule) {
  FileWriter out(file);
  out.Byte(Record::RecordBegin);
  out.Byte(0);
  if (!GameHashUpToDate) ComputeGameHash();
  out.Failed = file.WriteU32(GameHash) || out.Failed;
  Rewind();
  if (StartKind == StartChess960) {
    out.Byte(Record::StartChess960);
    out.Word(static_cast<std::uint32_t>(Chess960Number));
  } else if (StartKind == StartFen) {
    out.Byte(Record::StartFen);
    out.Text(Board.GetFen(), Record::FenEnd);
  } else {
    out.Byte(Record::StartStandard);
  }
  out.Failed = Tags.Write(file) || out.Failed;
  if (Comment) {
    out.Byte(Record::CommentBegin);
    out.Text(Comment, Record::CommentEnd);
  }
  std::int32_t savedRule = Board.RookSquareOption;
  Board.RookSquareOption = rookSquareRule;
  out.Byte(Record::MovesMarker);
  bool failed = out.Failed;
  if (!failed && Root) failed = WriteStoredLine(*this, out, Root);
  Board.RookSquareOption = savedRule;
  // The game goes back to its start even when the tree could not be replayed.
  Rewind();
  failed = failed || out.Failed;
  return file.Flush() || failed;
}

int Game::CompactReadFile(BinFile& file, std::uint8_t& flags, int rookSquareRule, GameSink& sink) {
  FileReader in(file);
  std::uint32_t byte, hash;
  if (in.Byte(byte) || byte != Record::RecordBegin) {
    sink.Report(false, 0, 0, "ERROR: Expected game begin marker\n");
    return 1;
  }
  if (in.Byte(byte)) return 1;
  flags = static_cast<std::uint8_t>(byte);
  if (file.ReadU32(hash)) return 1;
  if (in.Byte(byte) || ReadStart(*this, in, byte, Record::FenEnd, sink)) return 1;
  GameHash = hash;
  GameHashUpToDate = true;
  if (in.Byte(byte) || byte != Record::TagMarker) {
    char text[96];
    std::snprintf(text, sizeof text, "ERROR: Expected gameheader marker\n\tFound: %u\n", byte);
    sink.Report(false, 0, 0, text);
    return 1;
  }
  if (Tags.Read(file)) return 1;

  std::int32_t savedRule = Board.RookSquareOption;
  Board.RookSquareOption = rookSquareRule;
  TreeReader tree(*this, sink);
  bool failed = false;
  // Moves, NAGs and variations belong after the moves marker, and a record
  // without one was cut before its moves.
  bool movesMarkerSeen = false;
  char text[CommentLength + 1];
  for (;;) {
    std::uint32_t token;
    // The end of the file ends the last record.
    if (in.Byte(token) || token == Record::RecordBegin) {
      failed = !movesMarkerSeen;
      break;
    }
    if (token == Record::MovesMarker) {
      movesMarkerSeen = true;
    } else if (!movesMarkerSeen && token != Record::CommentBegin) {
      failed = true;
    } else if (token < Record::LongPlace) {
      int place = 0;
      failed = ReadPlace(in, token, place) || tree.Move(place);
    } else if (token == Record::CommentBegin) {
      failed = ReadText(in, Record::CommentEnd, text, CommentLength, true);
      if (!failed && tree.MovesRead == 0 && !Current)
        SetComment(text);
      else if (!failed && Current)
        Current->SetComment(text);
    } else if (token == Record::NagMarker) {
      std::uint32_t nag;
      failed = in.Byte(nag);
      if (!failed && Current) Current->Nag = static_cast<std::int32_t>(nag);
    } else if (token == Record::VariationBegin) {
      failed = tree.VariationBegin();
    } else if (token == Record::VariationEnd) {
      failed = tree.VariationEnd();
    }
    if (failed) break;
  }
  failed = tree.Finish(failed) || failed;
  Board.RookSquareOption = savedRule;
  return failed ? 1 : 0;
}

// ---------------------------------------------------------------- buffer form

int Game::CompactWrite(std::uint8_t* buffer) {
  BufferWriter out(buffer);
  Rewind();
  if (StartKind == StartChess960) {
    out.Byte(Record::StartChess960);
    out.Word(static_cast<std::uint32_t>(Chess960Number));
  } else if (StartKind == StartFen) {
    out.Byte(Record::StartFen);
    out.Text(Board.GetFen());
  } else {
    out.Byte(Record::StartStandard);
  }
  for (int id = TagEvent; id <= TagResult; id++) {
    const GameTag* tag = Tags.Find(id);
    if (!tag) continue;
    out.Byte(Record::TagMarker);
    out.Byte(static_cast<std::uint32_t>(id));
    if (id == TagDate) {
      out.Byte(static_cast<std::uint32_t>(tag->Day));
      out.Byte(static_cast<std::uint32_t>(tag->Month));
      out.Word(static_cast<std::uint32_t>(tag->Year));
    } else {
      out.Text(tag->ToString());
    }
  }
  out.Byte(Record::MovesMarker);
  if (Root) WriteBufferLine(*this, out, Root, Record::Size - 1 - out.Length);
  out.Byte(Record::RecordBegin);
  Rewind();
  return out.Length;
}

int Game::CompactRead(const std::uint8_t* buffer, int length, GameSink& sink) {
  BufferReader in(buffer, length);
  GameHashUpToDate = false;
  std::uint32_t byte;
  if (in.Byte(byte) || ReadStart(*this, in, byte, 0, sink)) return 1;
  GameHashUpToDate = false;
  for (;;) {
    if (in.Byte(byte)) return 1;
    if (byte != Record::TagMarker) break;
    std::uint32_t id;
    if (in.Byte(id)) return 1;
    char text[GameTag::TextLength + 1];
    if (id == TagDate) {
      std::uint32_t day, month, year;
      if (in.Byte(day) || in.Byte(month) || in.Word(year)) return 1;
      std::snprintf(text, sizeof text, "%04u.%02u.%02u", year, month, day);
    } else if (ReadText(in, 0, text, GameTag::TextLength, false)) {
      return 1;
    }
    GameTag tag;
    if (!tag.Parse(static_cast<int>(id), text)) Tags.Set(tag);
  }
  // The byte after the tags is the moves marker and nothing else.
  if (byte != Record::MovesMarker) return 1;

  TreeReader tree(*this, sink);
  bool failed = false;
  bool ended = false;
  while (!failed) {
    std::uint32_t token;
    if (in.Byte(token)) {
      failed = true;  // cut before its end marker
      break;
    }
    if (token == Record::RecordBegin) {
      ended = true;
      break;
    }
    if (token < Record::LongPlace) {
      int place = 0;
      failed = ReadPlace(in, token, place) || tree.Move(place);
    } else if (token == Record::VariationBegin) {
      failed = tree.VariationBegin();
    } else if (token == Record::VariationEnd) {
      failed = tree.VariationEnd();
    } else {
      char text[160];
      std::snprintf(text, sizeof text, "%s: Unrecognized tag in Game::CompactRead(): %u\n", Messages.Text(3), token);
      sink.Report(false, 3, 0, text);
      failed = true;
    }
  }
  failed = tree.Finish(failed) || failed || !ended;
  return failed ? 1 : 0;
}
