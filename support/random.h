// MT19937, the generator behind the engine's hash keys, the game board's keys
// and the books' move choice. Every user seeds it by array before drawing.
#pragma once

#include <cstddef>
#include <cstdint>

class MersenneTwister {
public:
  static constexpr int StateSize = 624;

  void SeedByArray(const std::uint32_t* key, std::size_t length);
  std::uint32_t Next();
  // Two draws, the first one being the low half: the order the key tables use.
  std::uint64_t Next64();

private:
  void SeedByValue(std::uint32_t seed);
  void Regenerate();

  std::uint32_t State[StateSize] = {};
  int Index = StateSize + 1;
};

// The key every user of the generator seeds with.
inline constexpr std::uint32_t EngineSeedKey[4] = {0x123, 0x234, 0x345, 0x456};
