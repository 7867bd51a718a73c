// Reads arbitrary bytes as an MX model; a file that reads is post-loaded, written as MX (which
// must read again), as LWO and as KZP.
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
    if (rv::readMx(std::as_bytes(std::span(data, size)), model, ctx))
        return 0;
    rv::postLoad(model);
    rv::WriteContext mx, lwo, kzp;
    if (rv::writeMx(model, mx))
        std::abort();  // everything an MX file holds can be written back
    rv::Model again;
    if (rv::readMx(mx.bytes, again, ctx) || again.polygonCount() != model.polygonCount())
        std::abort();
    rv::writeLwo(model, lwo);
    rv::writeKzp(model, kzp);
    return 0;
}
