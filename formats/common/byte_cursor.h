// Bounds-checked reads from a file held in memory. The first short read fails the cursor at that
// offset; later reads give zero, so readers check at section boundaries.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "formats/common/endian.h"
#include "formats/common/format_error.h"

namespace rv {

class ByteCursor {
public:
    enum class Endian { Little, Big };

    explicit ByteCursor(std::span<const std::byte> data, Endian endian = Endian::Little)
        : data_(data),
          endian_(endian) {}

    std::uint8_t u8() { return read<std::uint8_t>(); }
    std::uint16_t u16() { return read<std::uint16_t>(); }
    std::int16_t i16() { return read<std::int16_t>(); }
    std::uint32_t u32() { return read<std::uint32_t>(); }
    std::int32_t i32() { return read<std::int32_t>(); }
    float f32() { return std::bit_cast<float>(read<std::uint32_t>()); }
    double f64() { return std::bit_cast<double>(read<std::uint64_t>()); }

    // The next n bytes, or an empty span (and a failed cursor) when fewer remain.
    std::span<const std::byte> take(std::size_t n) {
        if (failed_ || n > remaining()) {
            fail();
            return {};
        }
        auto out = data_.subspan(pos_, n);
        pos_ += n;
        return out;
    }
    std::string takeString(std::size_t n) {
        auto bytes = take(n);
        return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    bool skip(std::size_t n) { return !take(n).empty() || n == 0; }

    // True when `count` records of `recordBytes` each fit in what remains.
    bool fits(std::uint64_t count, std::size_t recordBytes) const {
        return !failed_ && (recordBytes == 0 || count <= remaining() / recordBytes);
    }

    std::size_t remaining() const { return failed_ ? 0 : data_.size() - pos_; }
    std::size_t offset() const { return pos_; }
    void seek(std::size_t pos) {
        if (pos > data_.size())
            fail();
        else
            pos_ = pos;
    }
    std::size_t size() const { return data_.size(); }
    bool failed() const { return failed_; }
    bool atEnd() const { return pos_ >= data_.size(); }
    std::span<const std::byte> data() const { return data_; }

    FormatError error(std::string reason) const { return FormatError::atByte(pos_, std::move(reason)); }

private:
    template <typename T>
    T read() {
        if (failed_ || sizeof(T) > data_.size() - pos_) {
            fail();
            return T{};
        }
        T value;
        std::memcpy(&value, data_.data() + pos_, sizeof(T));
        pos_ += sizeof(T);
        if (endian_ == Endian::Big)
            value = std::bit_cast<T>(byteSwap(std::bit_cast<std::make_unsigned_t<T>>(value)));
        return value;
    }
    void fail() { failed_ = true; }

    std::span<const std::byte> data_;
    std::size_t pos_ = 0;
    bool failed_ = false;
    Endian endian_;
};

}  // namespace rv
