#include "games/compact.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "record_helpers.h"
#include "support/binfile.h"
#include "support/scratch_directory.h"

namespace {

using Bytes = std::vector<unsigned char>;

constexpr int ReadWriteNew = BinFileBinary | BinFileUpdate | BinFileWrite;
constexpr int ReadWriteExisting = BinFileBinary | BinFileUpdate;

// The default tags in the buffer form.
const Bytes DefaultBufferTags = {254, 1, '?', 0, 254, 2, '?', 0, 254, 3, 0, 0, 0, 0, 254, 4, '1', 0,
                                 254, 5, '?', 0, 254, 6, '?', 0, 254, 7, '*', 0};
// The default tags in the stored form.
const Bytes DefaultStoredTags = {254, 1, '?', 0, 2, '?', 0, 3, 0, 0, 0, 0, 4, '1', 0, 5, '?', 0, 6, '?', 0, 7, 0, 242};

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

class CompactRecord : public ::testing::Test {
protected:
  void SetUp() override {
    PrepareGameTables();
    ASSERT_TRUE(Scratch.Ready());
    ASSERT_FALSE(TheGame.Reset());
  }

  void Play(Game& game, std::initializer_list<const char*> moves) {
    for (const char* move : moves) ASSERT_FALSE(game.AddMoveText(move)) << move;
  }

  // The stored record of game, written under rule.
  Bytes Stored(Game& game, int rule = 1) {
    BinFile32 file;
    EXPECT_FALSE(file.Create(Scratch.Path("game.fgf").c_str(), ReadWriteNew));
    EXPECT_FALSE(game.CompactWriteFile(file, rule));
    file.Close();
    EXPECT_EQ(game.Current, nullptr);
    EXPECT_EQ(game.Ply, 0);
    return Scratch.ReadBytes("game.fgf");
  }

  // Reads a stored record from bytes; 0 on success, as the reader answers.
  int ReadStored(const Bytes& bytes, Game& game, int rule = 1, RecordingGameSink* messages = nullptr) {
    Scratch.WriteBytes("in.fgf", bytes);
    BinFile32 file;
    EXPECT_FALSE(file.Open(Scratch.Path("in.fgf").c_str(), ReadWriteExisting));
    RecordingGameSink local;
    std::uint8_t flags = 99;
    int result = game.CompactReadFile(file, flags, rule, messages ? *messages : local);
    file.Close();
    if (result == 0) {
      EXPECT_EQ(flags, bytes[1]);
    }
    return result;
  }

  Bytes Buffer(Game& game) {
    CompactGameRecord record;
    record.Length = game.CompactWrite(record.Bytes);
    EXPECT_LE(record.Length, CompactGameRecord::Size);
    EXPECT_EQ(game.Current, nullptr);
    return Bytes(record.Bytes, record.Bytes + record.Length);
  }

  int ReadBuffer(const Bytes& bytes, Game& game, RecordingGameSink* messages = nullptr) {
    RecordingGameSink local;
    return game.CompactRead(bytes.data(), static_cast<int>(bytes.size()), messages ? *messages : local);
  }

  // A game with everything the stored record keeps: FEN start, tags of
  // every kind, game and move comments, NAGs, nested variations.
  void BuildRichGame(Game& game) {
    ASSERT_FALSE(game.SetStartFen("r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq -"));
    GameTag tag;
    for (auto [id, text] : std::initializer_list<std::pair<int, const char*>>{{TagEvent, "Club \"open\""},
                                                                             {TagDate, "2019.05.??"},
                                                                             {TagWhiteElo, "2412"},
                                                                             {TagBoard, "200"},
                                                                             {TagUTCTime, "12:30:05"},
                                                                             {TagECO, "C44"},
                                                                             {TagResult, "1/2-1/2"}}) {
      ASSERT_FALSE(tag.Parse(id, text));
      ASSERT_FALSE(game.Tags.Set(tag));
    }
    game.SetComment("A game comment");
    Play(game, {"Bb5", "a6", "Ba4", "Nf6", "O-O"});
    game.Back();
    game.Back();
    Play(game, {"d6", "d4"});
    game.Back();
    Play(game, {"c3"});
    game.Rewind();
    game.Forward();
    game.Current->SetComment(std::string(Game::CommentLength, 'c').c_str());
    game.Current->Nag = 1;
    game.Forward();
    game.Current->Nag = 200;
    game.Rewind();
  }

