// The numbered texts of the messages file ("english.lng"): book, database and
// file code report through them. Ids 0-43 and 2000-2081 are in use; a missing
// text falls back to text 0.
#pragma once

#include <cstdio>

class MessageTable {
public:
  static constexpr int Size = 5000;

  MessageTable() = default;
  ~MessageTable();
  MessageTable(const MessageTable&) = delete;
  MessageTable& operator=(const MessageTable&) = delete;

  // Reads the messages file format from an open text stream; later lines with
  // the same id replace earlier ones.
  void Read(std::FILE* file);
  // The text of id, else text 0, else an empty text (never null).
  const char* Text(int id) const;
  void Clear();

private:
  char* Texts[Size] = {};
};

extern MessageTable Messages;

// Reads "english.lng" into Messages. False when the file cannot be opened.
bool LoadMessagesFile(const char* language);
