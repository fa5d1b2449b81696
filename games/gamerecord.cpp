// The variation tree, its pool, the walk along the current line and the
// printed move text.
#include "games/gamerecord.h"

#include <cstring>
#include <mutex>
#include <new>

namespace {

constexpr const char* StandardStartFen = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -";

// Glyphs of NAGs 1..6, as PGN writes them after a move.
constexpr const char* NagGlyphs[7] = {"", "!", "?", "!!", "??", "!?", "?!"};

}  // namespace

// NAG descriptions; the glyphs 1..6 are printed as signs instead.
const char* const NagTexts[NagTextCount] = {
    "", "", "", "", "", "", "",  // 0..6: the glyphs, printed as signs
    "Forced move (all others lose quickly)",  // 7
    "Singular move (no reasonable alternatives)",  // 8
    "Worst move",  // 9
    "Drawish position",  // 10
    "Equal chances, quiet position",  // 11
    "Equal chances, active position",  // 12
    "Unclear position",  // 13
    "White has a slight advantage",  // 14
    "Black has a slight advantage",  // 15
    "White has a moderate advantage",  // 16
    "Black has a moderate advantage",  // 17
    "White has a decisive advantage",  // 18
    "Black has a decisive advantage",  // 19
    "White has a crushing advantage (Black should resign)",  // 20
    "Black has a crushing advantage (White should resign)",  // 21
    "White is in zugzwang",  // 22
    "Black is in zugzwang",  // 23
    "White has a slight space advantage",  // 24
    "Black has a slight space advantage",  // 25
    "White has a moderate space advantage",  // 26
    "Black has a moderate space advantage",  // 27
    "White has a decisive space advantage",  // 28
    "Black has a decisive space advantage",  // 29
    "White has a slight time (development) advantage",  // 30
    "Black has a slight time (development) advantage",  // 31
    "White has a moderate time (development) advantage",  // 32
    "Black has a moderate time (development) advantage",  // 33
    "White has a decisive time (development) advantage",  // 34
    "Black has a decisive time (development) advantage",  // 35
    "White has the initiative",  // 36
    "Black has the initiative",  // 37
    "White has a lasting initiative",  // 38
    "Black has a lasting initiative",  // 39
    "White has the attack",  // 40
    "Black has the attack",  // 41
    "White has insufficient compensation for material deficit",  // 42
    "Black has insufficient compensation for material deficit",  // 43
    "White has sufficient compensation for material deficit",  // 44
    "Black has sufficient compensation for material deficit",  // 45
    "White has more than adequate compensation for material deficit",  // 46
    "Black has more than adequate compensation for material deficit",  // 47
    "White has a slight center control advantage",  // 48
    "Black has a slight center control advantage",  // 49
    "White has a moderate center control advantage",  // 50
    "Black has a moderate center control advantage",  // 51
    "White has a decisive center control advantage",  // 52
    "Black has a decisive center control advantage",  // 53
    "White has a slight kingside control advantage",  // 54
    "Black has a slight kingside control advantage",  // 55
    "White has a moderate kingside control advantage",  // 56
    "Black has a moderate kingside control advantage",  // 57
    "White has a decisive kingside control advantage",  // 58
    "Black has a decisive kingside control advantage",  // 59
    "White has a slight queenside control advantage",  // 60
    "Black has a slight queenside control advantage",  // 61
    "White has a moderate queenside control advantage",  // 62
    "Black has a moderate queenside control advantage",  // 63
    "White has a decisive queenside control advantage",  // 64
    "Black has a decisive queenside control advantage",  // 65
    "White has a vulnerable first rank",  // 66
    "Black has a vulnerable first rank",  // 67
    "White has a well protected first rank",  // 68
    "Black has a well protected first rank",  // 69
    "White has a poorly protected king",  // 70
    "Black has a poorly protected king",  // 71
    "White has a well protected king",  // 72
    "Black has a well protected king",  // 73
    "White has a poorly placed king",  // 74
    "Black has a poorly placed king",  // 75
    "White has a well placed king",  // 76
    "Black has a well placed king",  // 77
    "White has a very weak pawn structure",  // 78
    "Black has a very weak pawn structure",  // 79
    "White has a moderately weak pawn structure",  // 80
    "Black has a moderately weak pawn structure",  // 81
    "White has a moderately strong pawn structure",  // 82
    "Black has a moderately strong pawn structure",  // 83
    "White has a very strong pawn structure",  // 84
    "Black has a very strong pawn structure",  // 85
    "White has poor knight placement",  // 86
    "Black has poor knight placement",  // 87
    "White has good knight placement",  // 88
    "Black has good knight placement",  // 89
    "White has poor bishop placement",  // 90
    "Black has poor bishop placement",  // 91
    "White has good bishop placement",  // 92
    "Black has good bishop placement",  // 93
    "White has poor rook placement",  // 94
    "Black has poor rook placement",  // 95
    "White has good rook placement",  // 96
    "Black has good rook placement",  // 97
    "White has poor queen placement",  // 98
    "Black has poor queen placement",  // 99
    "White has good queen placement",  // 100
    "Black has good queen placement",  // 101
    "White has poor piece coordination",  // 102
    "Black has poor piece coordination",  // 103
    "White has good piece coordination",  // 104
    "Black has good piece coordination",  // 105
    "White has played the opening very poorly",  // 106
    "Black has played the opening very poorly",  // 107
    "White has played the opening poorly",  // 108
    "Black has played the opening poorly",  // 109
    "White has played the opening well",  // 110
    "Black has played the opening well",  // 111
    "White has played the opening very well",  // 112
    "Black has played the opening very well",  // 113
    "White has played the middlegame very poorly",  // 114
    "Black has played the middlegame very poorly",  // 115
    "White has played the middlegame poorly",  // 116
    "Black has played the middlegame poorly",  // 117
    "White has played the middlegame well",  // 118
    "Black has played the middlegame well",  // 119
    "White has played the middlegame very well",  // 120
    "Black has played the middlegame very well",  // 121
    "White has played the ending very poorly",  // 122
    "Black has played the ending very poorly",  // 123
    "White has played the ending poorly",  // 124
    "Black has played the ending poorly",  // 125
    "White has played the ending well",  // 126
    "Black has played the ending well",  // 127
    "White has played the ending very well",  // 128
    "Black has played the ending very well",  // 129
    "White has slight counterplay",  // 130
    "Black has slight counterplay",  // 131
    "White has moderate counterplay",  // 132
    "Black has moderate counterplay",  // 133
    "White has decisive counterplay",  // 134
    "Black has decisive counterplay",  // 135
    "White has moderate time control pressure",  // 136
    "Black has moderate time control pressure",  // 137
    "White has severe time control pressure",  // 138
    "Black has severe time control pressure",  // 139
};

