// Reads arbitrary bytes as a KZP file; a file that reads is post-loaded, written back and the
// written file must read again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "formats/kzp/kzp.h"
#include "model/mesh.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    rv::Model model;
    rv::ReadContext ctx;
    if (rv::readKzp(std::as_bytes(std::span(data, size)), model, ctx))
        return 0;
    rv::postLoad(model);
    rv::WriteContext out;
    if (rv::writeKzp(model, out))
        return 0;
    rv::Model again;
    if (rv::readKzp(out.bytes, again, ctx))
        std::abort();  // the writer produced a file its own reader refuses
    return 0;
}
