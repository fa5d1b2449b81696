// The game record of the games-and-books side: a start position, the header
// tags, and a tree of moves with variations, comments and NAGs, with a board
// that always shows the position at the current node. The two byte forms
// live in compact.cpp, the PGN reader in pgn.cpp.
#pragma once

#include <cstdint>
#include <cstdio>

#include "games/gameboard.h"
#include "games/gamemove.h"
#include "games/gamesink.h"
#include "games/tags.h"
#include "support/pool.h"

class BinFile;
class Game;

// One move of the tree. A node owns its move, its comment, its main child and
// every variation below it. Nodes come from GameNodePool.
class GameNode {
public:
  explicit GameNode(const GameMove& move);
  ~GameNode();
  GameNode(const GameNode&) = delete;
  GameNode& operator=(const GameNode&) = delete;

  // A node from the pool holding a copy of move; null when no memory is left.
  static GameNode* Create(const GameMove& move);
  // Frees this subtree: moves, comments, variations, main line, the nodes.
  void Destroy();
  // A deep copy of this subtree whose top node has the given parent; null
  // when memory ran out (nothing is then left allocated).
  GameNode* Clone(GameNode* parent) const;

  // The child for move: the main child when it is that move, else the
  // variation with it, else a new node (the main child when there is none,
  // otherwise the last variation). Null when no node could be had.
  GameNode* AddVariation(const GameMove& move);
  GameNode* AddMove(const GameMove& move) { return AddVariation(move); }
  // The child for move as the main line: an existing variation with it is
  // promoted and the old main child goes to the front of the variations.
  GameNode* AddMainLine(const GameMove& move);

  // Stores in every node of this subtree its place in the move list of the
  // position before it. The game's board shows the position before this
  // node and is left so, also after a failure; true on failure.
  bool AssignMoveIndices(Game& game);

  // Move text at a line width (see Game::Print).
  void PrintMove(GameSink& sink, int ply, int& indent, int width, int& column) const;
  void PrintLine(GameSink& sink, int ply, int& indent, int width, int& column, bool& interrupted) const;

  // Replaces the comment (null or empty: none); the text is copied.
  void SetComment(const char* text);

  PooledGameMove* Move = nullptr;
  char* Comment = nullptr;
  std::int32_t Nag = 0;
  GameNode* MainChild = nullptr;
  GameNode* Parent = nullptr;
  PooledList<GameNode*> Variations;  // the alternatives to the main child, in order
};

// The pool of tree nodes: grows by blocks of 20, never gives memory back.
class GameNodePool {
public:
  static constexpr int BlockNodes = 20;
  // Raw storage for one node, null when no memory is left.
  static void* Alloc();
  static void Free(void* node);
};

// PGN input across calls: the stream, its line count and what the reader
// has to remember between games.
struct PgnInput {
  std::FILE* Stream = nullptr;
  int Line = 0;             // line ends read so far
  int ShortGames = 0;       // games dropped for fewer than 3 main-line moves
  bool AtLineStart = true;  // the next character opens a line
};

// The three answers of Game::ReadPgn.
enum class PgnResult { Game, End, Error };

// Start kinds.
enum GameStartKind : std::int32_t { StartStandard = 1, StartChess960 = 2, StartFen = 3 };

class Game {
public:
  // The key history holds the start and at most this many moves of a line.
  static constexpr int MaxLinePly = 999;
  // One limit for start FEN texts everywhere: GetFen writes at most 81
  // characters (eight full ranks of single pieces, all four rook letters
  // and an en-passant square); 90 leaves room and fits every reader.
  static constexpr int StartFenLength = 90;
  // The longest comment kept (PGN and the stored record alike).
  static constexpr int CommentLength = 1023;

  Game();
  ~Game();
  Game(const Game&) = delete;
  Game& operator=(const Game&) = delete;

