#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "games/gamerecord.h"
#include "record_helpers.h"

namespace {

class PgnReading : public ::testing::Test {
protected:
  void SetUp() override { PrepareGameTables(); }

  // Reads the first game of text; the sink and stream stay for inspection.
  PgnResult ReadFirst(const std::string& text) {
    Stream = std::make_unique<PgnStream>(text);
    return TheGame.ReadPgn(Stream->Input, Sink);
  }
  PgnResult ReadNext() { return TheGame.ReadPgn(Stream->Input, Sink); }

  std::string Tree(bool withNotes = true) {
    std::string out;
    AppendLine(out, TheGame.Root, withNotes);
    return out;
  }
  std::string Tag(int id) {
    const GameTag* tag = TheGame.Tags.Find(id);
    return tag ? tag->ToString() : "(none)";
  }

  Game TheGame;
  RecordingGameSink Sink;
  std::unique_ptr<PgnStream> Stream;
};

const char* const Tags = "[Event \"Test\"]\n[White \"A\"]\n[Black \"B\"]\n";

TEST_F(PgnReading, ReadsAGameAndLeavesItAtItsStart) {
  ASSERT_EQ(ReadFirst(std::string(Tags) + "[Result \"1-0\"]\n\n1. e4 e5 2. Nf3 Nc6 1-0\n"), PgnResult::Game);
  EXPECT_EQ(Tree(), "e2e4 e7e5 g1f3 b8c6 ");
  EXPECT_EQ(TheGame.Current, nullptr);
  EXPECT_EQ(TheGame.Ply, 0);
  EXPECT_EQ(TheGame.Board.HashKey(), TheGame.KeyHistory[0]);
  EXPECT_EQ(Tag(TagEvent), "Test");
  EXPECT_EQ(Tag(TagResult), "1-0");
  EXPECT_EQ(Stream->Input.Line, 6);
  EXPECT_EQ(ReadNext(), PgnResult::End);
  EXPECT_TRUE(Sink.Messages.empty()) << Sink.Text;
}

TEST_F(PgnReading, AGameAtTheVeryEndOfTheInputAlsoStandsAtItsStart) {
  ASSERT_EQ(ReadFirst("[Event \"x\"]\n1. d4 d5 2. c4 *"), PgnResult::Game);
  EXPECT_EQ(TheGame.Current, nullptr);
  EXPECT_EQ(Tree(), "d2d4 d7d5 c2c4 ");
  EXPECT_EQ(ReadNext(), PgnResult::End);
}

TEST_F(PgnReading, ShortGamesAreCountedAndTheNextGameIsReturned) {
  ASSERT_EQ(ReadFirst("[Event \"Short\"]\n1. e4 e5 1-0\n\n[Event \"Long\"]\n1. d4 d5 2. c4 0-1\n"), PgnResult::Game);
  EXPECT_EQ(Tag(TagEvent), "Long");
  EXPECT_EQ(Stream->Input.ShortGames, 1);
  ASSERT_EQ(ReadFirst("[Event \"Short\"]\n1. e4 *\n"), PgnResult::End);
  EXPECT_EQ(Stream->Input.ShortGames, 1);
}

TEST_F(PgnReading, SuffixGlyphsAndNumericNagsAnnotateTheirMoves) {
  ASSERT_EQ(ReadFirst("[Event \"x\"]\n1. e4! e5?! 2. Nf3 $14 Nc6!! 3. Bb5?? a6!? 4. Ba4? $255 *\n"), PgnResult::Game);
  EXPECT_EQ(Tree(), "e2e4$1 e7e5$6 g1f3$14 b8c6$3 f1b5$4 a7a6$5 b5a4$255 ");
}

TEST_F(PgnReading, VariationsBranchFromTheMoveTheyReplace) {
  ASSERT_EQ(ReadFirst("[Event \"x\"]\n1. e4 e5 (1... c5 2. Nf3 (2. Nc3) d6) 2. Nf3 *\n"), PgnResult::Game);
  EXPECT_EQ(Tree(), "e2e4 (c7c5 (b1c3 ) g1f3 d7d6 ) e7e5 g1f3 ");
  // The key history of the main line is whole again after ')'.
  EXPECT_FALSE(TheGame.Forward());
  EXPECT_FALSE(TheGame.Forward());
  std::uint64_t afterE5 = TheGame.Board.HashKey();
  TheGame.Rewind();
  ASSERT_EQ(ReadFirst("[Event \"x\"]\n1. e4 e5 (1... c5) 2. Nf3 Nc6 *\n"), PgnResult::Game);
  EXPECT_EQ(TheGame.KeyHistory[2], afterE5);
}

TEST_F(PgnReading, AnAlternativeFirstMoveIsDroppedWithAWarningAndTheGameKept) {
  ASSERT_EQ(ReadFirst("[Event \"x\"]\n\n1. e4 (1. d4 d5 (1... Nf6)) e5 2. Nf3 *\n"), PgnResult::Game);
  EXPECT_EQ(Tree(), "e2e4 e7e5 g1f3 ");
  ASSERT_EQ(Sink.Messages.size(), 1u) << Sink.Text;
  EXPECT_TRUE(Sink.Messages[0].Warning);
  EXPECT_EQ(Sink.Messages[0].Id, 9);
  EXPECT_EQ(Sink.Messages[0].Line, 3);
}

TEST_F(PgnReading, AnIllegalMoveInASideLineCostsOnlyThatSideLine) {
  ASSERT_EQ(ReadFirst("[Event \"x\"]\n1. e4 e5 (1... c5 2. Nf6 Nc3) 2. Nf3 (2. Bc4) *\n"), PgnResult::Game);
  EXPECT_EQ(Tree(), "e2e4 (c7c5 ) e7e5 (f1c4 ) g1f3 ");
  ASSERT_EQ(Sink.Messages.size(), 1u);
  EXPECT_TRUE(Sink.Messages[0].Warning);
}

TEST_F(PgnReading, CommentsGoToTheGameTheMoveOrTheTermination) {
  ASSERT_EQ(ReadFirst("[Event \"x\"]\n{Before}\n1. e4 {King's\tpawn\r\n  opening} e5 ; rest of line\n2. Nf3 "
                      "{ [%cal Gf3g5] } 1-0 {White won on time}\n"),
            PgnResult::Game);
  EXPECT_STREQ(TheGame.Comment, "Before");
  EXPECT_EQ(Tree(), "e2e4{King's pawn   opening} e7e5{rest of line} g1f3{[%cal Gf3g5] } ");
  EXPECT_EQ(Tag(TagTermination), "White won on time");
  EXPECT_EQ(Tag(TagResult), "1-0");  // from the token: there was no Result tag
}

TEST_F(PgnReading, AResultTokenDoesNotOverrideAResultTag) {
  ASSERT_EQ(ReadFirst("[Result \"1/2-1/2\"]\n1. e4 e5 2. Nf3 1-0\n"), PgnResult::Game);
  EXPECT_EQ(Tag(TagResult), "1/2-1/2");
}

TEST_F(PgnReading, TagValuesTakeEscapesAndKnownNamesOnly) {
  ASSERT_EQ(ReadFirst("[Event \"The \\\"Big\\\" one \\\\ 2\"]\n[White \"\"Name\"\"]\n[Foo \"bar\"]\n[PlyCount \"5\"]\n"
                      "[WhiteElo \"2400\"]\n[29 \"B01\"]\n[10 \"skip\"]\n1. e4 d5 2. exd5 *\n"),
            PgnResult::Game);
  EXPECT_EQ(Tag(TagEvent), "The \"Big\" one \\ 2");
  EXPECT_EQ(Tag(TagWhite), "");
  EXPECT_EQ(Tag(TagWhiteElo), "2400");
  EXPECT_EQ(Tag(TagECO), "B01");
  EXPECT_EQ(TheGame.Tags.Count, 9);
}

TEST_F(PgnReading, FenTagsStartTheGameThere) {
  ASSERT_EQ(ReadFirst("[FEN \"4k3/8/8/8/8/8/4P3/4K3 b - - 0 1\"]\n[SetUp \"1\"]\n1... Kd7 2. e4 Kc6 *\n"),
            PgnResult::Game);
  EXPECT_EQ(TheGame.StartKind, StartFen);
  EXPECT_EQ(TheGame.BlackFirst, 1);
  EXPECT_STREQ(TheGame.StartFenText, "4k3/8/8/8/8/8/4P3/4K3 b - -");
  EXPECT_EQ(Tree(), "e8d7 e2e4 d7c6 ");
  ASSERT_EQ(ReadFirst("[FEN \"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1\"]\n1. e4 e5 2. Nf3 *\n"),
            PgnResult::Game);
  EXPECT_EQ(TheGame.StartKind, StartStandard);
}

TEST_F(PgnReading, CastlingWithTheLetterOAndCoordinateMovesAreRead) {
  ASSERT_EQ(ReadFirst("[Event \"x\"]\n1. e4 e5 2. Nf3 Nc6 3. Bc4 Bc5 4. O-O g8f6 5. e1g1\n"), PgnResult::Error);
  ASSERT_EQ(ReadFirst("[Event \"x\"]\n1. e4 e5 2. Nf3 Nc6 3. Bc4 Bc5 4. O-O g8f6 *\n"), PgnResult::Game);
  EXPECT_EQ(Tree(), "e2e4 e7e5 g1f3 b8c6 f1c4 f8c5 h1h1 g8f6 ");
}

TEST_F(PgnReading, EscapeLinesAndCarriageReturnsAreSkipped) {
  ASSERT_EQ(ReadFirst("% a comment for other programs\r\n[Event \"x\"]\r\n%escaped [Event \"no\"]\r\n"
                      "1. e4 e5\r\n2. Nf3 *\r\n"),
            PgnResult::Game);
  EXPECT_EQ(Tag(TagEvent), "x");
  EXPECT_EQ(Tree(), "e2e4 e7e5 g1f3 ");
  EXPECT_EQ(Stream->Input.Line, 5);
}

// A line ends with LF, CRLF or a lone CR (old Mac files): the same games,
// tags, comments and line numbers come back from each form.
TEST_F(PgnReading, LfCrLfAndLoneCrEndLinesAlike) {
  const std::string games =
      "[Event \"One\"]\n[White \"A\"]\n\n1. e4 e5 ; to the line end\n2. Nf3 {two\nlines} Nc6 1-0\n\n"
      "[Event \"Short\"]\n\n1. d4 d5 *\n\n"
      "% an escaped line\n[Event \"Two\"]\n\n1. c4 e5 2. Nc3 (2. g3 Nf6\n3. Bg2) Nf6\n3. g3 *\n\n"
      "[Event \"Bad\"]\n\n1. e4 e5 2. Ke3 *\n\n"
      "[Event \"Three\"]\n1. f4 d5\n2. Nf3 0-1\n";
  const struct {
    const char* Form;
    const char* LineEnd;
  } forms[] = {{"LF", "\n"}, {"CRLF", "\r\n"}, {"CR", "\r"}};
  struct Read {
    std::string Event, Moves;
    int Line;
    bool operator==(const Read& other) const {
      return Event == other.Event && Moves == other.Moves && Line == other.Line;
    }
  };
  std::vector<Read> expected;
  for (const auto& form : forms) {
    SCOPED_TRACE(form.Form);
    std::string text;
    for (char c : games) {
      if (c == '\n')
        text += form.LineEnd;
      else
        text += c;
    }
    Sink = RecordingGameSink();
    std::vector<Read> read;
    for (PgnResult result = ReadFirst(text); result != PgnResult::End; result = ReadNext()) {
      if (result == PgnResult::Error) {
        read.push_back({"error", "", Stream->Input.Line});
        continue;
      }
      read.push_back({Tag(TagEvent), Tree(), Stream->Input.Line});
    }
    ASSERT_EQ(read.size(), 4u) << Sink.Text;
    EXPECT_EQ(read[0].Event, "One");
    EXPECT_EQ(read[0].Moves, "e2e4 e7e5{to the line end} g1f3{two lines} b8c6 ");
    EXPECT_EQ(read[1].Event, "Two");
    EXPECT_EQ(read[1].Moves, "c2c4 e7e5 (g2g3 g8f6 f1g2 ) b1c3 g8f6 g2g3 ");
    EXPECT_EQ(read[2].Event, "error");
    EXPECT_EQ(read[3].Event, "Three");
    EXPECT_EQ(read[3].Moves, "f2f4 d7d5 g1f3 ");
    EXPECT_EQ(Stream->Input.ShortGames, 1);
    if (expected.empty())
      expected = read;
    else
      EXPECT_TRUE(read == expected);
  }
}

TEST_F(PgnReading, LongCommentsAreCutAndTheGameGoesOn) {
  std::string comment(2 * 1024 * 1024, 'z');
  ASSERT_EQ(ReadFirst("[Event \"x\"]\n1. e4 {" + comment + "} e5 2. Nf3 *\n"), PgnResult::Game);
  ASSERT_NE(TheGame.Root->Comment, nullptr);
  EXPECT_EQ(std::string(TheGame.Root->Comment), std::string(Game::CommentLength, 'z'));
}

TEST_F(PgnReading, AfterAnErrorOnlyABracketThatOpensALineStartsAGame) {
  const std::string text =
      "[Event \"Bad\"]\n1. e4 e5 2. Qxf7 { [%clk 0:01:00] [%cal Gf3g5] } 2... Nc6 *\n"
      "  [Event \"Next\"]\n1. d4 d5 2. c4 *\n";
  ASSERT_EQ(ReadFirst(text), PgnResult::Error);
  ASSERT_EQ(ReadNext(), PgnResult::Game);
  EXPECT_EQ(Tag(TagEvent), "Next");
  EXPECT_EQ(ReadNext(), PgnResult::End);
}

// Each bad game, then a good one: the error names its message id and line,
// and the next call reads the good game.
struct BadGame {
  const char* Name;
  std::string Text;
  int Id;
  int Line;  // 0: the line is not part of the message
};

TEST_F(PgnReading, BadInputNamesItsMessageAndLineAndReadingGoesOn) {
  std::string deep = "[Event \"x\"]\n1. e4 e5 ";
  for (int i = 0; i < 101; i++) deep += "(1... c5 ";
  const BadGame cases[] = {
      {"unclosed tag", "[Event \"x\n1. e4 e5 2. Nf3 *\n", 6, 1},
      {"tag without ]", "[Event \"x\"\n1. e4 *\n", 6, 1},
      {"castling with zeros", "[Event \"x\"]\n1. e4 e5 2. Nf3 Nf6 3. Bc4 Bc5 4. 0-0 *\n", 12, 2},
      {"12-character token", "[Event \"x\"]\n1. e4 e5 2. Nf3abcdefghij *\n", 8, 2},
      {"illegal move", "[Event \"x\"]\n\n1. e4 e5 2. Ke3 *\n", 9, 3},
      {"FEN without kings", "[FEN \"8/8/8/8/8/8/8/8 w - - 0 1\"]\n1. e4 *\n", 7, 1},
      {"$ without a number", "[Event \"x\"]\n1. e4 $ e5 2. Nf3 *\n", 11, 2},
      {"NAG too large", "[Event \"x\"]\n1. e4 $99999999999 e5 2. Nf3 *\n", 11, 2},
      {"NAG of 256", "[Event \"x\"]\n1. e4 $256 e5 2. Nf3 *\n", 11, 2},
      {"NAG before any move", "[Event \"x\"]\n$1 1. e4 e5 2. Nf3 *\n", 11, 2},
      {"variation before any move", "[Event \"x\"]\n(1. d4) 1. e4 e5 2. Nf3 *\n", 40, 2},
      {"101 nested variations", deep, 40, 2},
      {") with none open", "[Event \"x\"]\n1. e4 e5 ) 2. Nf3 *\n", 40, 2},
      {"variation left open", "[Event \"x\"]\n1. e4 e5 (1... c5 2. Nf3 *\n", 40, 2},
      {"NUL byte", std::string("[Event \"x\"]\n1. e4 e5 \0 2. Nf3 *\n", 29), 11, 2},
      {"Latin-1 byte", "[Event \"x\"]\n1. e4 e5 \xE9 2. Nf3 *\n", 11, 2},
      {"bad move number", "[Event \"x\"]\n1. e4 e5 2x Nf3 *\n", 13, 2},
      {"bad result", "[Event \"x\"]\n1. e4 e5 2. Nf3 1-1\n", 12, 2},
  };
  for (const BadGame& c : cases) {
    SCOPED_TRACE(c.Name);
    Sink = RecordingGameSink();
    ASSERT_EQ(ReadFirst(c.Text + "\n[Event \"Next\"]\n1. d4 d5 2. c4 *\n"), PgnResult::Error);
    ASSERT_EQ(Sink.Errors(), 1) << Sink.Text;
    EXPECT_EQ(Sink.Messages.back().Id, c.Id) << Sink.Text;
    EXPECT_EQ(Sink.Messages.back().Line, c.Line) << Sink.Text;
    ASSERT_EQ(ReadNext(), PgnResult::Game) << Sink.Text;
    EXPECT_EQ(Tag(TagEvent), "Next");
  }
}

TEST_F(PgnReading, TheEndOfTheInputInsideAGameIsAnError) {
  struct Case {
    const char* Text;
    int Id;
  } cases[] = {
      {"[Event \"x\"]\n1. e4 e5 2. Nf3", 4},
      {"[Event \"x", 4},
      {"[Event \"x\"]\n1. e4 {never closed", 41},
      {"[Event \"x\"]\n1. e4 (1. d4 d5 (1... Nf6", 4},
  };
  for (const Case& c : cases) {
    Sink = RecordingGameSink();
    EXPECT_EQ(ReadFirst(c.Text), PgnResult::Error) << c.Text;
    ASSERT_EQ(Sink.Errors(), 1) << c.Text;
    EXPECT_EQ(Sink.Messages.back().Id, c.Id) << c.Text;
    EXPECT_EQ(ReadNext(), PgnResult::End);
  }
}

TEST_F(PgnReading, AMissingStreamIsAnError) {
  PgnInput input;
  EXPECT_EQ(TheGame.ReadPgn(input, Sink), PgnResult::Error);
}

}  // namespace
