// A front end that records what the board code tells it, with a chosen
// protocol; installed as ActiveFrontEnd for the length of a scope.
#pragma once

#include <string>
#include <vector>

#include "engine/frontendport.h"

class StubFrontEnd : public FrontEnd {
public:
  explicit StubFrontEnd(ProtocolKind kind) : Saved(ActiveFrontEnd) {
    Kind = kind;
    ActiveFrontEnd = this;
  }
  ~StubFrontEnd() override { ActiveFrontEnd = Saved; }

  int Run() override { return 0; }
  void StartUp() override {}
  void Prompt() override {}
  void SearchStarted() override {}
  void SendCurrentMove(int, const Move*, int, int) override {}
  void SendStatus(int) override {}
  bool SendCurrentLine(int, int) override { return false; }
  bool SendPv(int, char, int, int) override { return false; }
  bool SendMultiPv(int, int, int) override { return false; }
  bool SendRefutation(const Move*, int) override { return false; }
  void SendWhisper() override {}
  bool GetPost() override { return false; }
  void SetPost(bool) override {}
  void Info(const char* text) override { Infos.push_back(text); }
  int HandleCommand(const char*) override { return 0; }
  int HandleCommandThinking(const char*) override { return 0; }
  int HandleCommandPondering(const char*) override { return 0; }
  int HandleCommandAnalysing(const char*) override { return 0; }
  int HandleCommandAfterAnalysis(const char*) override { return 0; }
  void SendBestMove() override {}
  void SendError(const char* context, const char* text) override { Errors.push_back(std::string(context) + ": " + text); }
  void Quit() override {}

  std::vector<std::string> Infos;
  std::vector<std::string> Errors;

private:
  FrontEnd* Saved;
};