char* CopyGameText(const char* text, int length) {
  if (!text || !*text) return nullptr;
  int size = static_cast<int>(strnlen(text, static_cast<std::size_t>(length)));
  char* copy = new (std::nothrow) char[static_cast<std::size_t>(size) + 1];
  if (!copy) return nullptr;
  std::memcpy(copy, text, static_cast<std::size_t>(size));
  copy[size] = 0;
  return copy;
}

// ---------------------------------------------------------------- node pool

namespace {

std::mutex GameNodePoolLock;
void* FreeGameNodes = nullptr;  // each free node's first bytes link to the next

union NodeStorage {
  alignas(GameNode) unsigned char Bytes[sizeof(GameNode)];
  void* Next;
};

}  // namespace

void* GameNodePool::Alloc() {
  std::lock_guard<std::mutex> guard(GameNodePoolLock);
  if (!FreeGameNodes) {
    NodeStorage* block = new (std::nothrow) NodeStorage[BlockNodes];
    if (!block) return nullptr;
    for (int i = 0; i < BlockNodes; i++) block[i].Next = i + 1 < BlockNodes ? &block[i + 1] : nullptr;
    FreeGameNodes = block;
  }
  NodeStorage* node = static_cast<NodeStorage*>(FreeGameNodes);
  FreeGameNodes = node->Next;
  return node;
}

void GameNodePool::Free(void* node) {
  std::lock_guard<std::mutex> guard(GameNodePoolLock);
  static_cast<NodeStorage*>(node)->Next = FreeGameNodes;
  FreeGameNodes = node;
}

// ---------------------------------------------------------------- nodes

GameNode::GameNode(const GameMove& move) : Move(PooledGameMove::Alloc(move)) {}

GameNode::~GameNode() {
  if (Move) Move->Delete();
  delete[] Comment;
}

GameNode* GameNode::Create(const GameMove& move) {
  void* storage = GameNodePool::Alloc();
  if (!storage) return nullptr;
  GameNode* node = new (storage) GameNode(move);
  if (!node->Move) {
    node->~GameNode();
    GameNodePool::Free(storage);
    return nullptr;
  }
  return node;
}

