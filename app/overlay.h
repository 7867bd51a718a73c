// The information overlay of the window's preview.
#pragma once

#include <string>
#include <vector>

#include "model/model.h"

namespace rv {

struct OverlayLine {
    int x = 0;
    int y = 0;  // from the top, or from the bottom when fromBottom is set
    bool fromBottom = false;
    std::string text;  // UTF-8
};
// The information overlay: the four model lines while a model is current, and the two help lines.
std::vector<OverlayLine> overlayLines(const Model* model);

}  // namespace rv
