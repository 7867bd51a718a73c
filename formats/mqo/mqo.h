#pragma once

#include "formats/common/format_io.h"

namespace rv {

std::optional<FormatError> readMqo(std::span<const std::byte> file, Model& model, ReadContext& ctx);
std::optional<FormatError> writeMqo(const Model& model, WriteContext& ctx);

}  // namespace rv