void GameNode::Destroy() {
  // Along the main line by a loop, so that a long line costs no stack.
  GameNode* node = this;
  while (node) {
    for (auto* link = node->Variations.Head; link; link = link->Next) link->Element->Destroy();
    node->Variations.Clear();
    GameNode* next = node->MainChild;
    node->~GameNode();
    GameNodePool::Free(node);
    node = next;
  }
}

GameNode* GameNode::Clone(GameNode* parent) const {
  GameNode* top = nullptr;
  GameNode* last = parent;
  for (const GameNode* source = this; source; source = source->MainChild) {
    GameNode* copy = Create(*source->Move);
    bool failed = !copy;
    if (copy) {
      copy->Nag = source->Nag;
      if (source->Comment) {
        copy->Comment = CopyGameText(source->Comment, Game::CommentLength);
        failed = !copy->Comment;
      }
      copy->Parent = last;
      for (auto* link = source->Variations.Head; link && !failed; link = link->Next) {
        GameNode* variation = link->Element->Clone(copy);
        failed = !variation || copy->Variations.Append(variation);
        if (variation && failed) variation->Destroy();
      }
      if (last && last != parent) last->MainChild = copy;
      if (!top) top = copy;
    }
    if (failed) {
      if (top) top->Destroy();
      else if (copy) copy->Destroy();
      return nullptr;
    }
    last = copy;
  }
  return top;
}

GameNode* GameNode::AddVariation(const GameMove& move) {
  if (MainChild && MainChild->Move->SameMove(move)) return MainChild;
  for (auto* link = Variations.Head; link; link = link->Next)
    if (link->Element->Move->SameMove(move)) return link->Element;
  GameNode* node = Create(move);
  if (!node) return nullptr;
  node->Parent = this;
  if (!MainChild) {
    MainChild = node;
  } else if (Variations.Append(node)) {
    node->Destroy();
    return nullptr;
  }
  return node;
}

GameNode* GameNode::AddMainLine(const GameMove& move) {
  if (MainChild && MainChild->Move->SameMove(move)) return MainChild;
  GameNode* chosen = nullptr;
  for (auto* link = Variations.First(); link; link = Variations.Next()) {
    if (!link->Element->Move->SameMove(move)) continue;
    chosen = link->Element;
    Variations.RemoveCurrent();
    break;
  }
  if (!chosen) {
    chosen = Create(move);
    if (!chosen) return nullptr;
    chosen->Parent = this;
  }
  if (MainChild) {
    // The old main line goes first among the alternatives.
    auto* link = PooledList<GameNode*>::AllocNode();
    if (!link) {
      if (chosen->Parent == this && chosen != MainChild) Variations.Append(chosen);
      return nullptr;
    }
    link->Element = MainChild;
    link->Next = Variations.Head;
    if (Variations.Head)
      Variations.Head->Previous = link;
    else
      Variations.Tail = link;
    Variations.Head = link;
    Variations.Count++;
  }
  MainChild = chosen;
  return chosen;
}

void GameNode::SetComment(const char* text) {
  delete[] Comment;
  Comment = CopyGameText(text, Game::CommentLength);
}

namespace {

// Plays node's move on the game's board from the position before it, stores
// the record that play gives (its place included) and makes it current.
bool PlayNodeFresh(Game& game, GameNode* node) {
  if (game.Ply >= Game::MaxLinePly) return true;
  GameMove record;
  if (!game.Board.PlayMove(*node->Move, record)) return true;
  static_cast<GameMove&>(*node->Move) = record;
  game.Current = node;
  game.Ply++;
  game.KeyHistory[game.Ply] = game.Board.HashKey();
  return false;
}

// A line from first along the main children, each node's variations from
// the position after it; every move played is taken back, failure or not.
bool AssignLine(Game& game, GameNode* first) {
  int played = 0;
  bool failed = false;
  for (GameNode* node = first; node && !failed; node = node->MainChild) {
    if (PlayNodeFresh(game, node)) {
      failed = true;
      break;
    }
    played++;
    for (auto* link = node->Variations.Head; link && !failed; link = link->Next)
      failed = AssignLine(game, link->Element);
  }
  while (played-- > 0) game.Back();
  return failed;
}

}  // namespace

bool GameNode::AssignMoveIndices(Game& game) {
  game.Current = Parent;
  return AssignLine(game, this);
}

// ---------------------------------------------------------------- printing

namespace {

void Emit(GameSink& sink, const char* text, int indent, int width, int& column) {
  int length = static_cast<int>(std::strlen(text));
  if (column + length > width && column > indent) {
    sink.Printf("\n%*s", indent, "");
    column = indent;
  }
  sink.Write(text);
  column += length;
}

void NewLine(GameSink& sink, int indent, int& column) {
  sink.Printf("\n%*s", indent, "");
  column = indent;
}

// A text on a line of its own, indented 3 further, then back at the indent.
void WriteAside(GameSink& sink, const char* text, int indent, int& column) {
  sink.Printf("\n%*s%s\n%*s", indent + 3, "", text, indent, "");
  column = indent;
}

}  // namespace

