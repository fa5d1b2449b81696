// The opening-book interface: the generators' seeding, the entry score, the
// pooled positions, the common move choice and the listings.
#include "books/book.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <new>
#include <random>

#include "support/messages.h"
#include "support/output.h"

namespace {

std::uint32_t RandomDeviceAndClock() {
  const auto now = static_cast<std::uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count());
  std::uint32_t value = static_cast<std::uint32_t>(now) ^ static_cast<std::uint32_t>(now >> 32);
  try {
    static std::random_device device;
    value ^= device();
  } catch (const std::exception&) {
    // No entropy source: the clock alone still differs from call to call.
  }
  return value;
}

// Texts of the messages file for Book::Display.
constexpr int MessageBookOpen = 2080, MessageNoBook = 2081;

// A count of games as the scores use it: never below zero.
std::int64_t Games(std::int32_t count) { return std::max<std::int64_t>(count, 0); }

}  // namespace

std::uint32_t (*BookSeedSource)() = RandomDeviceAndClock;

void SeedBookGenerator(MersenneTwister& generator) {
  std::uint32_t key[16];
  for (std::uint32_t& value : key) value = BookSeedSource();
  generator.SeedByArray(key, 16);
}

// ---------------------------------------------------------------- entries

bool BookEntry::SetDB(std::int32_t, std::int32_t, std::int32_t, std::int32_t) { return false; }
bool BookEntry::SetOwn(std::int32_t, std::int32_t, std::int32_t, std::int32_t) { return false; }

int BookEntry::Score(int weightDB, int weightNag, int mmWeight, int minDB, int minOwn, int draw, int popular,
                     std::int64_t total, int mmDepth, int sidelines) const {
  // The figures may come from a damaged file or a remote server: a count
  // below zero counts as no game, and a minimum of zero games (or fewer)
  // asks for none, so that nothing below divides by zero.
  const std::int64_t ownWins = Games(GetOwnWins()), ownDraws = Games(GetOwnDraws());
  const std::int64_t dbWins = Games(GetDBWins()), dbDraws = Games(GetDBDraws());
  // 1-2. The own games' share of the statistics, reduced while fewer own
  // games than wanted were played.
  std::int64_t dbWeight = weightDB, ownWeight = 100 - dbWeight;
  const std::int64_t ownGames = ownWins + ownDraws + Games(GetOwnLosses());
  if (minOwn > 0 && ownGames < minOwn) {
    const std::int64_t reduced = ownGames * ownWeight / minOwn;
    dbWeight = 100 - reduced;
    ownWeight = reduced;
  }
  // 3-4. Results in percent, a draw worth draw percent.
  double ownScore = 0;
  if (ownGames > 0) ownScore = (ownWins * 100.0 + ownDraws * static_cast<double>(draw)) / ownGames;
  const std::int64_t dbGames = dbWins + dbDraws + Games(GetDBLosses());
  double dbScore = dbWins * 100.0 + dbDraws * static_cast<double>(draw);
  if (dbGames > 0) dbScore /= static_cast<double>(dbGames);
  // 5. Rarely played moves get a bonus when sidelines are wanted.
  if (sidelines != 0 && total > 0) {
    const std::int64_t share = dbGames * 100 / total;
    if (share < sidelines) dbScore += static_cast<double>(sidelines - share);
  }
  // 6. Up to 10000 for a move that always wins.
  const double combined = static_cast<double>(dbWeight) * dbScore + static_cast<double>(ownWeight) * ownScore;
  // 7. Confidence grows with the games played, up to the number needed.
  std::int64_t needed = sidelines != 0 ? 0 : std::int64_t{popular} * total / 100;
  needed = std::max<std::int64_t>(needed, minDB);
  std::int64_t confidence = 100;
  if (needed > 0 && dbGames + ownGames < needed) confidence = (dbGames + ownGames) * 100 / needed;
  // 8-9. The minimax score's share grows with its depth.
  std::int64_t mmShare = 0;
  double logistic = 0;
  if (mmDepth > 0) {
    mmShare = GetMinimaxDepth() >= mmDepth ? 100 : std::int64_t{GetMinimaxDepth()} * 100 / mmDepth;
    logistic = 1 / (std::exp(GetMinimaxScore() * -0.01) + 1);
  }
  mmShare = std::min<std::int64_t>({mmShare, mmWeight, 100});
  const std::int64_t rest = 100 - mmShare;
  const std::int64_t dataShare = std::min(confidence, rest);
  const std::int64_t spare = rest - dataShare;
  // 10-12.
  double value = static_cast<double>(dataShare) * combined * 0.0001 + static_cast<double>(mmShare) * logistic;
  if (spare > 0) value += value * 0.009 * static_cast<double>(spare);
  value += GetManual() * static_cast<double>(weightNag) * 0.01;
  // Extreme parameters can carry the value beyond an int, where the
  // conversion would be undefined: it keeps the nearest end instead.
  constexpr double Lowest = std::numeric_limits<int>::min(), Highest = std::numeric_limits<int>::max();
  return static_cast<int>(std::round(std::clamp(value, Lowest, Highest)));
}

