#pragma once

#include "formats/common/format_io.h"

namespace rv {

std::optional<FormatError> readKzp(std::span<const std::byte> file, Model& model, ReadContext& ctx);
std::optional<FormatError> writeKzp(Model& model, WriteContext& ctx);

}  // namespace rv
