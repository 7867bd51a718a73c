// The one home of tinygltf's implementation.
#define TINYGLTF_IMPLEMENTATION
#include "formats/gltf/tinygltf.h"
