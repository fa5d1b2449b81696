// The sums, clearing and totals of the per-worker search statistics.
#include "engine/stats.h"

#include <algorithm>

StatisticsBlock Statistics;

namespace {

// Every counter of a record, in one list, so that clearing and adding
// cannot forget one. Depth, selective depth and last score are results, not
// counts; the two times are added separately for record 0 only.
template <class Visit>
void ForEachCount(SearchStatistics& a, const SearchStatistics& b, Visit visit) {
  visit(a.InnerNodes, b.InnerNodes);
  visit(a.QNodes, b.QNodes);
  visit(a.IterationStartNodes, b.IterationStartNodes);
  visit(a.BranchingBase, b.BranchingBase);
  visit(a.BitbaseHits, b.BitbaseHits);
  visit(a.SyzygyHits, b.SyzygyHits);
  visit(a.HashProbes, b.HashProbes);
  visit(a.HashHits, b.HashHits);
  visit(a.HashCutoffs, b.HashCutoffs);
  visit(a.QHashProbes, b.QHashProbes);
  visit(a.QHashHits, b.QHashHits);
  visit(a.QHashCutoffs, b.QHashCutoffs);
  visit(a.NullMoves, b.NullMoves);
  visit(a.NullCutoffs, b.NullCutoffs);
  visit(a.CutNodes, b.CutNodes);
  visit(a.CutNodeOrdering, b.CutNodeOrdering);
  visit(a.CheckExtensions, b.CheckExtensions);
  visit(a.CaptureExtensions, b.CaptureExtensions);
  visit(a.QueenCaptureExtensions, b.QueenCaptureExtensions);
  visit(a.AllNodes, b.AllNodes);
  visit(a.AllNodeOrdering, b.AllNodeOrdering);
  visit(a.AllNodeTotal, b.AllNodeTotal);
  visit(a.FalseAllNodes, b.FalseAllNodes);
  visit(a.QsearchTotal, b.QsearchTotal);
  visit(a.QsearchEfficient, b.QsearchEfficient);
  visit(a.SingularSearches, b.SingularSearches);
  visit(a.SingularExtensions, b.SingularExtensions);
  visit(a.SingularFailures, b.SingularFailures);
  visit(a.WorkTime, b.WorkTime);
  visit(a.IdleTime, b.IdleTime);
  visit(a.Splits, b.Splits);
  visit(a.FailedSplits, b.FailedSplits);
}

template <class Result, class Field>
Result Sum(const StatisticsBlock& block, Field field) {
  Result total = 0;
  for (const SearchStatistics& record : block.Records) total += static_cast<Result>(record.*field);
  return total;
}

}  // namespace

void SearchStatistics::Clear() {
  ForEachCount(*this, *this, [](auto& count, const auto&) { count = 0; });
  Depth = 0;
  EndTime = 0;
  OwnTime = 0;
  SelDepth = 0;
  LastScore = 0;
}

void StatisticsBlock::Clear() {
  for (SearchStatistics& record : Records) record.Clear();
  PawnProbes = 0;
  PawnHits = 0;
}

std::uint64_t StatisticsBlock::InnerNodes() const { return Sum<std::uint64_t>(*this, &SearchStatistics::InnerNodes); }
std::uint64_t StatisticsBlock::QNodes() const { return Sum<std::uint64_t>(*this, &SearchStatistics::QNodes); }
std::uint64_t StatisticsBlock::BitbaseHits() const { return Sum<std::uint64_t>(*this, &SearchStatistics::BitbaseHits); }
std::uint64_t StatisticsBlock::SyzygyHits() const { return Sum<std::uint64_t>(*this, &SearchStatistics::SyzygyHits); }
std::int32_t StatisticsBlock::NullMoves() const { return Sum<std::int32_t>(*this, &SearchStatistics::NullMoves); }
std::int32_t StatisticsBlock::NullCutoffs() const { return Sum<std::int32_t>(*this, &SearchStatistics::NullCutoffs); }
std::int32_t StatisticsBlock::CutNodes() const { return Sum<std::int32_t>(*this, &SearchStatistics::CutNodes); }
std::int32_t StatisticsBlock::AllNodes() const { return Sum<std::int32_t>(*this, &SearchStatistics::AllNodes); }
std::int32_t StatisticsBlock::WorkTime() const { return Sum<std::int32_t>(*this, &SearchStatistics::WorkTime); }
std::int32_t StatisticsBlock::IdleTime() const { return Sum<std::int32_t>(*this, &SearchStatistics::IdleTime); }
std::int32_t StatisticsBlock::Splits() const { return Sum<std::int32_t>(*this, &SearchStatistics::Splits); }

void ClearStatistics() { Statistics.Clear(); }

int GetMaxSelDepth() {
  std::uint32_t deepest = 0;
  for (const SearchStatistics& record : Statistics.Records) deepest = std::max<std::uint32_t>(deepest, record.SelDepth);
  return static_cast<int>(deepest);
}

void AddSearchStatistics(StatisticsBlock& total) {
  for (int i = 0; i < StatisticsRecords; i++)
    ForEachCount(total.Records[i], Statistics.Records[i], [](auto& sum, const auto& count) { sum += count; });
  total.Records[0].EndTime += Statistics.Records[0].EndTime;
  total.Records[0].OwnTime += Statistics.Records[0].OwnTime;
}
