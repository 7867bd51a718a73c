// The ground effect (render modes 6 and 7): the group texture lit per pixel, its relief from the
// group's map texture and, when the group has one, displaced by its displacement texture.
@common
uniform mat4 World;
uniform mat4 WVProj;
uniform vec4 vLightDir;       // towards where the light shines
uniform vec4 LightColor;
uniform int bLight;
uniform int TexFlag;
uniform int BumpFlag;
uniform int DisplaceFlag;
uniform float DisplaceScale;
uniform float uv_offset_u;
uniform float uv_offset_v;

#ifdef VERTEX_STAGE
in vec3 aPosition;
in vec3 aNormal;
in vec4 aDiffuse;
in vec2 aUV;
#endif
#ifdef FRAGMENT_STAGE
out vec4 fragColour;
#endif

@vertex groundVS
out vec4 vColour;
out vec2 vUV;
out vec3 vNormal;
uniform sampler2D Tex3;
void main() {
    vec2 uv = aUV + vec2(uv_offset_u, uv_offset_v);
    vec3 p = aPosition;
    if (DisplaceFlag != 0)
        p += aNormal * dot(textureLod(Tex3, uv, 0.0).rgb, vec3(0.333)) * DisplaceScale;
    gl_Position = WVProj * vec4(p, 1.0);
    vNormal = mat3(World) * aNormal;
    vColour = aDiffuse;
    vUV = uv;
}

@fragment groundFS
in vec4 vColour;
in vec2 vUV;
in vec3 vNormal;
uniform sampler2D Tex1;
uniform sampler2D Tex2;
void main() {
    vec4 base = TexFlag != 0 ? texture(Tex1, vUV) * vColour : vColour;
    vec3 n = length(vNormal) > 0.0 ? normalize(vNormal) : vec3(0.0);
    if (BumpFlag != 0) {
        float h = dot(texture(Tex2, vUV).rgb, vec3(0.333));
        n = normalize(n - vec3(dFdx(h), dFdy(h), 0.0) * 4.0);
    }
    vec3 lit = base.rgb;
    if (bLight != 0)
        lit = base.rgb * clamp(LightColor.rgb * max(dot(n, -normalize(vLightDir.xyz)), 0.0), 0.0, 1.0);
    fragColour = vec4(lit, base.a);
}

@technique BumpGroundTechnique
pass groundVS groundFS