void BookEntry::PrintLine() const {
  if (!IsValid()) {
    Printer.Print(ChannelStdout, false, "---\n");
    return;
  }
  // The move and its figures on one stream, so that a redirected listing
  // keeps its lines whole.
  GetMove()->Print(stdout);
  Printer.Print(ChannelStdout, false, "  %3d    %7d/%7d/%7d    %3d/%3d/%3d    ", GetManual(), GetDBWins(), GetDBDraws(),
                GetDBLosses(), GetOwnWins(), GetOwnDraws(), GetOwnLosses());
  if (GetMinimaxDepth() != 0)
    Printer.Print(ChannelStdout, false, "%4d/%2d", GetMinimaxScore(), GetMinimaxDepth());
  else
    Printer.Print(ChannelStdout, false, "   n/a ");
  Printer.Print(ChannelStdout, false, "\t");
  if (GetMinimax2Depth() != 0)
    Printer.Print(ChannelStdout, false, "%4d/%2d\n", GetMinimax2Score(), GetMinimax2Depth());
  else
    Printer.Print(ChannelStdout, false, "   n/a\n");
}

// -------------------------------------------------------------- positions

std::mutex BookPosition::PoolLock;
BookPosition* BookPosition::FreeList = nullptr;
int BookPosition::Made = 0;
int BookPosition::Free = 0;

BookPosition* BookPosition::Allocate() {
  std::lock_guard<std::mutex> guard(PoolLock);
  if (!FreeList) {
    BookPosition* block = new (std::nothrow) BookPosition[BlockPositions];
    if (!block) return nullptr;
    for (int i = 0; i < BlockPositions; i++) block[i].Next = i + 1 < BlockPositions ? &block[i + 1] : nullptr;
    FreeList = block;
    Made += BlockPositions;
    Free += BlockPositions;
  }
  BookPosition* position = FreeList;
  FreeList = position->Next;
  position->Next = nullptr;
  position->Count = 0;
  Free--;
  return position;
}

bool BookPosition::Add(BookEntry* entry) {
  if (Count >= MaxEntries) {
    delete entry;
    return true;
  }
  Entries[Count] = entry;
  Scores[Count] = 0;
  Count++;
  return false;
}

void BookPosition::Release() {
  for (int i = 0; i < Count; i++) {
    delete Entries[i];
    Entries[i] = nullptr;
  }
  Count = 0;
  std::lock_guard<std::mutex> guard(PoolLock);
  Next = FreeList;
  FreeList = this;
  Free++;
}

int BookPosition::MadeCount() {
  std::lock_guard<std::mutex> guard(PoolLock);
  return Made;
}

int BookPosition::FreeCount() {
  std::lock_guard<std::mutex> guard(PoolLock);
  return Free;
}

void BookPosition::ScoreEntries(int weightDB, int weightNag, int mmWeight, int minDB, int minOwn, int draw,
                                int popular, int mmDepth, int sidelines) {
  std::int64_t total = 0;
  for (int i = 0; i < Count; i++)
    total += Games(Entries[i]->GetDBWins()) + Games(Entries[i]->GetDBDraws()) + Games(Entries[i]->GetDBLosses());
  for (int i = 0; i < Count; i++)
    Scores[i] = Entries[i]->Score(weightDB, weightNag, mmWeight, minDB, minOwn, draw, popular, total, mmDepth,
                                  sidelines);
}

