// MT19937 of Matsumoto and Nishimura: init_genrand, init_by_array and
// genrand_int32 as they published them, so the draws match their reference output.
#include "support/random.h"

#include <cassert>

namespace {
constexpr std::uint32_t UpperMask = 0x80000000u;
constexpr std::uint32_t LowerMask = 0x7fffffffu;
constexpr std::uint32_t MatrixA = 0x9908b0dfu;
constexpr int ShiftM = 397;
}  // namespace

void MersenneTwister::SeedByValue(std::uint32_t seed) {
  State[0] = seed;
  for (int i = 1; i < StateSize; i++)
    State[i] = 1812433253u * (State[i - 1] ^ (State[i - 1] >> 30)) + static_cast<std::uint32_t>(i);
  Index = StateSize;
}

void MersenneTwister::SeedByArray(const std::uint32_t* key, std::size_t length) {
  SeedByValue(19650218u);
  int i = 1;
  std::size_t j = 0;
  for (std::size_t k = (StateSize > length ? StateSize : length); k > 0; k--) {
    State[i] = (State[i] ^ ((State[i - 1] ^ (State[i - 1] >> 30)) * 1664525u)) + key[j] +
               static_cast<std::uint32_t>(j);
    i++;
    j++;
    if (i >= StateSize) {
      State[0] = State[StateSize - 1];
      i = 1;
    }
    if (j >= length) j = 0;
  }
  for (int k = StateSize - 1; k > 0; k--) {
    State[i] = (State[i] ^ ((State[i - 1] ^ (State[i - 1] >> 30)) * 1566083941u)) -
               static_cast<std::uint32_t>(i);
    i++;
    if (i >= StateSize) {
      State[0] = State[StateSize - 1];
      i = 1;
    }
  }
  State[0] = 0x80000000u;  // assures a non-zero initial state
  Index = StateSize;
}

void MersenneTwister::Regenerate() {
  auto twist = [](std::uint32_t upper, std::uint32_t lower, std::uint32_t far) {
    std::uint32_t y = (upper & UpperMask) | (lower & LowerMask);
    return far ^ (y >> 1) ^ ((y & 1u) ? MatrixA : 0u);
  };
  int k = 0;
  for (; k < StateSize - ShiftM; k++) State[k] = twist(State[k], State[k + 1], State[k + ShiftM]);
  for (; k < StateSize - 1; k++)
    State[k] = twist(State[k], State[k + 1], State[k + (ShiftM - StateSize)]);
  State[StateSize - 1] = twist(State[StateSize - 1], State[0], State[ShiftM - 1]);
  Index = 0;
}

std::uint32_t MersenneTwister::Next() {
  assert(Index <= StateSize && "MersenneTwister drawn before it was seeded");
  if (Index >= StateSize) Regenerate();
  std::uint32_t y = State[Index++];
  y ^= y >> 11;
  y ^= (y << 7) & 0x9d2c5680u;
  y ^= (y << 15) & 0xefc60000u;
  y ^= y >> 18;
  return y;
}

std::uint64_t MersenneTwister::Next64() {
  std::uint64_t low = Next();
  std::uint64_t high = Next();
  return low | (high << 32);
}
