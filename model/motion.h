// Motion playback over a model and its playback state: starting a motion, the per-frame key
// search and texture scrolling.
#pragma once

#include "model/instance.h"
#include "model/model.h"

namespace rv {

// Starts motion m with a blend of `blendSeconds`; false when m is out of range or already
// blending into. `playback.blend.running` is set for a blend of more than one frame; whoever
// advances `progress` by `step` clears it at 1.
bool startMotion(const Model& model, ModelPlayback& playback, int motion, float blendSeconds);

// Per-frame key search of the current motion for every bone and group key table.
void findKeys(const Model& model, ModelPlayback& playback);

// Per-frame texture scrolling of every keyed group.
void scrollTextures(const Model& model, ModelPlayback& playback);

// Whether playback changes the picture from frame to frame: a blend runs, a group's texture
// scrolls, the current motion has more than one key for a bone or a group, or it hands over to
// another motion. A started motion of single keys only holds its pose.
bool playbackMoves(const Model& model, const ModelPlayback& playback);

}  // namespace rv
