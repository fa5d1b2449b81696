// Registration of the tables on the path, the hash that finds them by
// material, and the treatment of files that cannot serve: reported once,
// then missing, and the program runs on.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <future>
#include <thread>

#include "support/capture.h"
#include "tablebase/registry.h"
#include "tablebase_helpers.h"

namespace {

// Every table name of a full six-man set, in the order of registration.
std::vector<std::string> FullSetNames() {
  const char* l = "KQRBNP";
  std::vector<std::string> names;
  auto add = [&](std::string white, std::string black) { names.push_back("K" + white + "vK" + black); };
  auto s = [&](int i) { return std::string(1, l[i]); };
  for (int i = 1; i < 6; i++) add(s(i), "");
  for (int i = 1; i < 6; i++)
    for (int j = i; j < 6; j++) add(s(i), s(j));
  for (int i = 1; i < 6; i++)
    for (int j = i; j < 6; j++) add(s(i) + s(j), "");
  for (int i = 1; i < 6; i++)
    for (int j = i; j < 6; j++)
      for (int k = 1; k < 6; k++) add(s(i) + s(j), s(k));
  for (int i = 1; i < 6; i++)
    for (int j = i; j < 6; j++)
      for (int k = j; k < 6; k++) add(s(i) + s(j) + s(k), "");
  for (int i = 1; i < 6; i++)
    for (int j = i; j < 6; j++)
      for (int k = i; k < 6; k++)
        for (int m = (i == k ? j : k); m < 6; m++) add(s(i) + s(j), s(k) + s(m));
  for (int i = 1; i < 6; i++)
    for (int j = i; j < 6; j++)
      for (int k = j; k < 6; k++)
        for (int m = 1; m < 6; m++) add(s(i) + s(j) + s(k), s(m));
  for (int i = 1; i < 6; i++)
    for (int j = i; j < 6; j++)
      for (int k = j; k < 6; k++)
        for (int m = k; m < 6; m++) add(s(i) + s(j) + s(k) + s(m), "");
  return names;
}

// Counts by colour * 8 + table code from a name.
void NameCounts(const std::string& name, std::uint8_t counts[16]) {
  std::fill(counts, counts + 16, 0);
  int colour = 0;
  for (char c : name) {
    if (c == 'v') colour = 8;
    else counts[colour + 6 - static_cast<int>(std::string("KQRBNP").find(c))]++;
  }
}

void Touch(const std::string& path) { std::ofstream(path, std::ios::binary); }

void CopyFile(const std::filesystem::path& from, const std::string& to) {
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
}

// Registers a directory with the output captured.
std::string InitCaptured(const TemporaryDirectory& scratch, const std::string& path) {
  StreamCapture out(1, scratch / "stdout.txt");
  InitTablebases(path.c_str());
  return out.Finish();
}

int WdlOf(const char* fen, int& success) {
  ChessGame game;
  EXPECT_FALSE(game.SetFEN(fen)) << fen;
  success = 0;
  return ProbeWdl(game, &success);
}

class RegistryTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(Scratch.Ready()); }
  // The shared tables come back for the tests that follow.
  void TearDown() override { InitTablebases(""); }
  TemporaryDirectory Scratch;
};

TEST_F(RegistryTest, HoldsEveryTableOfAFullSixManSet) {
  const std::vector<std::string> names = FullSetNames();
  ASSERT_EQ(names.size(), 510u);
  for (const std::string& name : names) Touch(Scratch / (name + ".rtbw"));
  const std::string output = InitCaptured(Scratch, Scratch.Path.string());
  EXPECT_EQ(output, "Found 510 tablebases.\n");
  EXPECT_EQ(TbRegisteredCount(), 510);
  EXPECT_EQ(TbMaxMen, 6);
  for (const std::string& name : names) {
    std::uint8_t counts[16];
    NameCounts(name, counts);
    for (bool mirror : {false, true}) {
      const TbEntry* entry = FindTbEntry(CalcKeyFromPieces(counts, mirror));
      ASSERT_NE(entry, nullptr) << name << (mirror ? " mirrored" : "");
      EXPECT_EQ(entry->Key, CalcKeyFromPieces(counts, false)) << name;
    }
  }
}

