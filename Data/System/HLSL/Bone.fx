// Skinning on the GPU (render mode 5): each vertex through one bone, or two mixed by its weight.
@common
uniform mat4 matWorld[128];   // per bone: rest offset, then the bone's global transform
uniform mat4 mViewProj;
uniform vec4 vLightDir;       // towards where the light shines
uniform int bLight;
uniform float fTime;
uniform float uv_offset_u;
uniform float uv_offset_v;
uniform int TexFlag;

#ifdef VERTEX_STAGE
in vec3 aPosition;
in vec3 aNormal;
in vec4 aDiffuse;
in vec2 aUV;
in uvec4 aBoneIndices;
in float aBoneWeight;
#endif
#ifdef FRAGMENT_STAGE
out vec4 fragColour;
#endif

@vertex boneVS
out vec4 vColour;
out vec2 vUV;
void main() {
    mat4 m = matWorld[aBoneIndices.x];
    vec4 p = m * vec4(aPosition, 1.0);
    vec3 n = mat3(m) * aNormal;
    if (aBoneWeight > 0.0 && aBoneWeight < 1.0) {
        mat4 m2 = matWorld[aBoneIndices.y];
        p = p * aBoneWeight + (m2 * vec4(aPosition, 1.0)) * (1.0 - aBoneWeight);
        n = n * aBoneWeight + (mat3(m2) * aNormal) * (1.0 - aBoneWeight);
    }
    gl_Position = mViewProj * p;
    vColour = aDiffuse;
    if (bLight != 0) {
        float l = length(n) > 0.0 ? max(dot(normalize(n), -normalize(vLightDir.xyz)), 0.0) : 0.0;
        vColour = vec4(clamp(aDiffuse.rgb * l, 0.0, 1.0), aDiffuse.a);
    }
    vUV = aUV + vec2(uv_offset_u, uv_offset_v);
}

@fragment boneFS
in vec4 vColour;
in vec2 vUV;
uniform sampler2D Tex0;
void main() {
    fragColour = TexFlag != 0 ? texture(Tex0, vUV) * vColour : vColour;
}

@technique BoneTechnique
pass boneVS boneFS
