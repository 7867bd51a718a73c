// Appends little- or big-endian values to a byte buffer; the file is written once at the end.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <type_traits>
#include <vector>

#include "formats/common/endian.h"

namespace rv {

class ByteWriter {
public:
    enum class Endian { Little, Big };

    explicit ByteWriter(std::vector<std::byte>& out, Endian endian = Endian::Little) : out_(out), endian_(endian) {}

    void u8(std::uint8_t v) { write(v); }
    void i8(std::int8_t v) { write(v); }
    void u16(std::uint16_t v) { write(v); }
    void i16(std::int16_t v) { write(v); }
    void u32(std::uint32_t v) { write(v); }
    void i32(std::int32_t v) { write(v); }
    void f32(float v) { write(std::bit_cast<std::uint32_t>(v)); }
    void f64(double v) { write(std::bit_cast<std::uint64_t>(v)); }
    void bytes(std::span<const std::byte> b) { out_.insert(out_.end(), b.begin(), b.end()); }
    void text(std::string_view s) { bytes(std::as_bytes(std::span(s.data(), s.size()))); }
    void zeros(std::size_t n) { out_.insert(out_.end(), n, std::byte{0}); }
    // Overwrites a 32-bit value written earlier (chunk sizes).
    void patchU32(std::size_t at, std::uint32_t v) {
        if (endian_ == Endian::Big)
            v = byteSwap(v);
        std::memcpy(out_.data() + at, &v, 4);
    }
    std::size_t size() const { return out_.size(); }

private:
    template <typename T>
    void write(T v) {
        if (endian_ == Endian::Big)
            v = std::bit_cast<T>(byteSwap(std::bit_cast<std::make_unsigned_t<T>>(v)));
        const auto* p = reinterpret_cast<const std::byte*>(&v);
        out_.insert(out_.end(), p, p + sizeof(T));
    }

    std::vector<std::byte>& out_;
    Endian endian_;
};

}  // namespace rv