  // Frees the tree, the comment and the tags; the game needs a Reset before
  // further use.
  void Clear();
  // A new game from the standard start; true on failure.
  bool Reset();
  // A new game from a FEN (at most StartFenLength characters); true when
  // refused or when the board refuses the text.
  bool SetStartFen(const char* fen);
  // A new game from Chess960 start position 1..960.
  bool SetStartFrc(int number);

  // Walk the current line: true when there is no move to play or take back.
  bool Forward();
  bool Back();
  // Back to the start position.
  void Rewind();

  // Plays a record filled by GameBoard::PlayMove (no legality test) and adds
  // it at the current node. True when refused (place 0, the line too deep,
  // no node); the game is then unchanged.
  bool AddMove(const GameMove& record);
  // Coordinate text or SAN; true when unreadable or illegal (game unchanged).
  bool AddMoveText(const char* text);
  // As AddMoveText, but never replaces the first move of the game, and adds
  // below the root as a variation of the current node.
  bool AddVariationMoveText(const char* text);

  // Makes this game a deep copy of other, standing at its start position
  // whatever node other stands at.
  bool CopyFrom(const Game& other);
  // The tags, start, comment and move tree as text, 80 columns wide.
  void Print(GameSink& sink) const;
  // Replaces the game comment (null or empty: none).
  void SetComment(const char* text);

  // Stored record (compact.cpp): written at the file's position; true on
  // failure. The game is at its start afterwards, also after a failure.
  bool CompactWriteFile(BinFile& file, int rookSquareRule);
  // Reads the stored record at the file's position; 0 on success, 1 on
  // failure. A record has no end marker: it ends where the next begins, and
  // the reader consumes that next 255. Read records by seeking to their
  // offset, never one after the other.
  int CompactReadFile(BinFile& file, std::uint8_t& flags, int rookSquareRule, GameSink& sink);
  // Buffer form (the remote book's wire form): writes at most
  // CompactGameRecord::Size bytes into buffer and returns the length.
  int CompactWrite(std::uint8_t* buffer);
  // Reads a buffer form of length bytes; 0 on success, 1 on failure.
  int CompactRead(const std::uint8_t* buffer, int length, GameSink& sink);

  // The next game of a PGN stream (pgn.cpp). A game comes back standing at
  // its start; after an error the next call goes on with the next game.
  PgnResult ReadPgn(PgnInput& input, GameSink& sink);

  // The hash of the stored record: the low halves of the keys of the start
  // and of every main-line position, XOR-ed. Leaves the game at its start.
  std::uint32_t ComputeGameHash();

  GameNode* Root = nullptr;
  GameNode* Current = nullptr;
  TagList Tags;
  GameBoard Board;
  std::int32_t StartKind = StartStandard;
  std::int32_t Chess960Number = 0;
  char StartFenText[StartFenLength + 1] = {};
  std::int32_t BlackFirst = 0;
  char* Comment = nullptr;
  std::uint32_t GameHash = 0;
  bool GameHashUpToDate = false;
  std::uint64_t KeyHistory[MaxLinePly + 1] = {};
  std::int32_t Ply = 0;
  std::int32_t GameNumber = 0;

private:
  // The common part of Reset, SetStartFen and SetStartFrc.
  void StartAfresh();
  bool SetBoardFromStart();
  // Adds an already played record at the current node.
  GameNode* AttachAtCurrent(const GameMove& record);
  // The move is already on the board: node, when there is one, becomes the
  // current node one ply on; without one the move is taken back and the call
  // fails (true).
  bool EnterPlayedMove(GameNode* node, const GameMove& record);
  bool AddPlayedMoveText(const char* text, bool asVariation);
};

// Descriptions of the NAGs below NagTextCount; entries 0..6 (the glyphs) are
// empty.
constexpr int NagTextCount = 140;
extern const char* const NagTexts[NagTextCount];

// Copies text (at most length characters) into a new heap text, replacing
// nothing; null for an empty text.
char* CopyGameText(const char* text, int length);
