// The opening-book interface: seeding of the books' generators.
#include "books/book.h"

#include <chrono>
#include <random>

namespace {

std::uint32_t RandomDeviceAndTime() {
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

}  // namespace

std::uint32_t (*BookSeedSource)() = RandomDeviceAndTime;

void SeedBookGenerator(MersenneTwister& generator) {
  std::uint32_t key[16];
  for (std::uint32_t& value : key) value = BookSeedSource();
  generator.SeedByArray(key, 16);
}