void GameNode::PrintMove(GameSink& sink, int ply, int& indent, int width, int& column) const {
  char text[64];
  int length = 0;
  if (ply % 2 == 0) length = std::snprintf(text, sizeof text, "%d.", ply / 2 + 1);
  std::snprintf(text + length, sizeof text - static_cast<std::size_t>(length), "%s%s", Move->ToSan(),
                Nag >= 1 && Nag <= 6 ? NagGlyphs[Nag] : "");
  Emit(sink, text, indent, width, column);
  // NAGs beyond the table have no text: they keep their number.
  if (Nag >= NagTextCount) {
    std::snprintf(text, sizeof text, " $%d", static_cast<int>(Nag));
    Emit(sink, text, indent, width, column);
  }
  sink.Write(" ");
  column++;
  if (Nag > 6 && Nag < NagTextCount && NagTexts[Nag][0]) WriteAside(sink, NagTexts[Nag], indent, column);
  if (Comment) WriteAside(sink, Comment, indent, column);
}

void GameNode::PrintLine(GameSink& sink, int ply, int& indent, int width, int& column, bool& interrupted) const {
  char number[24];
  for (const GameNode* node = this; node; node = node->MainChild, ply++) {
    const GameNode* next = node->MainChild;
    if (next) {
      if (interrupted) {
        interrupted = false;
        NewLine(sink, indent, column);
        if (ply % 2 == 0) {
          std::snprintf(number, sizeof number, "%d..", ply / 2 + 1);
          Emit(sink, number, indent, width, column);
        }
      }
      next->PrintMove(sink, ply + 1, indent, width, column);
    }
    if (!node->Variations.Head) continue;
    column++;
    indent += 3;
    NewLine(sink, indent, column);
    for (auto* link = node->Variations.Head; link; link = link->Next) {
      const GameNode* variation = link->Element;
      if (ply % 2 == 0) {
        std::snprintf(number, sizeof number, "%d..", ply / 2 + 1);
        Emit(sink, number, indent, width, column);
      }
      variation->PrintMove(sink, ply + 1, indent, width, column);
      variation->PrintLine(sink, ply + 1, indent, width, column, interrupted);
      if (link->Next) {
        sink.Write(";");
        NewLine(sink, indent, column);
      }
    }
    indent -= 3;
    interrupted = true;
  }
}

// ---------------------------------------------------------------- the game

Game::Game() {
  Tags.SetDefaults();
  KeyHistory[0] = Board.HashKey();
}

Game::~Game() { Clear(); }

void Game::Clear() {
  if (Root) Root->Destroy();
  Root = Current = nullptr;
  SetComment(nullptr);
  Board.Moves.Clear();
  Board.MoveListBuilt = 0;
  Tags.Clear();
}

void Game::SetComment(const char* text) {
  delete[] Comment;
  Comment = CopyGameText(text, CommentLength);
}

void Game::StartAfresh() {
  if (Root) Root->Destroy();
  Root = Current = nullptr;
  SetComment(nullptr);
  Tags.SetDefaults();
  StartKind = StartStandard;
  Chess960Number = 0;
  StartFenText[0] = 0;
  BlackFirst = 0;
  GameHashUpToDate = false;
  Ply = 0;
}

bool Game::SetBoardFromStart() {
  bool failed = false;
  switch (StartKind) {
    case StartChess960:
      failed = Chess960Number < 1 || Chess960Number > 960 || Board.SetFen(Chess960Fens()[Chess960Number]);
      break;
    case StartFen:
      failed = Board.SetFen(StartFenText);
      break;
    default:
      failed = Board.SetFen(StandardStartFen);
      break;
  }
  BlackFirst = !failed && Board.Side == GameBoard::Black ? 1 : 0;
  KeyHistory[0] = Board.HashKey();
  return failed;
}

bool Game::Reset() {
  StartAfresh();
  return SetBoardFromStart();
}

bool Game::SetStartFen(const char* fen) {
  if (!fen || strnlen(fen, StartFenLength + 1) > static_cast<std::size_t>(StartFenLength)) return true;
  StartAfresh();
  StartKind = StartFen;
  std::snprintf(StartFenText, sizeof StartFenText, "%s", fen);
  return SetBoardFromStart();
}

