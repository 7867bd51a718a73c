// Reads arbitrary bytes as a DXF file; a file that reads is post-loaded and written as KZP.
#include <cstddef>
#include <cstdint>
#include <span>

#include "formats/dxf/dxf.h"
#include "formats/kzp/kzp.h"
#include "model/mesh.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    rv::Model model;
    rv::ReadContext ctx;
    if (!rv::readDxf(std::as_bytes(std::span(data, size)), model, ctx)) {
        rv::postLoad(model);
        rv::WriteContext out;
        rv::writeKzp(model, out);
    }
    return 0;
}
