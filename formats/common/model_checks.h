// Checks writers make before serialising a model that may not have come from a reader.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "formats/common/format_error.h"
#include "model/model.h"

namespace rv {

// A refusal for polygon p when it has more than 4 corners or a corner names no position.
inline std::optional<FormatError> checkPolygonCorners(const Model& model, std::size_t p) {
    const ModelPolygon& polygon = model.polygons[p];
    if (polygon.cornerCount > kMaxCorners)
        return FormatError::refusal("polygon " + std::to_string(p) + " has " + std::to_string(polygon.cornerCount) +
                                    " corners, more than " + std::to_string(kMaxCorners));
    for (int k = 0; k < polygon.cornerCount; ++k) {
        const std::int32_t index = polygon.corners[k].position;
        if (index < 0 || std::size_t(index) >= model.positions.size())
            return FormatError::refusal("polygon " + std::to_string(p) + " names position " + std::to_string(index) +
                                        ", but the model has " + std::to_string(model.positions.size()));
    }
    return std::nullopt;
}

// A 0..255 colour component as a byte; out-of-range and NaN values are clamped, never wrapped
// (a wrapped value would bleed into the neighbouring channel of a packed colour).
inline std::uint8_t colourByte(float value) {
    if (!(value > 0))
        return 0;
    if (value >= 255)
        return 255;
    return std::uint8_t(value);
}

}  // namespace rv