  ScratchDirectory Scratch;
  Game TheGame;
};

// ---------------------------------------------------------------- goldens

TEST_F(CompactRecord, BufferFormOfAGameWithoutMoves) {
  EXPECT_EQ(Buffer(TheGame), Join({{250}, DefaultBufferTags, {253, 255}}));
}

TEST_F(CompactRecord, BufferFormOfE4HoldsItsPlaceTen) {
  Play(TheGame, {"e4"});
  EXPECT_EQ(Buffer(TheGame), Join({{250}, DefaultBufferTags, {253, 10, 255}}));
}

TEST_F(CompactRecord, Chess960NumberIsHighByteFirstInTheBufferAndLowByteFirstStored) {
  ASSERT_FALSE(TheGame.SetStartFrc(518));
  EXPECT_EQ(Bytes(Buffer(TheGame)).at(1), 2);
  Bytes buffer = Buffer(TheGame);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 3), (Bytes{249, 2, 6}));
  Bytes stored = Stored(TheGame);
  EXPECT_EQ(Bytes(stored.begin() + 6, stored.begin() + 9), (Bytes{249, 6, 2}));
}

TEST_F(CompactRecord, StoredFormOfE4) {
  Play(TheGame, {"e4"});
  TheGame.Rewind();
  std::uint32_t start = static_cast<std::uint32_t>(TheGame.Board.HashKey());
  TheGame.Forward();
  std::uint32_t hash = start ^ static_cast<std::uint32_t>(TheGame.Board.HashKey());
  TheGame.Rewind();
  Bytes hashBytes = {static_cast<unsigned char>(hash), static_cast<unsigned char>(hash >> 8),
                     static_cast<unsigned char>(hash >> 16), static_cast<unsigned char>(hash >> 24)};
  EXPECT_EQ(Stored(TheGame), Join({{255, 0}, hashBytes, {250}, DefaultStoredTags, {253, 10}}));
}

TEST_F(CompactRecord, FenStartsEndWith247StoredAndWithZeroInTheBuffer) {
  const char* fen = "4k3/8/8/8/8/8/4P3/4K3 w - -";
  ASSERT_FALSE(TheGame.SetStartFen(fen));
  Bytes text(fen, fen + std::strlen(fen));
  Bytes stored = Stored(TheGame);
  EXPECT_EQ(Bytes(stored.begin() + 6, stored.begin() + 7 + static_cast<long>(text.size()) + 1),
            Join({{248}, text, {247}}));
  EXPECT_EQ(Buffer(TheGame), Join({{248}, text, {0}, DefaultBufferTags, {253, 255}}));
}

TEST_F(CompactRecord, PlacesFrom224OnTakeThreeBytes) {
  ASSERT_FALSE(TheGame.SetStartFen("R6R/3Q4/1Q4Q1/4Q3/2Q4Q/Q4Q2/3Q4/1Q3QKk w - -"));
  GameBoard& board = TheGame.Board;
  board.GenerateMoves();
  ASSERT_GE(board.Moves.Count(), CompactGameRecord::LongPlace);
  int place = 0;
  for (int candidate = board.Moves.Count(); candidate >= CompactGameRecord::LongPlace && !place; candidate--) {
    GameMove record;
    if (board.PlayMove(board.Moves[candidate - 1], record)) {
      board.UnmakeMove(record);
      if (!TheGame.AddMove(record)) place = candidate;
    }
  }
  ASSERT_GE(place, CompactGameRecord::LongPlace);
  Bytes buffer = Buffer(TheGame);
  Bytes tail(buffer.end() - 5, buffer.end());
  EXPECT_EQ(tail, (Bytes{253, 0, static_cast<unsigned char>(place >> 8), static_cast<unsigned char>(place & 255), 255}));
  Bytes stored = Stored(TheGame);
  EXPECT_EQ(Bytes(stored.end() - 4, stored.end()),
            (Bytes{253, 0, static_cast<unsigned char>(place & 255), static_cast<unsigned char>(place >> 8)}));
  Game back;
  ASSERT_EQ(ReadStored(stored, back), 0);
  EXPECT_EQ(GameText(back), GameText(TheGame));
  ASSERT_EQ(ReadBuffer(buffer, back), 0);
  EXPECT_EQ(GameText(back), GameText(TheGame));
}

// ---------------------------------------------------------------- round trips

