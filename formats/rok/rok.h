#pragma once

#include "formats/common/format_io.h"

namespace rv {

std::optional<FormatError> readRok(std::span<const std::byte> file, Model& model, ReadContext& ctx);

}  // namespace rv
