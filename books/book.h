// The opening-book interface: every book kind answers a position with one
// chosen move or with the list of its moves, each an entry held in a pooled
// position; the common move choice and listings live here too.
#pragma once

#include <cstdint>

#include "support/random.h"

// Seeds a book's generator with 16 values from the source below, so that two
// books made in the same second draw different streams.
void SeedBookGenerator(MersenneTwister& generator);
// Where the 16 seed values come from: std::random_device mixed with the
// time. Tests put a fixed source here to make the choices repeatable.
extern std::uint32_t (*BookSeedSource)();