TEST_F(CompactRecord, StoredRecordKeepsTheWholeGameAndWritesTheSameBytesAgain) {
  BuildRichGame(TheGame);
  Bytes first = Stored(TheGame);
  Game back;
  ASSERT_EQ(ReadStored(first, back), 0);
  EXPECT_EQ(back.Current, nullptr);
  EXPECT_EQ(back.Ply, 0);
  EXPECT_EQ(GameText(back), GameText(TheGame));
  EXPECT_EQ(Printed(back), Printed(TheGame));
  EXPECT_EQ(back.GameHash, TheGame.GameHash);
  EXPECT_EQ(back.KeyHistory[0], TheGame.KeyHistory[0]);
  EXPECT_EQ(Stored(back), first);
}

TEST_F(CompactRecord, BufferFormKeepsMovesVariationsAndTheMainTags) {
  BuildRichGame(TheGame);
  Game back;
  ASSERT_EQ(ReadBuffer(Buffer(TheGame), back), 0);
  EXPECT_EQ(back.Current, nullptr);
  EXPECT_EQ(GameText(back, false, true), GameText(TheGame, false, true));
  EXPECT_EQ(back.Comment, nullptr);
  EXPECT_EQ(back.Tags.Find(TagECO), nullptr);
}

TEST_F(CompactRecord, WriterRecomputesPlacesUnderTheCallersRookSquareRule) {
  // After Bxa8 Black keeps the a-side right unless a move onto a castling
  // rook's square ends it; with a rook back on a8 the castling move that
  // leads Black's list is there under one rule only.
  ASSERT_FALSE(TheGame.SetStartFen("r3k3/rB6/8/8/8/8/8/4K3 w q -"));
  Play(TheGame, {"Bxa8", "Rxa8", "Kf1", "Kd7"});
  TheGame.Rewind();
  Bytes withRule = Stored(TheGame, 1);
  Bytes withoutRule = Stored(TheGame, 0);
  EXPECT_NE(withRule, withoutRule);
  for (int rule : {0, 1}) {
    Game back;
    ASSERT_EQ(ReadStored(rule ? withRule : withoutRule, back, rule), 0) << rule;
    EXPECT_EQ(GameText(back), GameText(TheGame)) << rule;
  }
}

TEST_F(CompactRecord, OverfullTreeGivesAWellFormedBufferThatEndsIn255) {
  // 300 moves, each with three one-move variations: far over 2048 bytes.
  const char* cycle[] = {"Nf3", "Nf6", "Ng1", "Ng8"};
  const char* sidelines[] = {"a3", "a6", "h3", "h6"};
  Play(TheGame, {"e4", "e5"});
  for (int i = 0; i < 300; i++) {
    Play(TheGame, {cycle[i % 4]});
    TheGame.Back();
    for (const char* side : {sidelines[i % 4], i % 2 ? "b6" : "b3", i % 2 ? "g6" : "g3"}) {
      Play(TheGame, {side});
      TheGame.Back();
    }
    TheGame.Forward();
  }
  Bytes buffer = Buffer(TheGame);
  EXPECT_GE(buffer.size(), static_cast<std::size_t>(CompactGameRecord::Size) - 4);
  EXPECT_EQ(buffer.back(), 255);
  EXPECT_EQ(TheGame.Ply, 0);
  EXPECT_EQ(TheGame.Board.HashKey(), TheGame.KeyHistory[0]);
  Game back;
  ASSERT_EQ(ReadBuffer(buffer, back), 0);
  // What came back is the start of the game.
  std::string whole = GameText(TheGame, false), part = GameText(back, false);
  EXPECT_LT(part.size(), whole.size());
  std::size_t common = 0;
  while (common < part.size() && part[common] == whole[common]) common++;
  EXPECT_GT(common, part.size() / 2);
}

// ---------------------------------------------------------------- bad input