bool Game::SetStartFrc(int number) {
  if (number < 1 || number > 960) return true;
  StartAfresh();
  StartKind = StartChess960;
  Chess960Number = number;
  return SetBoardFromStart();
}

bool Game::Forward() {
  GameNode* next = Current ? Current->MainChild : Root;
  // The key history bounds every line, however it is walked.
  if (!next || Ply >= MaxLinePly) return true;
  Board.MakeMove(*next->Move);
  Current = next;
  Ply++;
  KeyHistory[Ply] = Board.HashKey();
  return false;
}

bool Game::Back() {
  if (!Current) return true;
  Board.UnmakeMove(*Current->Move);
  Current = Current->Parent;
  if (Ply > 0) Ply--;
  return false;
}

void Game::Rewind() {
  while (!Back()) {
  }
}

GameNode* Game::AttachAtCurrent(const GameMove& record) {
  if (Current) return Current->AddVariation(record);
  if (Root && Root->Move->SameMove(record)) return Root;
  GameNode* node = GameNode::Create(record);
  if (!node) return nullptr;
  if (Root) Root->Destroy();
  Root = node;
  return node;
}

bool Game::AddMove(const GameMove& record) {
  if (!record.Valid || record.Place == 0 || Ply >= MaxLinePly) return true;
  Board.MakeMove(record);
  return EnterPlayedMove(AttachAtCurrent(record), record);
}

bool Game::EnterPlayedMove(GameNode* node, const GameMove& record) {
  if (!node) {
    Board.UnmakeMove(record);
    return true;
  }
  Current = node;
  Ply++;
  KeyHistory[Ply] = Board.HashKey();
  GameHashUpToDate = false;
  return false;
}

bool Game::AddPlayedMoveText(const char* text, bool asVariation) {
  if (!text || Ply >= MaxLinePly) return true;
  GameMove move;
  move.FromText(text);
  if (!move.Valid) move = *Board.ParseSan(text);
  if (!move.Valid) return true;
  GameMove record;
  if (!Board.PlayMove(move, record)) return true;
  // A variation at the start position never replaces the game's first move.
  const bool refused = asVariation && !Current && Root && !Root->Move->SameMove(record);
  return EnterPlayedMove(refused ? nullptr : AttachAtCurrent(record), record);
}

bool Game::AddMoveText(const char* text) { return AddPlayedMoveText(text, false); }

bool Game::AddVariationMoveText(const char* text) { return AddPlayedMoveText(text, true); }

bool Game::CopyFrom(const Game& other) {
  if (&other == this) return false;
  StartAfresh();
  Tags.Copy(other.Tags);
  StartKind = other.StartKind;
  Chess960Number = other.Chess960Number;
  std::memcpy(StartFenText, other.StartFenText, sizeof StartFenText);
  Board.RookSquareOption = other.Board.RookSquareOption;
  // From the start, whatever node the source stands at: its board shows
  // the current node's position, which would disagree with ours.
  bool failed = SetBoardFromStart();
  SetComment(other.Comment);
  GameHash = other.GameHash;
  GameHashUpToDate = other.GameHashUpToDate;
  GameNumber = other.GameNumber;
  if (other.Root) {
    Root = other.Root->Clone(nullptr);
    failed = failed || !Root;
  }
  return failed;
}

std::uint32_t Game::ComputeGameHash() {
  Rewind();
  std::uint32_t hash = static_cast<std::uint32_t>(Board.HashKey());
  while (!Forward()) hash ^= static_cast<std::uint32_t>(Board.HashKey());
  Rewind();
  GameHash = hash;
  GameHashUpToDate = true;
  return hash;
}

void Game::Print(GameSink& sink) const {
  for (const auto* node = Tags.Head; node; node = node->Next)
    sink.Printf("%s: %s\n", TagNames[node->Element.Id], node->Element.ToString());
  if (StartKind == StartChess960) sink.Printf("Startposition: FRC position number %d\n", static_cast<int>(Chess960Number));
  if (StartKind == StartFen) sink.Printf("Startposition: %s\n", StartFenText);
  if (Comment) sink.Printf("\n%s\n", Comment);
  if (!Root) {
    sink.Write("start position\n");
    return;
  }
  constexpr int Width = 80;
  int ply = 0, indent = 0, column = 0;
  bool interrupted = false;
  if (BlackFirst) {
    sink.Write("1. ... ");
    column = 7;
    ply = 1;
  }
  Root->PrintMove(sink, ply, indent, Width, column);
  Root->PrintLine(sink, ply, indent, Width, column, interrupted);
  sink.Write("\n");
}
