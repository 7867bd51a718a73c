// Reads arbitrary bytes as a LightWave object; a file that reads is post-loaded, written as LWO
// (which must read again), as MX and as KZP.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "formats/kzp/kzp.h"
#include "formats/lwo/lwo.h"
#include "formats/mx/mx.h"
#include "model/mesh.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    rv::Model model;
    rv::ReadContext ctx;
    if (rv::readLwo(std::as_bytes(std::span(data, size)), model, ctx))
        return 0;
    rv::postLoad(model);
    rv::WriteContext lwo, mx, kzp;
    if (rv::writeLwo(model, lwo))
        std::abort();  // everything an LWO file holds can be written back
    rv::Model again;
    if (rv::readLwo(lwo.bytes, again, ctx) || again.polygonCount() != model.polygonCount())
        std::abort();
    rv::writeMx(model, mx);
    rv::writeKzp(model, kzp);
    return 0;
}
