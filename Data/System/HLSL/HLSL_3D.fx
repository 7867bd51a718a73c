// The 3-D effect of the preview: shadow map, scene with shadows, reflection, depth of field,
// bloom and the blend of them all. Matrices are row-vector matrices handed over as they are
// stored, so "M * v" here is "v x M" there.
@common
uniform mat4 World;
uniform mat4 WVProj;
uniform mat4 View;
uniform mat4 LightVProj;
uniform vec4 LightColor;
uniform vec4 Ambient;
uniform vec4 vLightDir;       // xyz towards where the light shines, w the shadow strength
uniform vec4 Diffuse;
uniform int LightFlag;
uniform int ModelLightFlag;
uniform int ShadowMapFlag;
uniform int TexFlag;
uniform int BoneFlag;
uniform int BloomFlag;
uniform int EnvTexFlag;
uniform float Margin;
uniform float Reflectivity;
uniform float bloom_power;
uniform float uv_offset_u;
uniform float uv_offset_v;
uniform float TexSize;        // side of the square targets, pixels
uniform float FocusDepth;     // view depth that stays sharp
uniform vec4 BlurStep;        // texel step x, y and the weight of one bloom quad
uniform mat4 matWorld[128];   // per bone: rest offset, then the bone's global transform

#ifdef VERTEX_STAGE
// The passes that draw the models again over the scene's depth need the very same depths.
invariant gl_Position;
in vec3 aPosition;
in vec3 aNormal;
in vec4 aDiffuse;
in vec2 aUV;
in uvec4 aBoneIndices;
in float aBoneWeight;

// The vertex through its bones: two bones mixed by weight when 0 < w < 1, else the first.
vec4 skinned(vec3 p) {
    if (BoneFlag == 0)
        return vec4(p, 1.0);
    vec4 a = matWorld[aBoneIndices.x] * vec4(p, 1.0);
    if (aBoneWeight > 0.0 && aBoneWeight < 1.0)
        return a * aBoneWeight + (matWorld[aBoneIndices.y] * vec4(p, 1.0)) * (1.0 - aBoneWeight);
    return a;
}
vec3 skinnedNormal(vec3 n) {
    if (BoneFlag == 0)
        return n;
    vec3 a = mat3(matWorld[aBoneIndices.x]) * n;
    if (aBoneWeight > 0.0 && aBoneWeight < 1.0)
        a = a * aBoneWeight + (mat3(matWorld[aBoneIndices.y]) * n) * (1.0 - aBoneWeight);
    return a;
}
#endif

#ifdef FRAGMENT_STAGE
out vec4 fragColour;
#endif

@vertex depthVS
out float vDepth;
void main() {
    vec4 clip = LightVProj * (World * skinned(aPosition));
    gl_Position = clip;
    // Linear depth over the light's far plane, so that Margin is a steady distance.
    vDepth = clip.w / 1000.0;
}

@fragment depthFS
in float vDepth;
void main() {
    fragColour = vec4(vDepth, vDepth, vDepth, 1.0);
}

@vertex sceneVS
out vec4 vColour;
out vec2 vUV;
out vec4 vLightClip;
out vec3 vNormal;
out vec3 vWorld;
out float vViewDepth;
void main() {
    vec4 p = World * skinned(aPosition);
    gl_Position = WVProj * skinned(aPosition);
    vLightClip = LightVProj * p;
    vWorld = p.xyz;
    vViewDepth = (View * p).z;
    vNormal = mat3(World) * skinnedNormal(aNormal);
    vColour = aDiffuse;
    vUV = aUV + vec2(uv_offset_u, uv_offset_v);
}

@fragment sceneFS
in vec4 vColour;
in vec2 vUV;
in vec4 vLightClip;
in vec3 vNormal;
in vec3 vWorld;
in float vViewDepth;
uniform sampler2D Tex0;
uniform sampler2D ShadowTex;
void main() {
    vec4 base = vColour;
    if (TexFlag != 0)
        base *= texture(Tex0, vUV);
    vec3 lit = base.rgb;
    if (LightFlag != 0 && ModelLightFlag != 0) {
        vec3 n = normalize(vNormal);
        float nDotL = max(dot(n, -normalize(vLightDir.xyz)), 0.0);
        float shade = 1.0;
        if (ShadowMapFlag != 0 && vLightClip.w > 0.0) {
            vec2 at = vLightClip.xy / vLightClip.w * 0.5 + 0.5;
            if (all(greaterThanEqual(at, vec2(0.0))) && all(lessThanEqual(at, vec2(1.0)))) {
                float stored = texture(ShadowTex, at).r;
                if (stored + Margin < vLightClip.w / 1000.0)
                    shade = 1.0 - vLightDir.w * 1.5;  // 0.3 gives 0.55 of the light
            }
        }
        lit = base.rgb * clamp(LightColor.rgb * nDotL * shade + Ambient.rgb, 0.0, 1.0);
    }
    fragColour = vec4(lit, base.a);
}

