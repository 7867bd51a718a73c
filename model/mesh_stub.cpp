#include "model/mesh.h"

namespace rv {

// Placeholders until the mesh services land.
void computeNormals(Model&) {}
void weldModel(Model&) {}
void buildGroupMeshes(Model&) {}
void subdivideQuads(Model&) {}
bool startMotion(Model&, int, float) { return false; }
void findKeys(Model&) {}
void scrollTextures(Model&) {}
void postLoad(Model& model, std::vector<std::array<float, 16>>*) { model.loaded = 1; }

}  // namespace rv