TEST_F(RegistryTest, SearchesTheDirectoriesInOrderAndSkipsEmptyParts) {
  REQUIRE_SHARED_FILE(kqk, "syzygy/KQvK.rtbw");
  std::filesystem::create_directory(Scratch / "one");
  std::filesystem::create_directory(Scratch / "two");
  CopyFile(kqk, Scratch / "one/KQvK.rtbw");
  Touch(Scratch / "two/KQvK.rtbw");  // hidden behind the first directory's file
  CopyFile(SharedDataPath("syzygy/KRvK.rtbw"), Scratch / "two/KRvK.rtbw");
  const std::string output = InitCaptured(Scratch, Scratch / "one" + ";;" + Scratch / "two" + ";");
  EXPECT_EQ(output, "Found 2 tablebases.\n");
  EXPECT_EQ(TbMaxMen, 3);
  int success;
  EXPECT_EQ(WdlOf("8/8/8/3k4/8/8/8/KQ6 w - - 0 1", success), 2);
  EXPECT_EQ(success, 1);
  EXPECT_EQ(WdlOf("8/8/8/3k4/8/8/8/KR6 b - - 0 1", success), -2);
  EXPECT_EQ(success, 1);
}

// A FIFO or a directory named like a table is no table: it is passed over
// for the next directory's file, and the FIFO, which no one writes, must not
// hold the registration up.
TEST_F(RegistryTest, OnlyRegularFilesCountAsTables) {
  std::filesystem::create_directory(Scratch / "one");
  std::filesystem::create_directory(Scratch / "two");
  ASSERT_EQ(mkfifo((Scratch / "one/KQvK.rtbw").c_str(), 0600), 0);
  std::filesystem::create_directory(Scratch / "one/KRvK.rtbw");
  Touch(Scratch / "two/KQvK.rtbw");
  const std::string path = Scratch / "one" + ";" + Scratch / "two";
  std::packaged_task<std::string()> registration([&] { return InitCaptured(Scratch, path); });
  std::future<std::string> output = registration.get_future();
  std::thread worker(std::move(registration));
  if (output.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
    ADD_FAILURE() << "the registration waits on the FIFO";
    // A writer lets the blocked open go on, so that the test can end.
    const int writer = open((Scratch / "one/KQvK.rtbw").c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) close(writer);
  }
  worker.join();
  EXPECT_EQ(output.get(), "Found 1 tablebases.\n");
  EXPECT_EQ(TbRegisteredCount(), 1);
}

TEST_F(RegistryTest, EmptyPathRegistersNothingAndSaysNothing) {
  Touch(Scratch / "KQvK.rtbw");
  for (const char* path : {"", "<empty>", ";;"}) {
    EXPECT_EQ(InitCaptured(Scratch, path), "") << path;
    EXPECT_EQ(TbMaxMen, 0) << path;
    EXPECT_EQ(TbRegisteredCount(), 0) << path;
  }
}

TEST_F(RegistryTest, OneTableServesBothColours) {
  REQUIRE_SHARED_FILE(kqk, "syzygy/KQvK.rtbw");
  CopyFile(kqk, Scratch / "KQvK.rtbw");
  EXPECT_EQ(InitCaptured(Scratch, Scratch.Path.string()), "Found 1 tablebases.\n");
  int success;
  EXPECT_EQ(WdlOf("8/8/8/3k4/8/8/8/KQ6 w - - 0 1", success), 2);
  EXPECT_EQ(success, 1);
  EXPECT_EQ(WdlOf("kq6/8/8/8/3K4/8/8/8 b - - 0 1", success), 2);
  EXPECT_EQ(success, 1);
  EXPECT_EQ(WdlOf("kq6/8/8/8/3K4/8/8/8 w - - 0 1", success), -2);
  EXPECT_EQ(success, 1);
  // Without its DTZ file the distance is unknown, not zero.
  ChessGame game;
  ASSERT_FALSE(game.SetFEN("8/8/8/3k4/8/8/8/KQ6 w - - 0 1"));
  ProbeDtz(game, &success);
  EXPECT_EQ(success, 0);
  EXPECT_FALSE(RootProbe(game));
}

TEST_F(RegistryTest, BareKingsAreADrawWithoutALookUp) {
  InitTablebases("");
  ChessGame game;
  ASSERT_FALSE(game.SetFEN("8/8/8/3k4/8/8/8/K7 w - - 0 1"));
  int success = 7;
  EXPECT_EQ(ProbeWdlTable(game, &success), 0);
  EXPECT_EQ(success, 7);
}

// A file that cannot serve is reported at its first probe and fails that
// probe and every later one silently; the other tables work on.
struct DamagedFile {
  const char* What;
  std::function<std::vector<unsigned char>(std::vector<unsigned char>)> Damage;
};