void BookPosition::Order(bool favourManual) {
  auto key = [&](int j) {
    std::int64_t k = Scores[j];
    const int manual = Entries[j]->GetManual();
    if (favourManual && manual > 0) k += 1000;
    if (favourManual && manual < 0) k -= 1000;
    return k;
  };
  // A selection sort: among equal keys the earlier entry stays first, and
  // among entries of key 0 the deeper second minimax score decides.
  for (int i = 0; i + 1 < Count; i++) {
    int best = i;
    std::int64_t bestKey = key(i);
    std::int64_t bestMM = Entries[i]->GetMinimax2Depth() > 0 ? Entries[i]->GetMinimax2Score() : -999999;
    for (int j = i + 1; j < Count; j++) {
      const std::int64_t k = key(j);
      if (k > bestKey) {
        best = j;
        bestKey = k;
      } else if (bestKey == 0 && Entries[j]->GetMinimax2Depth() > 0 && Entries[j]->GetMinimax2Score() > bestMM) {
        best = j;
        bestMM = Entries[j]->GetMinimax2Score();
      }
    }
    std::swap(Entries[i], Entries[best]);
    std::swap(Scores[i], Scores[best]);
  }
}

void BookPosition::Print() const {
  for (int i = 0; i < Count; i++) {
    Printer.Print(ChannelStdout, false, "%3d  ", Scores[i]);
    Entries[i]->PrintLine();
  }
}

// ------------------------------------------------------------------ books

Book::Book() { SeedBookGenerator(generator); }

void PickWeightedEntry(const BookPosition& position, std::int64_t* weights, MersenneTwister& generator,
                       GameMove& answer) {
  std::int64_t sum = 0;
  for (int i = 0; i < position.Count; i++) {
    std::int64_t& w = weights[i];
    w = std::max<std::int64_t>(w, 0);
    if (w >= 1000) w -= 1000;
    sum += w;
  }
  if (sum <= 0) return;
  const std::uint64_t r = generator.Next() % static_cast<std::uint64_t>(sum);
  int chosen = position.Count - 1;
  std::uint64_t running = 0;
  for (int i = 0; i < position.Count; i++) {
    running += static_cast<std::uint64_t>(weights[i]);
    if (running > r) {
      chosen = i;
      break;
    }
  }
  const GameMove* move = position.Entries[chosen]->GetMove();
  answer.From = move->From;
  answer.To = move->To;
  answer.Promotion = move->Promotion;
  answer.Valid = move->Valid;
}

GameMove Book::SelectMove(const GameBoard& board) {
  GameMove answer;
  answer.Valid = 0;
  // 1-2.
  if (!open) return answer;
  BookPosition* position = GetBookPosition(board);
  if (!position) return answer;
  if (position->Count == 0) {
    position->Release();
    return answer;
  }
  // 3-4. The getters are virtual: a remote book may ask its server.
  const int sidelines = GetSidelines(), mmDepth = GetMMdepth(), popular = GetPopular(), draw = GetDraw();
  const int minOwn = GetMinOwn(), minDB = GetMinDB(), mmWeight = GetMMweight(), weightNag = GetWeightNag();
  const int weightDB = GetWeightDB();
  position->ScoreEntries(weightDB, weightNag, mmWeight, minDB, minOwn, draw, popular, mmDepth, sidelines);
  const bool manual = GetManual();
  position->Order(manual);
  // 5-6. The best score, manually favoured moves lifted by 1000 when they
  // are deep enough or good enough for the side.
  const std::int64_t sideMin = board.Side == GameBoard::Black ? GetBlackMinscore() : GetWhiteMinscore();
  std::int64_t best = -1;
  for (int i = 0; i < position->Count; i++) {
    const BookEntry& entry = *position->Entries[i];
    std::int64_t s = position->Scores[i];
    if (entry.GetManual() > 0 && manual && (entry.GetMinimaxDepth() >= 22 || s >= sideMin)) s += 1000;
    if (entry.GetManual() < 0) s = -100;
    best = std::max(best, s);
  }
  // 7-9. Weights above the threshold; the boost comes off again unless some
  // favoured move reached 1000 in the first pass.
  std::int64_t threshold = best - GetRandomness();
  if (threshold < sideMin) threshold = sideMin;
  const std::int64_t bias = threshold >= 1000 ? 1000 : 0;
  std::int64_t weights[BookPosition::MaxEntries];
  for (int i = 0; i < position->Count; i++) {
    const BookEntry& entry = *position->Entries[i];
    std::int64_t w = position->Scores[i] - threshold + 1;
    if (entry.GetManual() > 0 && manual && (entry.GetMinimaxDepth() >= 22 || w + bias > 0)) w += 1000;
    weights[i] = w;
  }
  // 10-11. One weighted draw among the entries.
  PickWeightedEntry(*position, weights, generator, answer);
  // 12. The position goes back to its pool on every path.
  position->Release();
  return answer;
}

