// The library's random numbers: one generator, seeded at start-up, with rand()'s range.
#pragma once

#include <cstdint>

namespace rv {

// rand() modulo n for n > 0, else 0.
int RandomInt(int n);
// 0 for x <= 0; else a random integer in 0..floor(x), plus, when x has a fraction f,
// (rand() modulo floor(f x 1000)) x 0.001.
float RandomFloat(float x);
void seedRandom(std::uint32_t seed);

}  // namespace rv
