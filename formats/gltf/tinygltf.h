// tinygltf as this project configures it; include this, never <tiny_gltf.h> directly, so that
// every translation unit sees the same options. Images are embedded as the files hold them (or
// re-encoded by runtime/image_write), so tinygltf decodes and encodes none itself.
#pragma once

#define TINYGLTF_NO_STB_IMAGE
#define TINYGLTF_NO_STB_IMAGE_WRITE
#define TINYGLTF_NO_EXTERNAL_IMAGE
#include <tiny_gltf.h>