TEST_F(CompactRecord, StoredRecordsWithBadMarkersFail) {
  Play(TheGame, {"e4", "e5"});
  Bytes good = Stored(TheGame);
  struct Case {
    const char* Name;
    Bytes Record;
    const char* Message;
  };
  Bytes noBegin = good;
  noBegin[0] = 254;
  Bytes unknownStart = good;
  unknownStart[6] = 251;
  Bytes noTagMarker = good;
  noTagMarker[7] = 1;
  Bytes placeZero = Join({Bytes(good.begin(), good.end() - 2), {0, 0, 0}});
  Bytes placeTooLarge = Join({Bytes(good.begin(), good.end() - 1), {21}});
  Bytes unclosedComment = Join({good, {252, 'a', 'b'}});
  Bytes unclosedFen = Join({Bytes(good.begin(), good.begin() + 6), {248, 'r', 'n', 'b'}});
  Bytes fenTooLong = Join({Bytes(good.begin(), good.begin() + 6), {248}, Bytes(100, '8'), {247}});
  Bytes unclosedTag = Join({Bytes(good.begin(), good.begin() + 7), {254, 1, 'x', 'y'}});
  Bytes fewTags = Join({Bytes(good.begin(), good.begin() + 7), {254, 1, '?', 0, 242, 253}});
  Bytes orphanEnd = Join({good, {245}});
  Bytes leftOpen = Join({good, {246, 1}});
  Bytes atStart = Join({Bytes(good.begin(), good.end() - 2), {246, 1, 245}});
  const Case cases[] = {
      {"no begin marker", noBegin, "ERROR: Expected game begin marker"},
      {"unknown start byte", unknownStart, "ERROR: Unknown start position"},
      {"no tag marker", noTagMarker, "ERROR: Expected gameheader marker\n\tFound: 1"},
      {"place 0", placeZero, "ERROR: File corrupted. Move index 0 is larger than number of possible moves (20)"},
      {"place above the count", placeTooLarge, "Move index 21 is larger than number of possible moves (20)"},
      {"comment without its end", unclosedComment, nullptr},
      {"FEN without its end", unclosedFen, nullptr},
      {"FEN over the limit", fenTooLong, nullptr},
      {"tag text without its end", unclosedTag, nullptr},
      {"six tags", fewTags, nullptr},
      {"245 without 246", orphanEnd, nullptr},
      {"variation left open", leftOpen, nullptr},
      {"variation of the first move", atStart, nullptr},
  };
  for (const Case& c : cases) {
    Game back;
    RecordingGameSink messages;
    EXPECT_EQ(ReadStored(c.Record, back, 1, &messages), 1) << c.Name;
    if (c.Message) {
      EXPECT_NE(messages.Text.find(c.Message), std::string::npos) << c.Name << ": " << messages.Text;
    }
  }
}

TEST_F(CompactRecord, VariationErrorsNameTheirMessageIds) {
  Play(TheGame, {"e4", "e5"});
  Bytes good = Stored(TheGame);
  Bytes tooDeep = good;
  for (int i = 0; i < 101; i++) tooDeep.push_back(246);
  struct Case {
    Bytes Record;
    int Id;
  };
  const Case cases[] = {{Join({good, {245}}), 40}, {Join({good, {246, 1}}), 42}, {tooDeep, 40}};
  for (const Case& c : cases) {
    Game back;
    RecordingGameSink messages;
    EXPECT_EQ(ReadStored(c.Record, back, 1, &messages), 1);
    ASSERT_FALSE(messages.Messages.empty());
    EXPECT_EQ(messages.Messages.back().Id, c.Id);
    Bytes buffer = Buffer(TheGame);
    buffer.pop_back();
    buffer.insert(buffer.end(), c.Record.begin() + static_cast<long>(good.size()), c.Record.end());
    buffer.push_back(255);
    RecordingGameSink bufferMessages;
    EXPECT_EQ(ReadBuffer(buffer, back, &bufferMessages), 1);
    ASSERT_FALSE(bufferMessages.Messages.empty());
    EXPECT_EQ(bufferMessages.Messages.back().Id, c.Id);
  }
}

TEST_F(CompactRecord, BufferFormsWithBadBytesFail) {
  Play(TheGame, {"e4", "e5"});
  Bytes good = Buffer(TheGame);
  Bytes withNag = Join({Bytes(good.begin(), good.end() - 1), {243, 1, 255}});
  Bytes noMovesMarker = good;
  noMovesMarker[DefaultBufferTags.size() + 1] = 252;
  Bytes longTag = Join({{250, 254, 1}, Bytes(81, 'x'), {0, 253, 255}});
  Bytes longFen = Join({{248}, Bytes(91, '8'), {0, 253, 255}});
  Bytes noEnd(good.begin(), good.end() - 1);
  for (const Bytes& bytes : {withNag, noMovesMarker, longTag, longFen, noEnd}) {
    Game back;
    EXPECT_EQ(ReadBuffer(bytes, back), 1);
  }
  RecordingGameSink messages;
  Game back;
  ReadBuffer(withNag, back, &messages);
  EXPECT_NE(messages.Text.find(": Unrecognized tag in Game::CompactRead(): 243"), std::string::npos) << messages.Text;
}

