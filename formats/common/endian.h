// Byte order helpers (std::byteswap is C++23).
#pragma once

#include <cstdint>
#include <type_traits>

namespace rv {

template <typename T>
constexpr T byteSwap(T value) {
    static_assert(std::is_unsigned_v<T>);
    if constexpr (sizeof(T) == 1)
        return value;
    else if constexpr (sizeof(T) == 2)
        return T(__builtin_bswap16(value));
    else if constexpr (sizeof(T) == 4)
        return T(__builtin_bswap32(value));
    else
        return T(__builtin_bswap64(value));
}

}  // namespace rv
