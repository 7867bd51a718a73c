// Reads arbitrary bytes as an OBJ file (no material library); a file that reads is post-loaded and
// written as KZP and as OBJ.
#include <cstddef>
#include <cstdint>
#include <span>

#include "formats/kzp/kzp.h"
#include "formats/obj/obj.h"
#include "model/mesh.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    rv::Model model;
    rv::ReadContext ctx;
    if (!rv::readObj(std::as_bytes(std::span(data, size)), model, ctx)) {
        rv::postLoad(model);
        rv::WriteContext kzp, obj;
        rv::writeKzp(model, kzp);
        rv::writeObj(model, obj);
    }
    return 0;
}