TEST_F(RegistryTest, DamagedFilesAreReportedOnceAndTreatedAsMissing) {
  REQUIRE_SHARED_FILE(kqk, "syzygy/KQvK.rtbw");
  std::ifstream in(kqk, std::ios::binary);
  const std::vector<unsigned char> good{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::ifstream otherIn(SharedDataPath("syzygy/KRvK.rtbw"), std::ios::binary);
  const std::vector<unsigned char> other{std::istreambuf_iterator<char>(otherIn), std::istreambuf_iterator<char>()};
  const std::vector<DamagedFile> cases = {
      {"empty", [](auto) { return std::vector<unsigned char>{}; }},
      {"magic only", [](auto bytes) { return std::vector<unsigned char>(bytes.begin(), bytes.begin() + 4); }},
      {"truncated", [](auto bytes) { return std::vector<unsigned char>(bytes.begin(), bytes.begin() + bytes.size() / 2); }},
      {"bad magic", [](auto bytes) { bytes[0] ^= 0xff; return bytes; }},
      {"DTZ magic", [](auto bytes) { bytes[0] = 0xd7; bytes[1] = 0x66; bytes[2] = 0x0c; bytes[3] = 0xa5; return bytes; }},
      {"another table's file", [&other](auto) { return other; }},
      {"headers beyond the end", [](auto bytes) { bytes.resize(64); return bytes; }},
  };
  for (const DamagedFile& damaged : cases) {
    SCOPED_TRACE(damaged.What);
    std::filesystem::create_directory(Scratch / damaged.What);
    const std::string directory = Scratch / damaged.What;
    const auto bytes = damaged.Damage(good);
    std::ofstream(directory + "/KQvK.rtbw", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    CopyFile(SharedDataPath("syzygy/KRvK.rtbw"), directory + "/KRvK.rtbw");
    EXPECT_EQ(InitCaptured(Scratch, directory), "Found 2 tablebases.\n");

    StreamCapture first(1, Scratch / "first.txt");
    int success;
    WdlOf("8/8/8/3k4/8/8/8/KQ6 w - - 0 1", success);
    const std::string report = first.Finish();
    EXPECT_EQ(success, 0);
    EXPECT_EQ(report, "Corrupted table.\n");

    StreamCapture later(1, Scratch / "later.txt");
    WdlOf("kq6/8/8/8/3K4/8/8/8 b - - 0 1", success);
    EXPECT_EQ(success, 0);
    EXPECT_EQ(WdlOf("8/8/8/3k4/8/8/8/KR6 w - - 0 1", success), 2);
    EXPECT_EQ(success, 1);
    EXPECT_EQ(later.Finish(), "");
  }
}

TEST_F(RegistryTest, ThreadsMappingATableAtOnceAllSeeItWhole) {
  REQUIRE_SHARED_FILE(tables, "syzygy/KRPvKR.rtbw");
  std::mt19937 random(5);
  std::vector<std::string> fens;
  for (const char* name : {"KRPvKR", "KBNvKR", "KPvKP", "KQvKR", "KRvKB"})
    for (int n = 0; n < 40;) {
      std::string fen;
      if (RandomFen(name, random, fen)) {
        fens.push_back(fen);
        n++;
      }
    }
  for (int round = 0; round < 3; round++) {
    InitTablebases(tables.parent_path().string().c_str());
    constexpr int Threads = 8;
    std::vector<std::vector<int>> results(Threads, std::vector<int>(fens.size()));
    std::vector<std::thread> workers;
    for (int t = 0; t < Threads; t++)
      workers.emplace_back([&, t] {
        for (std::size_t i = 0; i < fens.size(); i++) {
          ChessGame game;
          game.SetFEN(fens[i].c_str());
          int success = 0;
          const int wdl = ProbeWdl(game, &success);
          results[t][i] = success ? wdl : -99;
        }
      });
    for (std::thread& worker : workers) worker.join();
    for (std::size_t i = 0; i < fens.size(); i++) {
      ChessGame game;
      game.SetFEN(fens[i].c_str());
      int success = 0;
      const int wdl = ProbeWdl(game, &success);
      ASSERT_NE(success, 0) << fens[i];
      for (int t = 0; t < Threads; t++) EXPECT_EQ(results[t][i], wdl) << fens[i];
    }
  }
}

}  // namespace
