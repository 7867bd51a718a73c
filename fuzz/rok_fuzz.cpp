// Reads arbitrary bytes as a ROK file; a file that reads is post-loaded and written as KZP.
#include <cstddef>
#include <cstdint>
#include <span>

#include "formats/kzp/kzp.h"
#include "formats/rok/rok.h"
#include "model/mesh.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    rv::Model model;
    rv::ReadContext ctx;
    if (!rv::readRok(std::as_bytes(std::span(data, size)), model, ctx)) {
        rv::postLoad(model);
        rv::WriteContext out;
        rv::writeKzp(model, out);
    }
    return 0;
}
