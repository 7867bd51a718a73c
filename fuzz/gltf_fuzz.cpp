// Reads arbitrary bytes as a .glb or .gltf (no files beside it); a file that reads is post-loaded
// and written as KZP.
#include <cstddef>
#include <cstdint>
#include <span>

#include "formats/gltf/gltf.h"
#include "formats/kzp/kzp.h"
#include "model/mesh.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    rv::Model model;
    rv::ReadContext ctx;
    ctx.path = "fuzz.glb";
    if (!rv::readGltf(std::as_bytes(std::span(data, size)), model, ctx)) {
        rv::postLoad(model);
        rv::WriteContext out;
        rv::writeKzp(model, out);
    }
    return 0;
}