@vertex reflectVS
out vec3 vNormal;
out vec3 vView;
out vec2 vUV;
void main() {
    vec4 p = World * skinned(aPosition);
    gl_Position = WVProj * skinned(aPosition);
    vNormal = mat3(World) * skinnedNormal(aNormal);
    // The eye in world space from the view matrix: -translation through the rotation's transpose.
    vec3 eye = -(transpose(mat3(View)) * View[3].xyz);
    vView = p.xyz - eye;
    vUV = aUV + vec2(uv_offset_u, uv_offset_v);
}

@fragment reflectFS
in vec3 vNormal;
in vec3 vView;
in vec2 vUV;
uniform samplerCube Tex2;
uniform sampler2D Tex3;
void main() {
    vec3 r = reflect(normalize(vView), normalize(vNormal));
    vec3 env = texture(Tex2, r).rgb;
    if (EnvTexFlag != 0) {
        // A sphere map from the group's own reflection texture.
        vec2 at = normalize(r + vec3(0.0, 0.0, 1.0)).xy * 0.5 + 0.5;
        env = texture(Tex3, at).rgb;
    }
    fragColour = vec4(env * Diffuse.rgb, clamp(Reflectivity, 0.0, 1.0) * 0.5);
}

@vertex screenVS
out float vViewDepth;
void main() {
    vec4 p = World * skinned(aPosition);
    gl_Position = WVProj * skinned(aPosition);
    vViewDepth = (View * p).z;
}

@fragment dofFS
in float vViewDepth;
uniform sampler2D Tex1;
void main() {
    vec2 at = gl_FragCoord.xy / TexSize;
    float t = 1.5 / TexSize;
    vec3 sum = vec3(0.0);
    for (int y = -1; y <= 1; ++y)
        for (int x = -1; x <= 1; ++x)
            sum += texture(Tex1, at + vec2(x, y) * t).rgb;
    // Sharp near the focus, softer away from it.
    float away = abs(vViewDepth - FocusDepth) / max(FocusDepth, 0.1);
    fragColour = vec4(sum / 9.0, clamp(away - 0.5, 0.0, 0.75));
}

@fragment bloomPolyFS
uniform sampler2D g_txScene;
void main() {
    vec3 c = texture(g_txScene, gl_FragCoord.xy / TexSize).rgb;
    fragColour = vec4(max(c - vec3(0.6), vec3(0.0)) * 2.5 * bloom_power, 1.0);
}

@vertex quadVS
out vec2 vUV;
void main() {
    gl_Position = vec4(aPosition.xy, 0.0, 1.0);
    vUV = aUV;
}

@fragment bloomTexFS
in vec2 vUV;
uniform sampler2D Tex1;
uniform sampler2D Tex2;
void main() {
    vec3 sum = vec3(0.0);
    for (int y = -2; y <= 2; ++y)
        for (int x = -2; x <= 2; ++x)
            sum += texture(Tex1, vUV + vec2(x, y) * BlurStep.xy * 0.5).rgb;
    fragColour = vec4(sum / 25.0 * BlurStep.z, 1.0);
}

@fragment blendFS
in vec2 vUV;
uniform sampler2D Tex1;
uniform sampler2D Tex2;
uniform sampler2D Tex3;
void main() {
    vec4 scene = texture(Tex1, vUV);
    vec4 dof = texture(Tex2, vUV);
    vec3 c = mix(scene.rgb, dof.rgb, dof.a);
    if (BloomFlag != 0) {
        // The four blurred copies lie side by side, 256 pixels apart, 1/8 to 1/48 of the side.
        float divisors[4] = float[4](8.0, 16.0, 32.0, 48.0);
        for (int k = 0; k < 4; ++k) {
            vec2 origin = vec2(256.0 * float(k) / TexSize, 0.0);
            vec2 extent = vec2(1.0 / divisors[k]);
            vec2 inner = clamp(vUV, vec2(0.5 / (TexSize * extent.x)), vec2(1.0 - 0.5 / (TexSize * extent.x)));
            c += texture(Tex3, origin + inner * extent).rgb * 0.5;
        }
    }
    fragColour = vec4(clamp(c, 0.0, 1.0), 1.0);
}

@technique ShadowMapTexZ_Technique
pass depthVS depthFS blend=none

@technique ShadowMapTechnique
pass sceneVS sceneFS

@technique ReflectionModokiTechnique
pass reflectVS reflectFS depth=test

@technique DepthOfFieldTexTechnique
pass screenVS dofFS blend=none depth=test

@technique BloomPolyTechnique
pass screenVS bloomPolyFS blend=none depth=test

@technique BloomTexTechnique
pass quadVS bloomTexFS blend=none depth=off cull=off

@technique BlendTechnique
pass quadVS blendFS blend=none depth=off cull=off
