// Reads arbitrary bytes as the body of a binary .x file with the float size of the seed's header
// (32-bit without one); a file that reads is post-loaded and written as KZP and as .x, and our
// own .x output must read again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "formats/kzp/kzp.h"
#include "formats/x/x.h"
#include "model/mesh.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const bool hasHeader = size >= 16 && std::memcmp(data, "xof ", 4) == 0;
    const bool doubles = hasHeader && std::memcmp(data + 12, "0064", 4) == 0;
    const auto body = std::as_bytes(std::span(data, size)).subspan(hasHeader ? 16 : 0);
    std::vector<std::byte> file(16);
    std::memcpy(file.data(), doubles ? "xof 0303bin 0064" : "xof 0303bin 0032", 16);
    file.insert(file.end(), body.begin(), body.end());
    rv::Model model;
    rv::ReadContext ctx;
    if (!rv::readX(file, model, ctx)) {
        rv::postLoad(model);
        rv::WriteContext kzp, x;
        rv::writeKzp(model, kzp);
        if (!rv::writeX(model, x)) {
            rv::Model again;
            if (rv::readX(x.bytes, again, ctx))
                std::abort();
        }
    }
    return 0;
}
