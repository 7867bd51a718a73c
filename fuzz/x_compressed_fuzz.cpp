// Compressed .x files: a seed with its own "xof " header is read as it is; other input is either
// taken as raw MSZIP blocks behind a "bzip" header or compressed first (the first byte decides),
// so that both the decompressor and the parser behind it get exercised.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "formats/kzp/kzp.h"
#include "formats/x/x.h"
#include "formats/x/x_mszip.h"
#include "model/mesh.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = std::as_bytes(std::span(data, size));
    std::vector<std::byte> file;
    if (size >= 16 && std::memcmp(data, "xof ", 4) == 0) {
        file.assign(input.begin(), input.end());
    } else if (size >= 1 && (data[0] & 1) == 0) {
        file.resize(16);
        std::memcpy(file.data(), "xof 0303bzip0032", 16);
        file.insert(file.end(), input.begin() + 1, input.end());
    } else if (size >= 1) {
        const char* header = (data[0] & 2) ? "xof 0303tzip0032" : "xof 0303bzip0032";
        file = rv::deflateMszip(std::as_bytes(std::span(header, 16)), input.subspan(1));
    }
    rv::Model model;
    rv::ReadContext ctx;
    if (!rv::readX(file, model, ctx)) {
        rv::postLoad(model);
        rv::WriteContext kzp;
        rv::writeKzp(model, kzp);
    }
    return 0;
}
