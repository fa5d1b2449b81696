// The real program run as a GUI runs it: standard input and output on pipes,
// lines written one at a time, answers read with a time-out so that a hung
// engine fails its test instead of hanging it.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

// The program of this build, beside the tests' working directory.
inline std::string EngineProgramPath() { return sizeof(void*) == 4 ? "./quelm3-32" : "./quelm3"; }

class EngineProcess {
public:
  // Starts program with the arguments in directory (empty: the current one).
  // Standard error goes to errorFile when one is given.
  explicit EngineProcess(const std::string& program, const std::vector<std::string>& arguments = {},
                         const std::string& directory = "", const std::string& errorFile = "") {
    signal(SIGPIPE, SIG_IGN);
    int toEngine[2], fromEngine[2];
    if (pipe(toEngine) != 0 || pipe(fromEngine) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toEngine[0], 0);
    posix_spawn_file_actions_adddup2(&actions, fromEngine[1], 1);
    if (!errorFile.empty())
      posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addclose(&actions, toEngine[1]);
    posix_spawn_file_actions_addclose(&actions, fromEngine[0]);
    if (!directory.empty()) posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    if (posix_spawn(&Pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) Pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(toEngine[0]);
    close(fromEngine[1]);
    Input = toEngine[1];
    Output = fromEngine[0];
  }

  ~EngineProcess() {
    CloseInput();
    if (Output >= 0) close(Output);
    if (Pid > 0 && !Reaped) {
      kill(Pid, SIGKILL);
      waitpid(Pid, nullptr, 0);
    }
  }
  EngineProcess(const EngineProcess&) = delete;
  EngineProcess& operator=(const EngineProcess&) = delete;

  bool Started() const { return Pid > 0; }

  bool Send(const std::string& line) {
    std::string text = line + "\n";
    return Input >= 0 && write(Input, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  }

  void CloseInput() {
    if (Input >= 0) close(Input);
    Input = -1;
  }

  // The next line without its '\n'; nothing at end of output or time-out.
  std::optional<std::string> ReadLine(int timeoutMs = 30000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      std::size_t end = Pending.find('\n');
      if (end != std::string::npos) {
        std::string line = Pending.substr(0, end);
        Pending.erase(0, end + 1);
        Transcript.push_back(line);
        return line;
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return std::nullopt;
      pollfd wait{Output, POLLIN, 0};
      if (poll(&wait, 1, static_cast<int>(left.count())) <= 0) continue;
      char buffer[4096];
      ssize_t count = read(Output, buffer, sizeof buffer);
      if (count <= 0) return std::nullopt;
      Pending.append(buffer, static_cast<std::size_t>(count));
    }
  }

  // Reads until a line that begins with prefix; nothing on time-out or end.
  std::optional<std::string> ReadUntil(const std::string& prefix, int timeoutMs = 30000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return std::nullopt;
      auto line = ReadLine(static_cast<int>(left.count()));
      if (!line) return std::nullopt;
      if (line->compare(0, prefix.size(), prefix) == 0) return line;
    }
  }

  // Closes the input and waits for the program to end: its exit code, or -1
  // when it had to be killed or ended by a signal.
  int Finish(int timeoutMs = 30000) {
    CloseInput();
    if (Reaped) return Killed || !WIFEXITED(Status) ? -1 : WEXITSTATUS(Status);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    while (waitpid(Pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(Pid, SIGKILL);
        waitpid(Pid, &status, 0);
        Reaped = true;
        Killed = true;
        Status = status;
        return -1;
      }
      // Keep the pipe drained, so that a program still writing can finish.
      char buffer[4096];
      pollfd wait{Output, POLLIN, 0};
      if (poll(&wait, 1, 10) > 0) {
        ssize_t count = read(Output, buffer, sizeof buffer);
        if (count > 0) Pending.append(buffer, static_cast<std::size_t>(count));
      }
    }
    Reaped = true;
    Status = status;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // True when the program has ended by a signal of its own (a crash, not
  // our kill after a time-out). The program's output having ended, its end is
  // awaited for up to a second.
  bool Crashed() {
    for (int waited = 0; !Reaped && waited < 100; waited++) {
      int status = 0;
      if (waitpid(Pid, &status, WNOHANG) == Pid) {
        Reaped = true;
        Status = status;
        break;
      }
      usleep(10000);
    }
    return Reaped && WIFSIGNALED(Status) && !Killed;
  }

  // The threads the program runs now, as the system lists them.
  int Threads() const {
    std::error_code error;
    int count = 0;
    for (std::filesystem::directory_iterator task("/proc/" + std::to_string(Pid) + "/task", error), end;
         !error && task != end; task.increment(error))
      ++count;
    return count;
  }

  // Every line read so far, for failure messages.
  std::string TranscriptText() const {
    std::string text;
    for (const std::string& line : Transcript) text += line + "\n";
    return text;
  }

private:
  pid_t Pid = -1;
  int Input = -1;
  int Output = -1;
  bool Reaped = false;
  bool Killed = false;  // by us, after a time-out
  int Status = 0;       // the wait status, once reaped
  std::string Pending;
  std::vector<std::string> Transcript;
};

// A whole UCI session: "uci", then one "go wtime 2000 btime 2000" for each
// position command, and every line but the options up to each "bestmove";
// then "quit", after which the program must end with 0. A program that did
// not start, or a search that never answers, is a test failure, and the lines
// so far are returned.
inline std::vector<std::string> UciSessionToBestMoves(EngineProcess& engine, const std::vector<std::string>& positions) {
  std::vector<std::string> lines;
  if (!engine.Started()) {
    ADD_FAILURE() << "not started";
    return lines;
  }
  engine.Send("uci");
  for (const std::string& position : positions) {
    engine.Send(position);
    engine.Send("go wtime 2000 btime 2000");
    for (;;) {
      auto line = engine.ReadLine(60000);
      if (!line) {
        ADD_FAILURE() << "no bestmove; transcript:\n" << engine.TranscriptText();
        return lines;
      }
      if (line->rfind("option ", 0) == 0 || line->empty()) continue;
      lines.push_back(*line);
      if (line->rfind("bestmove", 0) == 0) break;
    }
  }
  engine.Send("quit");
  EXPECT_EQ(engine.Finish(), 0);
  return lines;
}
