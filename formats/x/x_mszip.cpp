#include "formats/x/x_mszip.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "formats/common/byte_cursor.h"
#include "formats/common/byte_writer.h"

namespace rv {

namespace {

inline constexpr std::size_t kHeaderBytes = 16;

struct Inflater {
    z_stream stream{};
    bool ready = false;
    Inflater() { ready = inflateInit2(&stream, -MAX_WBITS) == Z_OK; }
    ~Inflater() {
        if (ready)
            inflateEnd(&stream);
    }
};

}  // namespace

std::optional<FormatError> inflateMszip(std::span<const std::byte> file, HugePageVector<std::byte>& out) {
    out.clear();
    ByteCursor cur(file);
    cur.seek(kHeaderBytes);
    const std::uint32_t total = cur.u32();
    if (cur.failed())
        return FormatError::atByte(kHeaderBytes, "file ends before the compressed size");
    if (total < kHeaderBytes)
        return FormatError::atByte(kHeaderBytes,
                                   "compressed file states a size of " + std::to_string(total) + " bytes");
    const std::size_t expected = total - kHeaderBytes;
    if (expected > kMszipMaxOutput)
        return FormatError::atByte(kHeaderBytes, "compressed file would expand to " + std::to_string(total) +
                                                     " bytes, over the limit of " + std::to_string(kMszipMaxOutput));
    Inflater inflater;
    if (!inflater.ready)
        return FormatError::refusal("cannot start the decompressor");
    out.reserve(expected);
    std::size_t previousStart = 0, previousSize = 0;
    while (!cur.atEnd()) {
        const std::size_t blockAt = cur.offset();
        const std::uint16_t plain = cur.u16();
        const std::uint16_t packed = cur.u16();
        if (cur.failed())
            return FormatError::atByte(blockAt, "file ends inside a compressed block header");
        if (plain == 0 || plain > kMszipBlockBytes)
            return FormatError::atByte(blockAt, "compressed block states " + std::to_string(plain) + " bytes of data");
        if (packed < 2 || packed > cur.remaining())
            return FormatError::atByte(blockAt, "compressed block of " + std::to_string(packed) +
                                                    " bytes passes the end of the file");
        const auto data = cur.take(packed);
        if (data[0] != std::byte{'C'} || data[1] != std::byte{'K'})
            return FormatError::atByte(blockAt + 4, "compressed block lacks its CK signature");
        if (out.size() + plain > expected)
            return FormatError::atByte(blockAt, "compressed blocks hold more than the stated " + std::to_string(total) +
                                                    " bytes");

        z_stream& s = inflater.stream;
        if (inflateReset(&s) != Z_OK)
            return FormatError::atByte(blockAt, "cannot reset the decompressor");
        if (previousSize > 0 && inflateSetDictionary(&s, reinterpret_cast<const Bytef*>(out.data() + previousStart),
                                                     uInt(previousSize)) != Z_OK)
            return FormatError::atByte(blockAt, "cannot carry the previous block into the next");
        const std::size_t start = out.size();
        out.resize(start + plain);
        s.next_in = const_cast<Bytef*>(reinterpret_cast<const Bytef*>(data.data() + 2));
        s.avail_in = uInt(packed - 2);
        s.next_out = reinterpret_cast<Bytef*>(out.data() + start);
        s.avail_out = plain;
        const int rc = inflate(&s, Z_FINISH);
        // A block may stop exactly at its stated size without a final deflate block; anything
        // else that is not a clean end is damage.
        if (rc != Z_STREAM_END && !(s.avail_out == 0 && (rc == Z_OK || rc == Z_BUF_ERROR)))
            return FormatError::atByte(blockAt, "compressed block does not inflate (" +
                                                    std::string(s.msg ? s.msg : "bad data") + ")");
        if (rc != Z_STREAM_END && s.avail_in > 0)
            return FormatError::atByte(blockAt,
                                       "compressed block inflates to more than " + std::to_string(plain) + " bytes");
        if (s.avail_out != 0)
            return FormatError::atByte(blockAt, "compressed block inflates to " + std::to_string(plain - s.avail_out) +
                                                    " bytes instead of " + std::to_string(plain));
        previousStart = start;
        previousSize = plain;
    }
    if (out.size() != expected)
        return FormatError::atByte(file.size(), "compressed blocks hold " + std::to_string(out.size() + kHeaderBytes) +
                                                    " bytes instead of the stated " + std::to_string(total));
    return std::nullopt;
}

namespace {

struct Deflater {
    z_stream stream{};
    bool ready = false;
    // The fastest level: on mesh data it costs a few per cent of size against zlib's default and
    // takes a third of the time.
    Deflater() { ready = deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK; }
    ~Deflater() {
        if (ready)
            deflateEnd(&stream);
    }
};

}  // namespace

std::vector<std::byte> deflateMszip(std::span<const std::byte> header, std::span<const std::byte> body) {
    if (body.size() > UINT32_MAX - kHeaderBytes)
        return {};
    Deflater deflater;
    if (!deflater.ready)
        return {};
    z_stream& s = deflater.stream;
    std::vector<std::byte> out(header.begin(), header.end());
    out.resize(kHeaderBytes);
    // Compressed data is about a third of the body for meshes; grows past that as needed.
    out.reserve(kHeaderBytes + 4 + body.size() / 2);
    ByteWriter w(out);
    w.u32(std::uint32_t(body.size() + kHeaderBytes));
    std::vector<Bytef> packed(deflateBound(&s, kMszipBlockBytes) + 16);
    for (std::size_t at = 0; at < body.size(); at += kMszipBlockBytes) {
        const std::size_t n = std::min(kMszipBlockBytes, body.size() - at);
        if (deflateReset(&s) != Z_OK)
            return {};
        // Every block but the last is full, so the previous block is the 32 KB before this one.
        if (at > 0 && deflateSetDictionary(&s, reinterpret_cast<const Bytef*>(body.data() + at - kMszipBlockBytes),
                                           uInt(kMszipBlockBytes)) != Z_OK)
            return {};
        s.next_in = const_cast<Bytef*>(reinterpret_cast<const Bytef*>(body.data() + at));
        s.avail_in = uInt(n);
        s.next_out = packed.data();
        s.avail_out = uInt(packed.size());
        if (deflate(&s, Z_FINISH) != Z_STREAM_END)
            return {};
        const std::size_t size = packed.size() - s.avail_out;
        if (size + 2 > UINT16_MAX)
            return {};
        w.u16(std::uint16_t(n));
        w.u16(std::uint16_t(size + 2));
        w.text("CK");
        w.bytes(std::as_bytes(std::span(packed.data(), size)));
    }
    return out;
}

}  // namespace rv