TEST_F(CompactRecord, RecordsOfMoreThan999MovesFailInBothReaders) {
  const char* cycle[] = {"Nf3", "Nf6", "Ng1", "Ng8"};
  for (int i = 0; i < Game::MaxLinePly; i++) Play(TheGame, {cycle[i % 4]});
  TheGame.Rewind();
  Bytes stored = Stored(TheGame);
  Bytes buffer = Buffer(TheGame);
  Game back;
  ASSERT_EQ(ReadStored(stored, back), 0);
  ASSERT_EQ(ReadBuffer(buffer, back), 0);
  // One more knight move, written by hand: its place is that of Nf6 at the start.
  TheGame.Rewind();
  TheGame.Forward();
  GameBoard& board = TheGame.Board;
  board.GenerateMoves();
  int place = 0;
  for (int i = 0; i < board.Moves.Count(); i++)
    if (board.Moves[i].From == 6 && board.Moves[i].To == 21) place = i + 1;
  TheGame.Rewind();
  ASSERT_GT(place, 0);
  stored.push_back(static_cast<unsigned char>(place));
  buffer.back() = static_cast<unsigned char>(place);
  buffer.push_back(255);
  EXPECT_EQ(ReadStored(stored, back), 1);
  EXPECT_EQ(ReadBuffer(buffer, back), 1);
}

TEST_F(CompactRecord, EveryCutOfARecordIsReadWithoutHarm) {
  BuildRichGame(TheGame);
  Bytes stored = Stored(TheGame);
  Bytes buffer = Buffer(TheGame);
  std::size_t movesMarker = 0;
  // The rich game has a game comment: its 251 comes right before the 253.
  while (stored[movesMarker] != 253 || stored[movesMarker - 1] != 251) movesMarker++;
  Game back;
  for (std::size_t length = 1; length < stored.size(); length++) {
    int result = ReadStored(Bytes(stored.begin(), stored.begin() + static_cast<long>(length)), back);
    // Before the moves nothing can be missing; after, a cut between moves
    // with no variation open is a shorter game (the record has no end marker).
    if (length <= movesMarker) {
      EXPECT_EQ(result, 1) << length;
    }
    EXPECT_EQ(back.Ply, 0) << length;
  }
  for (std::size_t length = 0; length < buffer.size(); length++)
    EXPECT_EQ(ReadBuffer(Bytes(buffer.begin(), buffer.begin() + static_cast<long>(length)), back), 1) << length;
}

TEST_F(CompactRecord, RandomAndMutatedRecordsNeverCrash) {
  BuildRichGame(TheGame);
  const Bytes stored = Stored(TheGame);
  const Bytes buffer = Buffer(TheGame);
  std::mt19937 random(20240610);
  Game back;
  SilentGameSink silent;
  for (int round = 0; round < 3000; round++) {
    const Bytes& source = round % 2 ? stored : buffer;
    Bytes bytes = source;
    int changes = 1 + static_cast<int>(random() % 4);
    for (int i = 0; i < changes; i++) bytes[random() % bytes.size()] = static_cast<unsigned char>(random());
    if (round % 7 == 0) {
      bytes.resize(random() % 64);
      for (auto& byte : bytes) byte = static_cast<unsigned char>(random());
    }
    if (round % 2) {
      if (bytes.empty()) continue;
      ReadStored(bytes, back);
    } else {
      back.CompactRead(bytes.data(), static_cast<int>(bytes.size()), silent);
    }
    // Whatever came of it, the game can be walked and written again.
    back.Rewind();
    EXPECT_EQ(back.Ply, 0);
    CompactGameRecord again;
    back.CompactWrite(again.Bytes);
  }
}

TEST_F(CompactRecord, TextBytesEqualToATerminatorAreReplaced) {
  Play(TheGame, {"e4"});
  std::string comment = "caf\xFB";  // Latin-1 u-circumflex, the comment's end byte
  TheGame.Root->SetComment(comment.c_str());
  Game back;
  ASSERT_EQ(ReadStored(Stored(TheGame), back), 0);
  ASSERT_NE(back.Root, nullptr);
  EXPECT_STREQ(back.Root->Comment, "caf?");
}

}  // namespace
