#include "preview/shaders.h"

#include <string>
#include <utility>

namespace rv {
namespace {

// Colours of the light and the material are 0..1. A light farther than its range adds nothing,
// ambient included; attenuation is 1. Specular needs the light in front of the surface and the
// half vector on its side (the viewer is local).
const char* kVertexShader = R"(
in vec3 aPosition;
in vec3 aNormal;
in vec4 aDiffuse;
in vec4 aSpecular;
in vec2 aUV;

uniform mat4 uWorldViewProjection;
uniform mat4 uWorldView;
uniform mat3 uNormalMatrix;
SWITCH(uLighting, LIGHTING)
uniform vec3 uLightPosition;
uniform vec3 uLightDiffuse;
uniform vec3 uLightSpecular;
uniform vec3 uLightAmbient;
uniform float uLightRange;
uniform vec3 uMaterialAmbient;
uniform vec3 uMaterialSpecular;
uniform vec3 uMaterialEmissive;
uniform vec3 uGlobalAmbient;
uniform float uPower;
SWITCH(uVertexSpecular, VERTEX_SPECULAR)
uniform vec2 uUVOffset;

out vec4 vDiffuse;
out vec3 vSpecular;
flat out vec4 fDiffuse;
flat out vec3 fSpecular;
out vec2 vUV;

void main() {
    gl_Position = uWorldViewProjection * vec4(aPosition, 1.0);
    vUV = aUV + uUVOffset;
    vec4 diffuse = aDiffuse;
    vec3 specularSource = uVertexSpecular ? aSpecular.rgb : uMaterialSpecular;
    vec4 colour;
    vec3 specular = vec3(0.0);
    if (!uLighting) {
        colour = diffuse;
        if (uVertexSpecular)
            specular = aSpecular.rgb;
    } else {
        vec3 v = (uWorldView * vec4(aPosition, 1.0)).xyz;
        vec3 n = uNormalMatrix * aNormal;
        float nLength = length(n);
        n = nLength > 0.0 ? n / nLength : vec3(0.0);
        vec3 toLight = uLightPosition - v;
        float d = length(toLight);
        vec3 ambient = uMaterialAmbient * uGlobalAmbient;
        vec3 lit = vec3(0.0);
        if (d <= uLightRange) {
            vec3 l = d > 0.0 ? toLight / d : vec3(0.0);
            ambient += uMaterialAmbient * uLightAmbient;
            float nDotL = dot(n, l);
            lit = diffuse.rgb * uLightDiffuse * max(nDotL, 0.0);
            float vLength = length(v);
            vec3 toEye = vLength > 0.0 ? -v / vLength : vec3(0.0);
            vec3 h = toEye + l;
            float hLength = length(h);
            h = hLength > 0.0 ? h / hLength : vec3(0.0);
            float nDotH = dot(n, h);
            if (nDotL > 0.0 && nDotH > 0.0)
                specular = specularSource * uLightSpecular * pow(nDotH, uPower);
        }
        colour = vec4(clamp(uMaterialEmissive + ambient + lit, 0.0, 1.0), diffuse.a);
        specular = clamp(specular, 0.0, 1.0);
    }
    vDiffuse = colour;
    fDiffuse = colour;
    vSpecular = specular;
    fSpecular = specular;
}
)";

const char* kFragmentShader = R"(
in vec4 vDiffuse;
in vec3 vSpecular;
flat in vec4 fDiffuse;
flat in vec3 fSpecular;
in vec2 vUV;

SWITCH(uFlatShade, FLAT_SHADE)
SWITCH(uTextured, TEXTURED)
uniform sampler2D uTexture;
SWITCH(uSpecularEnable, SPECULAR_ENABLE)
SWITCH(uAlphaTest, ALPHA_TEST)
uniform float uAlphaRef;

out vec4 fragColour;

void main() {
    vec4 diffuse = uFlatShade ? fDiffuse : vDiffuse;
    vec3 specular = uFlatShade ? fSpecular : vSpecular;
    vec4 colour = uTextured ? texture(uTexture, vUV) * diffuse : diffuse;
    if (uSpecularEnable)
        colour.rgb = min(colour.rgb + specular, vec3(1.0));
    // The test compares the alpha at 8-bit precision: kept when alpha x 255 >= ref.
    if (uAlphaTest && floor(colour.a * 255.0 + 0.5) < uAlphaRef)
        discard;
    fragColour = colour;
}
)";

