// The one program that reproduces the fixed-function pipeline the preview was drawn with:
// per-vertex lighting by a point light in camera space, Gouraud or flat colour, one modulated
// texture stage, specular added after it, and the alpha test.
#pragma once

#include <string>

#include <epoxy/gl.h>

#include "preview/gl_common.h"

namespace rv {

struct FixedFunctionProgram {
    GLuint program = 0;
    GLint worldViewProjection = -1, worldView = -1, normalMatrix = -1;
    GLint lighting = -1, lightPosition = -1, lightDiffuse = -1, lightSpecular = -1, lightAmbient = -1;
    GLint lightRange = -1, materialAmbient = -1, materialSpecular = -1, materialEmissive = -1, power = -1;
    GLint globalAmbient = -1, vertexSpecular = -1, specularEnable = -1, flatShade = -1;
    GLint textured = -1, sampler = -1, alphaTest = -1, alphaRef = -1, uvOffset = -1;
};

// What a group's drawing needs of the program; a set of them selects a program with the rest
// compiled out.
enum FixedFeature : unsigned {
    kFeatureLighting = 1,  // the point light (else the vertex colours unlit)
    kFeatureVertexSpecular = 2,  // the vertices carry a specular colour (render mode 0)
    kFeatureSpecular = 4,  // the specular colour is added (SPECULARENABLE)
    kFeatureFlat = 8,  // flat shading: the first vertex's colours
    kFeatureTextured = 16,
    kFeatureAlphaTest = 32,
};
inline constexpr int kFixedFeatureSets = 64;

// Compiles one shader stage; 0 (with the compiler's log in `error`) when it fails.
GLuint compileShader(GLenum kind, const char* source, std::string* error);

// Compiles and links the program for a set of FixedFeature bits, or, for -1, the one that switches
// every feature by uniforms; false (with the compiler's log in `error`) when it fails.
bool buildFixedFunctionProgram(FixedFunctionProgram& out, std::string* error, int features = -1);

}  // namespace rv
