#pragma once

#include "formats/common/format_io.h"

namespace rv {

std::optional<FormatError> readLwo(std::span<const std::byte> file, Model& model, ReadContext& ctx);
std::optional<FormatError> writeLwo(const Model& model, WriteContext& ctx);
// How many surfaces writeLwo makes of the model (one per distinct polygon colour); 0 when it
// cannot write the model.
std::size_t lwoSurfaceCount(const Model& model);

}  // namespace rv
