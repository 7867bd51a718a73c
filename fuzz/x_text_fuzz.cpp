// Reads arbitrary bytes as the body of a text .x file (a seed's own header is replaced); a file
// that reads is post-loaded and written as KZP and as .x.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "formats/kzp/kzp.h"
#include "formats/x/x.h"
#include "model/mesh.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const bool hasHeader = size >= 16 && std::memcmp(data, "xof ", 4) == 0;
    const auto body = std::as_bytes(std::span(data, size)).subspan(hasHeader ? 16 : 0);
    std::vector<std::byte> file(16);
    std::memcpy(file.data(), "xof 0303txt 0032", 16);
    file.insert(file.end(), body.begin(), body.end());
    rv::Model model;
    rv::ReadContext ctx;
    if (!rv::readX(file, model, ctx)) {
        rv::postLoad(model);
        rv::WriteContext kzp, x;
        rv::writeKzp(model, kzp);
        rv::writeX(model, x);
    }
    return 0;
}
