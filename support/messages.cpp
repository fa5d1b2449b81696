// The messages table and the reader of the messages file.
#include "support/messages.h"

#include <cstdlib>
#include <cstring>
#include <string>

MessageTable Messages;

namespace {

constexpr int MaxLineLength = 1023;

// One line as the messages file defines it: it ends at '\n', at a NUL byte or
// after 1023 characters. A last line without '\n' does not count.
bool ReadMessageLine(std::FILE* file, std::string& line) {
  line.clear();
  for (;;) {
    int c = std::fgetc(file);
    if (c == EOF) return false;
    if (c == '\n' || c == '\0') return true;
    line.push_back(static_cast<char>(c));
    if (line.size() == MaxLineLength) return true;
  }
}

bool IsDelimiter(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The id token in decimal; -1 when it is not a number in 0..4999. A word that
// is no number must not land on id 0 (as a plain atoi would), or a stray line
// would replace the fallback text.
int ParseId(const char* token, std::size_t length) {
  if (length == 0) return -1;
  int id = 0;
  for (std::size_t i = 0; i < length; i++) {
    if (token[i] < '0' || token[i] > '9') return -1;
    id = id * 10 + (token[i] - '0');
    if (id >= MessageTable::Size) return -1;
  }
  return id;
}

char* CopyText(const std::string& text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

}  // namespace

MessageTable::~MessageTable() { Clear(); }

void MessageTable::Clear() {
  for (char*& text : Texts) {
    std::free(text);
    text = nullptr;
  }
}

void MessageTable::Read(std::FILE* file) {
  std::string line;
  while (ReadMessageLine(file, line)) {
    std::size_t start = 0;
    while (start < line.size() && IsDelimiter(line[start])) start++;
    if (start == line.size() || line[start] == '#') continue;
    std::size_t end = start;
    while (end < line.size() && !IsDelimiter(line[end])) end++;
    int id = ParseId(line.data() + start, end - start);
    if (id < 0) continue;
    // The text begins after the one delimiter that ended the id.
    if (end + 1 >= line.size()) continue;
    std::string text = line.substr(end + 1);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
    if (text.empty()) continue;
    char* copy = CopyText(text);
    if (!copy) continue;  // out of memory: the earlier text stays
    std::free(Texts[id]);
    Texts[id] = copy;
  }
}

const char* MessageTable::Text(int id) const {
  if (id >= 0 && id < Size && Texts[id]) return Texts[id];
  return Texts[0] ? Texts[0] : "";
}

bool LoadMessagesFile(const char* language) {
  std::string name = std::string(language) + ".lng";
  std::FILE* file = std::fopen(name.c_str(), "r");
  if (!file) return false;
  Messages.Clear();
  Messages.Read(file);
  std::fclose(file);
  return true;
}
