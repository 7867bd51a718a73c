// Readers that no one here wrote, run over our output: Assimp's command-line tool and the Khronos
// glTF validator (through node, installed into the build folder with npm on first use).
#pragma once

#include <array>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace rv::test {

struct AssimpInfo {
    long faces = 0;
    std::array<double, 3> min{}, max{};
};
bool haveAssimp();
// What `assimp info` reports of a file, or nullopt when it cannot read it.
std::optional<AssimpInfo> assimpInfo(const std::string& path);

// The folder holding node_modules/gltf-validator, installing it on first use; empty when node or
// npm is missing or the install fails.
std::string gltfValidator();
// The validator's error count for each file (-1 for a file it did not report on), with its
// messages in `log`.
std::map<std::string, int> gltfValidatorErrors(const std::vector<std::string>& files, std::string* log = nullptr);

}  // namespace rv::test
