// The 2-D effect: the finished 3-D frame put on the window through one post effect.
@common
uniform sampler2D g_txScene;
uniform float g_fTime;     // grows by 0.001 with every quad drawn
uniform vec4 op;           // the library's three 2-D effect values
uniform vec4 ScreenSize;   // window width and height, pixels

#ifdef VERTEX_STAGE
in vec3 aPosition;
in vec2 aUV;
#endif
#ifdef FRAGMENT_STAGE
in vec2 vUV;
out vec4 fragColour;
float luma(vec3 c) { return dot(c, vec3(0.299, 0.587, 0.114)); }
#endif

@vertex quadVS
out vec2 vUV;
void main() {
    gl_Position = vec4(aPosition.xy, 0.99, 1.0);
    vUV = aUV;
}

@fragment sceneFS
void main() {
    fragColour = vec4(texture(g_txScene, vUV).rgb, 1.0);
}

@fragment monochromeFS
void main() {
    float y = luma(texture(g_txScene, vUV).rgb);
    fragColour = vec4(y, y, y, 1.0);
}

@fragment sepiaFS
void main() {
    float y = luma(texture(g_txScene, vUV).rgb);
    // Clamping keeps red >= green >= blue.
    fragColour = vec4(clamp(y * vec3(1.2, 1.0, 0.75), 0.0, 1.0), 1.0);
}

@fragment reverseFS
void main() {
    fragColour = vec4(1.0 - texture(g_txScene, vUV).rgb, 1.0);
}

@fragment shadeFS
void main() {
    // Darkens towards the corners.
    vec2 d = vUV - 0.5;
    float k = clamp(1.0 - dot(d, d) * 2.2, 0.0, 1.0);
    fragColour = vec4(texture(g_txScene, vUV).rgb * k, 1.0);
}

@fragment mosaicFS
void main() {
    float cell = op.x >= 2.0 ? op.x : 12.0;  // cell side in window pixels
    vec2 pixels = max(ScreenSize.xy, vec2(1.0));
    vec2 at = (floor(vUV * pixels / cell) + 0.5) * cell / pixels;
    fragColour = vec4(texture(g_txScene, at).rgb, 1.0);
}

@fragment yurayuraFS
void main() {
    float amplitude = op.y > 0.0 ? op.y : 0.012;
    vec2 at = vUV + vec2(sin(vUV.y * 40.0 + g_fTime * 60.0) * amplitude, 0.0);
    fragColour = vec4(texture(g_txScene, clamp(at, 0.0, 1.0)).rgb, 1.0);
}

@technique RenderSceneTechnique
pass quadVS sceneFS blend=none depth=off cull=off
@technique RenderMonochromeTechnique
pass quadVS monochromeFS blend=none depth=off cull=off
@technique RenderSepiaTechnique
pass quadVS sepiaFS blend=none depth=off cull=off
@technique RenderReverseTechnique
pass quadVS reverseFS blend=none depth=off cull=off
@technique RenderShadeTechnique
pass quadVS shadeFS blend=none depth=off cull=off
@technique RenderMosaicTechnique
pass quadVS mosaicFS blend=none depth=off cull=off
@technique RenderYuraYuraTechnique
pass quadVS yurayuraFS blend=none depth=off cull=off
