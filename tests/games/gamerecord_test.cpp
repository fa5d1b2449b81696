#include "games/gamerecord.h"

#include <gtest/gtest.h>

#include <string>

#include "record_helpers.h"

namespace {

class GameRecord : public ::testing::Test {
protected:
  void SetUp() override {
    PrepareGameTables();
    ASSERT_FALSE(TheGame.Reset());
  }
  void Play(std::initializer_list<const char*> moves) {
    for (const char* move : moves) ASSERT_FALSE(TheGame.AddMoveText(move)) << move;
  }
  std::string Tree(bool withNotes = true) {
    std::string out;
    AppendLine(out, TheGame.Root, withNotes);
    return out;
  }
  // The board agrees with the current node when its key is the one the
  // history holds and replaying from the start reaches it.
  void ExpectBoardAtCurrentNode() {
    EXPECT_EQ(TheGame.Board.HashKey(), TheGame.KeyHistory[TheGame.Ply]);
    int depth = 0;
    for (GameNode* node = TheGame.Current; node; node = node->Parent) depth++;
    EXPECT_EQ(depth, TheGame.Ply);
  }

  Game TheGame;
};

TEST_F(GameRecord, GoingBackAndPlayingAnotherMoveMakesAVariationAndPrintsIt) {
  Play({"e4", "e5", "Nf3", "Nc6"});
  ASSERT_FALSE(TheGame.Back());
  ASSERT_FALSE(TheGame.Back());
  Play({"Nc3"});
  EXPECT_EQ(Tree(), "e2e4 e7e5 (b1c3 ) g1f3 b8c6 ");
  TheGame.Rewind();
  std::string printed = Printed(TheGame);
  std::string moves = printed.substr(printed.find("1.e4"));
  EXPECT_EQ(moves, "1.e4 e5 2.Nf3 \n   2.Nc3 \n2..Nc6 \n");
}

TEST_F(GameRecord, PrintsTagsStartAndCommentBeforeTheMoves) {
  ASSERT_FALSE(TheGame.SetStartFrc(100));
  TheGame.SetComment("Before the game");
  std::string printed = Printed(TheGame);
  EXPECT_EQ(printed,
            "Event: ?\nSite: ?\nDate: ????.??.??\nRound: 1\nWhite: ?\nBlack: ?\nResult: *\n"
            "Startposition: FRC position number 100\n\nBefore the game\nstart position\n");
}

TEST_F(GameRecord, BlackFirstGamesNumberTheirMovesFromTheEllipsis) {
  ASSERT_FALSE(TheGame.SetStartFen("4k3/8/8/8/8/8/4P3/4K3 b - -"));
  Play({"Kd7", "e4", "Kc6", "e5"});
  std::string printed = Printed(TheGame);
  EXPECT_NE(printed.find("Startposition: 4k3/8/8/8/8/8/4P3/4K3 b - -\n1. ... Kd7 2.e4 Kc6 3.e5 \n"), std::string::npos)
      << printed;
}

TEST_F(GameRecord, NagsPrintAsGlyphsTextsOrNumbers) {
  Play({"e4", "e5", "Nf3"});
  GameNode* e4 = TheGame.Root;
  e4->Nag = 3;
  e4->MainChild->Nag = 14;
  e4->MainChild->MainChild->Nag = 146;  // beyond the table of texts
  e4->MainChild->MainChild->SetComment("a comment");
  TheGame.Rewind();
  std::string printed = Printed(TheGame);
  EXPECT_NE(printed.find("1.e4!! e5 \n   White has a slight advantage\n2.Nf3 $146 \n   a comment\n"), std::string::npos)
      << printed;
}

TEST_F(GameRecord, LongLinesWrapAtEightyColumns) {
  Play({"Nf3", "Nf6", "Ng1", "Ng8"});
  for (int i = 0; i < 12; i++) Play({"Nf3", "Nf6", "Ng1", "Ng8"});
  TheGame.Rewind();
  std::string printed = Printed(TheGame);
  std::string moves = printed.substr(printed.find("1.Nf3"));
  std::size_t start = 0;
  int lines = 0;
  while (start < moves.size()) {
    std::size_t end = moves.find('\n', start);
    EXPECT_LE(end - start, 80u) << moves.substr(start, end - start);
    start = end + 1;
    lines++;
  }
  EXPECT_GT(lines, 2);
}

TEST_F(GameRecord, AMainLineMoveFromAnotherFirstMoveReplacesTheTreeButAVariationIsRefused) {
  Play({"e4", "e5"});
  TheGame.Rewind();
  EXPECT_TRUE(TheGame.AddVariationMoveText("d4"));
  EXPECT_EQ(TheGame.Current, nullptr);
  EXPECT_EQ(TheGame.Ply, 0);
  ExpectBoardAtCurrentNode();
  EXPECT_EQ(Tree(), "e2e4 e7e5 ");
  // The same first move is no replacement.
  ASSERT_FALSE(TheGame.AddVariationMoveText("e4"));
  TheGame.Rewind();
  ASSERT_FALSE(TheGame.AddMoveText("d4"));
  EXPECT_EQ(Tree(), "d2d4 ");
}

TEST_F(GameRecord, IllegalOrUnreadableMovesLeaveTheGameUnchanged) {
  Play({"e4"});
  for (const char* text : {"e4", "Ke2x", "Qh5", "zz", "e7e5q", ""}) {
    EXPECT_TRUE(TheGame.AddMoveText(text)) << text;
    EXPECT_EQ(Tree(), "e2e4 ");
    ExpectBoardAtCurrentNode();
  }
}

TEST_F(GameRecord, AddMainLinePromotesAVariationAndPutsTheOldMainChildFirst) {
  Play({"e4", "e5"});
  TheGame.Back();
  Play({"c5"});
  TheGame.Back();
  Play({"e6"});
  TheGame.Rewind();
  TheGame.Forward();
  EXPECT_EQ(Tree(), "e2e4 (c7c5 ) (e7e6 ) e7e5 ");
  GameMove c5;
  c5.FromText("c7c5");
  GameNode* node = TheGame.Root->AddMainLine(c5);
  EXPECT_EQ(node, TheGame.Root->MainChild);
  EXPECT_EQ(Tree(), "e2e4 (e7e5 ) (e7e6 ) c7c5 ");
  GameMove d5;
  d5.FromText("d7d5");
  TheGame.Root->AddMainLine(d5);
  EXPECT_EQ(Tree(), "e2e4 (c7c5 ) (e7e5 ) (e7e6 ) d7d5 ");
}

TEST_F(GameRecord, Chess960StartsAreNumberedOneTo960) {
  ASSERT_FALSE(TheGame.SetStartFrc(518));
  EXPECT_EQ(TheGame.StartKind, StartChess960);
  EXPECT_STREQ(TheGame.Board.GetFen(), "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -");
  EXPECT_TRUE(TheGame.SetStartFrc(0));
  EXPECT_TRUE(TheGame.SetStartFrc(961));
}

TEST_F(GameRecord, StartFensLongerThanTheLimitAreRefused) {
  std::string fen = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -";
  fen += std::string(Game::StartFenLength - fen.size(), ' ');
  EXPECT_FALSE(TheGame.SetStartFen(fen.c_str()));
  EXPECT_TRUE(TheGame.SetStartFen((fen + " ").c_str()));
  EXPECT_TRUE(TheGame.SetStartFen("8/8/8/8/8/8/8/8 w - -"));
}

TEST_F(GameRecord, LinesHoldAtMost999MovesWhicheverWayTheyArePlayed) {
  // Knights out and back: 999 moves, then the 1000th is refused.
  const char* cycle[] = {"Nf3", "Nf6", "Ng1", "Ng8"};
  for (int i = 0; i < Game::MaxLinePly; i++) ASSERT_FALSE(TheGame.AddMoveText(cycle[i % 4])) << i;
  EXPECT_TRUE(TheGame.AddMoveText(cycle[Game::MaxLinePly % 4]));
  EXPECT_EQ(TheGame.Ply, Game::MaxLinePly);
  // A tree grown past the bound by hand cannot be walked past it.
  GameMove record;
  ASSERT_NE(TheGame.Board.PlayMove(GameMove().FromText("f6g8"), record), 0);
  TheGame.Board.UnmakeMove(record);
  TheGame.Current->MainChild = GameNode::Create(record);
  TheGame.Current->MainChild->Parent = TheGame.Current;
  EXPECT_TRUE(TheGame.Forward());
  EXPECT_EQ(TheGame.Ply, Game::MaxLinePly);
  TheGame.Rewind();
  EXPECT_EQ(TheGame.Ply, 0);
  EXPECT_EQ(TheGame.Board.HashKey(), TheGame.KeyHistory[0]);
}

TEST_F(GameRecord, CopyOfAGameAwayFromItsStartStandsAtTheStart) {
  Play({"e4", "e5", "Nf3"});
  TheGame.Back();
  TheGame.Back();
  Play({"c5"});
  TheGame.Root->SetComment("first");
  TheGame.Root->Nag = 1;
  TheGame.SetComment("game");
  Game copy;
  ASSERT_FALSE(copy.CopyFrom(TheGame));
  EXPECT_EQ(copy.Current, nullptr);
  EXPECT_EQ(copy.Ply, 0);
  EXPECT_EQ(copy.Board.HashKey(), TheGame.KeyHistory[0]);
  EXPECT_EQ(GameText(copy), GameText(TheGame));
  // The copy is a game of its own: walking it replays the moves.
  ASSERT_FALSE(copy.Forward());
  ASSERT_FALSE(copy.Forward());
  EXPECT_STREQ(copy.Board.GetFen(), "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq -");
  copy.Rewind();
  TheGame.Rewind();
  EXPECT_EQ(Printed(copy), Printed(TheGame));
}

TEST_F(GameRecord, AssignMoveIndicesStoresEachPlaceAndLeavesTheBoardAsItWas) {
  Play({"e4", "e5", "Nf3"});
  TheGame.Back();
  Play({"d4"});
  TheGame.Rewind();
  for (GameNode* node = TheGame.Root; node; node = node->MainChild) node->Move->Place = 0;
  TheGame.Root->MainChild->Variations.Head->Element->Move->Place = 0;
  ASSERT_FALSE(TheGame.Root->AssignMoveIndices(TheGame));
  EXPECT_EQ(TheGame.Root->Move->Place, 10);  // e2e4: the 10th move of the start
  EXPECT_GT(TheGame.Root->MainChild->Move->Place, 0);
  EXPECT_GT(TheGame.Root->MainChild->MainChild->Move->Place, 0);
  EXPECT_GT(TheGame.Root->MainChild->Variations.Head->Element->Move->Place, 0);
  EXPECT_EQ(TheGame.Current, nullptr);
  EXPECT_EQ(TheGame.Ply, 0);
  EXPECT_EQ(TheGame.Board.HashKey(), TheGame.KeyHistory[0]);
}

TEST_F(GameRecord, AssignMoveIndicesFailsOnAMoveThatCannotBePlayedAndUnwinds) {
  Play({"e4", "e5", "Nf3"});
  TheGame.Rewind();
  // A move that is not legal after e4 e5.
  TheGame.Root->MainChild->MainChild->Move->FromText("a1a5");
  EXPECT_TRUE(TheGame.Root->AssignMoveIndices(TheGame));
  EXPECT_EQ(TheGame.Current, nullptr);
  EXPECT_EQ(TheGame.Ply, 0);
  EXPECT_STREQ(TheGame.Board.GetFen(), "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -");
}

TEST_F(GameRecord, CloneAndDestroyKeepThePoolsBalanced) {
  Play({"e4", "e5", "Nf3"});
  TheGame.Back();
  Play({"d4"});
  TheGame.Root->SetComment("x");
  GameNode* copy = TheGame.Root->Clone(nullptr);
  ASSERT_NE(copy, nullptr);
  std::string original, cloned;
  AppendLine(original, TheGame.Root, true);
  AppendLine(cloned, copy, true);
  EXPECT_EQ(cloned, original);
  EXPECT_EQ(copy->MainChild->Parent, copy);
  EXPECT_EQ(copy->MainChild->Variations.Head->Element->Parent, copy->MainChild);
  copy->Destroy();
}

}  // namespace
