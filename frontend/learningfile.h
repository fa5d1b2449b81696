// The learning file: the run's learning table read from and saved to disk.
#pragma once

#include <cstdint>

#include "engine/learning.h"

// The learning file "quelm.plf" in the current directory. Save never leaves a
// half-written file behind: the table goes to "quelm.plf.tmp" beside it, is
// forced to the disk and then renamed over the old file, under an advisory
// lock that keeps two engines in one directory from saving at once. Under
// that lock Save first reads the file as it is now and merges it into the
// table, so that what another engine saved meanwhile is kept: of two records
// of one position the deeper wins, and at equal depth this table's, the
// newer (the rule the table itself follows).
class LearningFile : public Learning {
public:
  static constexpr const char* DefaultName = "quelm.plf";
  // How long a save waits for another program's save before it skips.
  int LockWaitMs = 5000;

  ~LearningFile() override;
  bool Load() override;
  bool Close() override;
  bool Save() override;

  char* LearningFileName = nullptr;  // null until the first Load

  // What the last Load found: records kept in the table (new positions or
  // merged into known ones), records refused for a depth no search can have,
  // records rejected for a score beyond the limits, records dropped because
  // their bucket was full, and the bytes of a part record at the end.
  std::uint32_t RecordsRead = 0;
  std::uint32_t RecordsRefused = 0;
  std::uint32_t RecordsRejected = 0;
  std::uint32_t RecordsDropped = 0;
  std::uint32_t TrailingBytes = 0;

private:
  const char* FileName();
  struct ReadCounts {
    std::uint32_t Kept = 0, Refused = 0, Rejected = 0, Dropped = 0, Trailing = 0;
  };
  // Reads the file's sound records into the table and counts what it found;
  // true when the file cannot be opened. tablePrevails: a record does not
  // replace an entry of the same depth (a save's merge, where the table is
  // the newer; a load lets the later record win, as a search would).
  bool ReadInto(const char* name, bool tablePrevails, ReadCounts& counts);
};

// Start-up with learning on: makes the run's table, reads the learning file
// into it and tells the front end what came of it.
void OpenLearning();
