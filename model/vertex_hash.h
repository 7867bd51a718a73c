// First-match deduplication of float tuples by hashing, shared by welding, the normal-table
// rebuild and the group render meshes. The result is exactly what a linear search for the first
// entry equal under == gives: +0.0 matches -0.0 (both hash as +0.0), and a tuple holding a NaN
// matches nothing, so it always becomes a new entry.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "model/model.h"

namespace rv {

template <std::size_t N>
class FirstMatchTable {
public:
    using Key = std::array<float, N>;

    // `expectedKeys` (an upper bound) only sizes the first allocations. The slots start at a
    // quarter of it and grow: meshes repeat most entries, and a small table stays in cache.
    explicit FirstMatchTable(std::size_t expectedKeys = 0) {
        keys_.reserve(expectedKeys);
        rehash(capacityFor(expectedKeys / 4));
    }

    // Index of the first key added earlier that equals `key`; otherwise `key` is added and its new
    // index (the number of keys before it) is returned, with `*added` set.
    std::int32_t findOrAdd(const Key& key, bool* added = nullptr) {
        if (added)
            *added = false;
        if (!hasNaN(key)) {
            const std::uint64_t hash = hashOf(key);
            const std::uint32_t tag = std::uint32_t(hash >> 32);
            std::size_t slot = std::size_t(hash) & mask_;
            while (slots_[slot] != kEmpty) {
                // The tag spares most reads of keys that cannot match.
                const std::uint32_t index = std::uint32_t(slots_[slot]);
                if (std::uint32_t(slots_[slot] >> 32) == tag && keys_[index] == key)  // float ==
                    return std::int32_t(index);
                slot = (slot + 1) & mask_;
            }
            // Keys with a NaN never enter the slots: nothing can match them.
            slots_[slot] = std::uint64_t(tag) << 32 | std::uint32_t(keys_.size());
            ++used_;
        }
        keys_.push_back(key);
        if (added)
            *added = true;
        if (used_ * 2 > slots_.size())
            rehash(slots_.size() * 2);
        return std::int32_t(keys_.size() - 1);
    }

    std::size_t size() const { return keys_.size(); }
    const Key& operator[](std::size_t index) const { return keys_[index]; }

private:
    static constexpr std::uint64_t kEmpty = ~std::uint64_t(0);  // tag in the high half, index low

    static bool hasNaN(const Key& key) {
        for (float f : key)
            if (f != f)
                return true;
        return false;
    }

    static std::uint64_t hashOf(const Key& key) {
        std::uint64_t h = 0x9e3779b97f4a7c15ull;
        for (float f : key) {
            // -0.0 == +0.0, so both must land in the same bucket.
            const std::uint32_t bits = f == 0.0f ? 0u : std::bit_cast<std::uint32_t>(f);
            h = (h ^ bits) * 0xff51afd7ed558ccdull;
            h ^= h >> 32;
        }
        h ^= h >> 29;
        h *= 0xc4ceb9fe1a85ec53ull;
        h ^= h >> 32;
        return h;
    }

    static std::size_t capacityFor(std::size_t keys) {
        std::size_t capacity = 16;
        while (capacity < keys * 2)
            capacity *= 2;
        return capacity;
    }

    void rehash(std::size_t capacity) {
        slots_.assign(capacity, kEmpty);
        mask_ = capacity - 1;
        for (std::size_t i = 0; i < keys_.size(); ++i) {
            if (hasNaN(keys_[i]))
                continue;
            const std::uint64_t hash = hashOf(keys_[i]);
            std::size_t slot = std::size_t(hash) & mask_;
            while (slots_[slot] != kEmpty)
                slot = (slot + 1) & mask_;
            slots_[slot] = (hash >> 32) << 32 | i;
        }
    }

    std::vector<Key> keys_;
    std::vector<std::uint64_t> slots_;
    std::size_t mask_ = 0;
    std::size_t used_ = 0;
};

inline std::array<float, 3> keyOf(const ModelVertex& v) { return {v.x, v.y, v.z}; }
inline std::array<float, 4> keyOf(const ModelColor& c) { return {c.red, c.green, c.blue, c.alpha}; }
inline std::array<float, 2> keyOf(const ModelUV& t) { return {t.u, t.v}; }

// Table entry `index`, or a zero entry when the index lies outside the table: indices come from
// files and are never trusted to read with.
template <class T>
T entryOr0(const std::vector<T>& table, std::int32_t index) {
    return index >= 0 && std::size_t(index) < table.size() ? table[std::size_t(index)] : T{};
}

// Corners that a polygon really has: at most the four it can hold.
inline int cornersOf(const ModelPolygon& p) { return p.cornerCount < kMaxCorners ? p.cornerCount : kMaxCorners; }

}  // namespace rv
