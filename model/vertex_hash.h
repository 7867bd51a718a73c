// First-match deduplication of float tuples by hashing, shared by welding, the normal-table
// rebuild and the group render meshes. The result is exactly what a linear search for the first
// equal entry (float ==) gives: +0.0 matches -0.0 (both hash as +0.0), and a tuple holding a NaN
// matches nothing, so it always becomes a new entry.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "model/model.h"

namespace rv {

namespace detail {

template <std::size_t N>
bool hasNaN(const std::array<float, N>& key) {
    for (float f : key)
        if (f != f)
            return true;
    return false;
}

template <std::size_t N>
std::uint32_t hashOf(const std::array<float, N>& key) {
    std::uint64_t h = 0x9e3779b97f4a7c15ull;
    for (float f : key) {
        // -0.0 == +0.0, so both must land in the same bucket.
        const std::uint32_t bits = f == 0.0f ? 0u : std::bit_cast<std::uint32_t>(f);
        h = (h ^ bits) * 0xff51afd7ed558ccdull;
        h ^= h >> 32;
    }
    h ^= h >> 29;
    h *= 0xc4ceb9fe1a85ec53ull;
    return std::uint32_t(h >> 32);
}

}  // namespace detail

// Working memory of buildFirstMatchRemap; one kept across several tables saves allocating (and
// faulting in) megabytes per table.
struct FirstMatchScratch {
    std::vector<std::uint32_t> hashes;
    std::vector<std::uint64_t> slots;
};

// Maps each key to its entry in the table of distinct keys in order of first appearance: the
// entry of the first earlier key equal to it, else the next new entry. Returns the number of
// distinct keys. Key i starts a new entry exactly when remap[i] equals the number of entries
// started before it. remap.size() must equal keys.size(), which must stay below 2^31.
template <std::size_t N>
std::size_t buildFirstMatchRemap(std::span<std::int32_t> remap, std::span<const std::array<float, N>> keys,
                                 FirstMatchScratch* scratch = nullptr) {
    constexpr std::uint64_t kEmpty = ~std::uint64_t(0);  // else hash in the high half, key index low
    constexpr std::size_t kAhead = 16;  // keys whose slots are fetched in advance

    FirstMatchScratch local;
    FirstMatchScratch& work = scratch ? *scratch : local;
    std::vector<std::uint32_t>& hashes = work.hashes;
    hashes.resize(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i)
        hashes[i] = detail::hashOf(keys[i]);
    std::size_t capacity = 16;
    while (capacity < keys.size() * 2)
        capacity *= 2;
    const std::size_t mask = capacity - 1;
    std::vector<std::uint64_t>& slots = work.slots;
    slots.assign(capacity, kEmpty);

    std::int32_t entries = 0;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        // Tables far larger than the cache: start the fetch of a later key's slot now.
        if (i + kAhead < keys.size())
            __builtin_prefetch(&slots[hashes[i + kAhead] & mask]);
        const std::array<float, N>& key = keys[i];
        if (detail::hasNaN(key)) {  // never enters the slots: nothing can match it
            remap[i] = entries++;
            continue;
        }
        const std::uint32_t hash = hashes[i];
        std::size_t slot = hash & mask;
        bool found = false;
        while (slots[slot] != kEmpty) {
            const std::uint32_t first = std::uint32_t(slots[slot]);
            // The stored hash spares most reads of keys that cannot match.
            if (std::uint32_t(slots[slot] >> 32) == hash && keys[first] == key) {  // float ==
                remap[i] = remap[first];
                found = true;
                break;
            }
            slot = (slot + 1) & mask;
        }
        if (!found) {
            slots[slot] = std::uint64_t(hash) << 32 | std::uint32_t(i);
            remap[i] = entries++;
        }
    }
    return std::size_t(entries);
}

inline std::array<float, 3> keyOf(const ModelVertex& v) { return {v.x, v.y, v.z}; }
inline std::array<float, 4> keyOf(const ModelColor& c) { return {c.red, c.green, c.blue, c.alpha}; }
inline std::array<float, 2> keyOf(const ModelUV& t) { return {t.u, t.v}; }

// Table entry `index`, or a zero entry when the index lies outside the table: indices come from
// files and are never trusted to read with.
template <class T, class A>
T entryOr0(const std::vector<T, A>& table, std::int32_t index) {
    return index >= 0 && std::size_t(index) < table.size() ? table[std::size_t(index)] : T{};
}

// Corners that a polygon really has: at most the four it can hold.
inline int cornersOf(const ModelPolygon& p) { return p.cornerCount < kMaxCorners ? p.cornerCount : kMaxCorners; }

}  // namespace rv
