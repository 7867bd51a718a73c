// The node hierarchy of a glTF document: checked to be a forest (one parent each, no cycle), and
// the roots of the scene to draw.
#include "formats/gltf/gltf_reader.h"

namespace rv {

std::optional<std::string> gltfSceneRoots(const tinygltf::Model& gltf, std::vector<int>& roots) {
    const std::size_t count = gltf.nodes.size();
    std::vector<int> parent(count, -1);
    for (std::size_t n = 0; n < count; ++n)
        for (int child : gltf.nodes[n].children) {
            if (child < 0 || std::size_t(child) >= count)
                return "node " + std::to_string(n) + " has child " + std::to_string(child) + ", which does not exist";
            if (parent[std::size_t(child)] >= 0)
                return "node " + std::to_string(child) + " has two parents";
            parent[std::size_t(child)] = int(n);
        }
    // With one parent each, a node that no parentless node reaches lies on a cycle or below one.
    std::vector<char> reached(count, 0);
    std::vector<int> stack;
    for (std::size_t n = 0; n < count; ++n)
        if (parent[n] < 0)
            stack.push_back(int(n));
    while (!stack.empty()) {
        const int n = stack.back();
        stack.pop_back();
        reached[std::size_t(n)] = 1;
        for (int child : gltf.nodes[std::size_t(n)].children)
            stack.push_back(child);
    }
    for (std::size_t n = 0; n < count; ++n)
        if (!reached[n])
            return "the nodes form a cycle through node " + std::to_string(n);

    roots.clear();
    if (gltf.scenes.empty()) {
        for (std::size_t n = 0; n < count; ++n)
            if (parent[n] < 0)
                roots.push_back(int(n));
        return std::nullopt;
    }
    int scene = gltf.defaultScene;
    if (scene >= int(gltf.scenes.size()))
        return "the default scene " + std::to_string(scene) + " does not exist";
    if (scene < 0)
        scene = 0;
    for (int n : gltf.scenes[std::size_t(scene)].nodes) {
        if (n < 0 || std::size_t(n) >= count)
            return "scene " + std::to_string(scene) + " names node " + std::to_string(n) + ", which does not exist";
        roots.push_back(n);
    }
    return std::nullopt;
}

}  // namespace rv
