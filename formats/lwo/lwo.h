#pragma once

#include "formats/common/format_io.h"

namespace rv {

std::optional<FormatError> readLwo(std::span<const std::byte> file, Model& model, ReadContext& ctx);
std::optional<FormatError> writeLwo(const Model& model, WriteContext& ctx);

}  // namespace rv