void Book::Display() {
  Printer.Print(ChannelStdout, false, "%s", Messages.Text(open ? MessageBookOpen : MessageNoBook));
}

void Book::ShowBookMoves(const GameBoard& board) { ShowListing(board, 0, 0); }

void Book::ShowManualListing(const GameBoard& board) {
  BookPosition* position = GetBookPosition(board);
  if (!position) {
    Printer.Print(ChannelStderr, false, "Error: could not initialize search in book\n");
    return;
  }
  // With these parameters an entry's score is its manual value.
  position->ScoreEntries(100, 100, 0, 0, 0, 50, 0, 0, 0);
  position->Order(true);
  position->Print();
  position->Release();
}

void Book::ShowListing(const GameBoard& board, std::int64_t databaseTotal, std::int64_t ownTotal) {
  board.Print(stdout);
  Printer.Print(ChannelStdout, false, "Book moves:\n");
  if (!open) {
    Printer.Print(ChannelStdout, false, "--- No open book ---\n");
    return;
  }
  BookPosition* position = GetBookPosition(board);
  if (!position) {
    Printer.Print(ChannelStderr, false, "Error: could not initialize search in book\n");
    return;
  }
  std::int64_t maxDb = 0, maxOwn = 0;
  for (int i = 0; i < position->Count; i++) {
    maxDb = std::max<std::int64_t>(maxDb, position->Entries[i]->GetDBGames());
    maxOwn = std::max<std::int64_t>(maxOwn, position->Entries[i]->GetOwnGames());
  }
  if (databaseTotal != 0) {
    if (maxDb == 0)
      Printer.Print(ChannelStdout, false, "No database statistics included\n");
    else
      Printer.Print(ChannelStdout, false, "%lld out of %lld database games processed\n", static_cast<long long>(maxDb),
                    static_cast<long long>(databaseTotal));
  }
  if (ownTotal != 0) {
    if (maxOwn == 0)
      Printer.Print(ChannelStdout, false, "No own games statistics included\n");
    else
      Printer.Print(ChannelStdout, false, "%lld out of %lld own games processed\n", static_cast<long long>(maxOwn),
                    static_cast<long long>(ownTotal));
  }
  position->ScoreEntries(GetWeightDB(), GetWeightNag(), GetMMweight(), GetMinDB(), GetMinOwn(), GetDraw(),
                         GetPopular(), GetMMdepth(), GetSidelines());
  position->Order(GetManual());
  position->Print();
  position->Release();
}

void Book::Show() {
  if (!open) {
    Printer.Print(ChannelStdout, false, "%s", Messages.Text(MessageNoBook));
    return;
  }
  Printer.Print(ChannelStderr, false, "Book Move Scoring options:\n");
  Printer.Print(ChannelStderr, false, "\tDatabase games weight:   %3d\n", GetWeightDB());
  Printer.Print(ChannelStderr, false, "\tMinimax depth:           %3d\n", GetMMdepth());
  Printer.Print(ChannelStderr, false, "\tMinimax score weight:    %3d\n", GetMMweight());
  Printer.Print(ChannelStderr, false, "\tManual bonus weight:     %3d\n", GetWeightNag());
  Printer.Print(ChannelStderr, false, "\tMinimum nr of db games:  %3d\n", GetMinDB());
  Printer.Print(ChannelStderr, false, "\tMinimum nr of own games: %3d\n", GetMinOwn());
  Printer.Print(ChannelStderr, false, "\tWeight of draw scores:   %3d\n", GetDraw());
  if (GetSidelines() != 0)
    Printer.Print(ChannelStderr, false, "\tFavour sidelines up to:  %3d%%\n", GetSidelines());
  else
    Printer.Print(ChannelStderr, false, "\tMinimum popularity:      %3d\n", GetPopular());
  Printer.Print(ChannelStderr, false, "Book Move Selection options:\n");
  if (GetManual()) Printer.Print(ChannelStderr, false, "\tFavour moves with manual score\n");
  Printer.Print(ChannelStderr, false, "\tMinimum white score: %3d\n", GetWhiteMinscore());
  Printer.Print(ChannelStderr, false, "\tMinimum black score: %3d\n", GetBlackMinscore());
  Printer.Print(ChannelStderr, false, "\tRandomness:          %3d\n", GetRandomness());
  if (GetUpdate() != 0) Printer.Print(ChannelStdout, false, "The Position file will be updated with each move\n");
  if (GetSaveGames() != 0) Printer.Print(ChannelStdout, false, "New games will be saved in this database\n");
}
