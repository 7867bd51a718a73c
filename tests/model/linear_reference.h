// The first-match linear search that the hashed tables must reproduce exactly, and small random
// models full of the values hashing gets wrong: +0.0 beside -0.0, NaN, and runs of repeats.
#pragma once

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "model/model.h"

namespace rv::test {

// Index of the first entry == value (float ==), else value appended.
template <class T>
std::int32_t linearFirstMatch(std::vector<T>& table, const T& value) {
    for (std::size_t i = 0; i < table.size(); ++i)
        if (table[i] == value)
            return std::int32_t(i);
    table.push_back(value);
    return std::int32_t(table.size() - 1);
}

// Same bytes: tells -0.0 from +0.0 and compares NaNs.
template <class T, class A, class B>
bool sameBits(const std::vector<T, A>& a, const std::vector<T, B>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

inline float trickyFloat(std::mt19937& rng) {
    static const float values[] = {0.0f, -0.0f, 1.0f, -1.0f, 0.5f, std::numeric_limits<float>::quiet_NaN()};
    return values[rng() % 6];
}

// Positions, colours and uvs drawn from a few tricky values; polygons of 2 to 4 corners in two
// groups; consecutive corners often share entries.
inline Model makeTrickyModel(std::mt19937& rng, int polygons, bool withNaN = true) {
    Model m;
    auto value = [&] {
        float f = trickyFloat(rng);
        while (!withNaN && std::isnan(f))
            f = trickyFloat(rng);
        return f;
    };
    const int entries = 3 + int(rng() % 12);
    for (int i = 0; i < entries; ++i) {
        m.positions.push_back({value(), value(), value()});
        m.skin.push_back({std::uint8_t(i), 0, float(i), std::uint8_t(i % 2)});
        m.colors.push_back({value(), value(), value(), value()});
        m.uvs.push_back({value(), value()});
        m.normals.push_back({value(), value(), value()});
    }
    m.groups.resize(2);
    for (int p = 0; p < polygons; ++p) {
        ModelPolygon poly;
        poly.cornerCount = std::uint8_t(2 + rng() % 3);
        poly.group = int(rng() % 2);
        for (auto& c : poly.corners) {
            c.position = int(rng() % unsigned(entries));
            c.normal = int(rng() % unsigned(entries));
            c.color = int(rng() % unsigned(entries));
            c.uv = int(rng() % unsigned(entries));
        }
        m.polygons.push_back(poly);
    }
    return m;
}

}  // namespace rv::test
