#include "runtime/random.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace rv {
namespace {

std::mt19937& randomEngine() {
    static std::mt19937 engine(1);
    return engine;
}

// rand()'s range on this platform: 0 .. 2^31 - 1.
int nextRandom() { return int(randomEngine()() >> 1); }

}  // namespace

void seedRandom(std::uint32_t seed) { randomEngine().seed(seed); }

int RandomInt(int n) { return n > 0 ? nextRandom() % n : 0; }

float RandomFloat(float x) {
    if (!(x > 0))
        return 0;
    x = std::min(x, 2147483520.0f);  // the largest float below 2^31, so the integer part fits
    const float whole = std::floor(x);
    const int wholePart = int(whole);
    float value = float(nextRandom() % (wholePart + 1));
    // A fraction under 0.001 has no thousandths to draw from (and would divide by zero).
    const int thousandths = int((x - whole) * 1000);
    if (thousandths > 0)
        value += float(nextRandom() % thousandths) * 0.001f;
    return value;
}

}  // namespace rv
