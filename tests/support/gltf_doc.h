// Reading a .glb or .gltf with tinygltf as it stands, images kept undecoded, for tests that look
// at what our glTF writer produced.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "formats/gltf/tinygltf.h"

namespace rv::test {

inline tinygltf::Model loadGltfDocument(const std::string& path) {
    tinygltf::TinyGLTF loader;
    loader.SetImageLoader([](tinygltf::Image*, const int, std::string*, std::string*, int, int, const unsigned char*,
                             int, void*) { return true; },
                          nullptr);
    tinygltf::Model doc;
    std::string error, warning;
    const bool ok = path.ends_with(".glb") ? loader.LoadBinaryFromFile(&doc, &error, &warning, path)
                                           : loader.LoadASCIIFromFile(&doc, &error, &warning, path);
    EXPECT_TRUE(ok) << error;
    return doc;
}

}  // namespace rv::test