// The switches as uniforms (every feature at run time), or as constants of one feature set, which
// lets the compiler drop the work and the varyings a group's state does not use.
std::string switchesFor(int features) {
    if (features < 0)
        return "#version 330 core\n#define SWITCH(name, value) uniform bool name;\n";
    std::string text = "#version 330 core\n#define SWITCH(name, value) const bool name = value;\n";
    const std::pair<unsigned, const char*> names[] = {
        {kFeatureLighting, "LIGHTING"},        {kFeatureVertexSpecular, "VERTEX_SPECULAR"},
        {kFeatureSpecular, "SPECULAR_ENABLE"}, {kFeatureFlat, "FLAT_SHADE"},
        {kFeatureTextured, "TEXTURED"},        {kFeatureAlphaTest, "ALPHA_TEST"}};
    for (const auto& [bit, name] : names)
        text += std::string("#define ") + name + ((unsigned(features) & bit) ? " true\n" : " false\n");
    return text;
}

}  // namespace

GLuint compileShader(GLenum kind, const char* source, std::string* error) {
    const GLuint shader = glCreateShader(kind);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint ok = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char log[2048] = {};
        glGetShaderInfoLog(shader, sizeof log, nullptr, log);
        if (error)
            *error = log;
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

bool buildFixedFunctionProgram(FixedFunctionProgram& out, std::string* error, int features) {
    const std::string switches = switchesFor(features);
    const GLuint vs = compileShader(GL_VERTEX_SHADER, (switches + kVertexShader).c_str(), error);
    if (!vs)
        return false;
    const GLuint fs = compileShader(GL_FRAGMENT_SHADER, (switches + kFragmentShader).c_str(), error);
    if (!fs) {
        glDeleteShader(vs);
        return false;
    }
    const GLuint program = glCreateProgram();
    glAttachShader(program, vs);
    glAttachShader(program, fs);
    bindVertexInputs(program);
    glLinkProgram(program);
    glDeleteShader(vs);
    glDeleteShader(fs);
    GLint ok = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (!ok) {
        char log[2048] = {};
        glGetProgramInfoLog(program, sizeof log, nullptr, log);
        if (error)
            *error = log;
        glDeleteProgram(program);
        return false;
    }
    FixedFunctionProgram p;
    p.program = program;
    auto at = [&](const char* name) { return glGetUniformLocation(program, name); };
    p.worldViewProjection = at("uWorldViewProjection");
    p.worldView = at("uWorldView");
    p.normalMatrix = at("uNormalMatrix");
    p.lighting = at("uLighting");
    p.lightPosition = at("uLightPosition");
    p.lightDiffuse = at("uLightDiffuse");
    p.lightSpecular = at("uLightSpecular");
    p.lightAmbient = at("uLightAmbient");
    p.lightRange = at("uLightRange");
    p.materialAmbient = at("uMaterialAmbient");
    p.materialSpecular = at("uMaterialSpecular");
    p.materialEmissive = at("uMaterialEmissive");
    p.globalAmbient = at("uGlobalAmbient");
    p.power = at("uPower");
    p.vertexSpecular = at("uVertexSpecular");
    p.specularEnable = at("uSpecularEnable");
    p.flatShade = at("uFlatShade");
    p.textured = at("uTextured");
    p.sampler = at("uTexture");
    p.alphaTest = at("uAlphaTest");
    p.alphaRef = at("uAlphaRef");
    p.uvOffset = at("uUVOffset");
    // What never changes: the texture unit and the light's and material's constant terms.
    glUseProgram(program);
    glUniform1i(p.sampler, 0);
    glUniform3f(p.lightSpecular, 1, 1, 1);
    glUniform1f(p.lightRange, 65000.0f);
    // Material: diffuse 1 (the vertex colour stands in for it), power 20, the rest zero.
    glUniform3f(p.materialAmbient, 0, 0, 0);
    glUniform3f(p.materialSpecular, 0, 0, 0);
    glUniform3f(p.materialEmissive, 0, 0, 0);
    glUniform3f(p.globalAmbient, 0, 0, 0);
    glUniform1f(p.power, 20.0f);
    glUseProgram(0);
    out = p;
    return true;
}

}  // namespace rv
