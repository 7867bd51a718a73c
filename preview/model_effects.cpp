#include "preview/model_effects.h"

#include <cmath>

#include "preview/gl_common.h"
#include "preview/group_state.h"

namespace rv {

Effect* groupEffectOf(EffectLibrary& effects, const Model& model, bool gpuSkin) {
    if (model.renderMode == 5 && gpuSkin)
        return effects.get(EffectKind::Bone);
    if (model.renderMode == 6 || model.renderMode == 7)
        return effects.get(EffectKind::Ground);
    return nullptr;
}

namespace {

void setBoneEffect(Effect& e, const GroupEffectInput& in, const SceneView& view, const Mat4& viewProjection) {
    e.setTechnique("BoneTechnique");
    e.setMatrices("matWorld", in.skinMatrices ? *in.skinMatrices : std::vector<Mat4>{});
    e.setInt("bLight", view.lighting ? 1 : 0);
    e.setFloat("fTime", float(view.appTime + 0.01));
    e.setMatrix("mViewProj", viewProjection);
    e.setTexture("Tex0", in.texture);
}

void setGroundEffect(Effect& e, const GroupEffectInput& in, const SceneView& view, const Mat4& viewProjection,
                     TextureCache& textures) {
    const Model& m = *in.model;
    const ModelGroup& group = *in.group;
    e.setTechnique("BumpGroundTechnique");
    e.setMatrix("World", kIdentity);
    e.setMatrix("WVProj", viewProjection);
    e.setVector("LightColor", view.lightColour.x, view.lightColour.y, view.lightColour.z, 1);
    e.setInt("bLight", view.lighting ? 1 : 0);
    e.setTexture("Tex1", in.texture);
    const int bump = effectTextureNumber(m, group.mapA != 0 ? group.mapATexture : 0);
    e.setInt("BumpFlag", bump != 0 ? 1 : 0);
    e.setTexture("Tex2", bump != 0 ? textures.textureFor(m, *in.instance, bump) : textures.nullTexture());
    const int displacement = effectTextureNumber(m, group.displacement != 0 ? group.displacementTexture : 0);
    e.setInt("DisplaceFlag", displacement != 0 ? 1 : 0);
    e.setFloat("DisplaceScale", std::isfinite(group.displacementValue) ? group.displacementValue : 0.0f);
    e.setTexture("Tex3",
                 displacement != 0 ? textures.textureFor(m, *in.instance, displacement) : textures.nullTexture());
}

}  // namespace

void setGroupEffect(Effect& e, const GroupEffectInput& in, const SceneView& view, TextureCache& textures) {
    const Mat4 viewProjection = multiply(view.view, glProjection(view.projection));
    const Vec3 d = lightDirection(view.lightPosition, view.lightTarget);
    e.setVector("vLightDir", d.x, d.y, d.z, 0);
    e.setFloat("uv_offset_u", in.scroll[0]);
    e.setFloat("uv_offset_v", in.scroll[1]);
    e.setInt("TexFlag", in.texture != 0 ? 1 : 0);
    if (in.model->renderMode == 5)
        setBoneEffect(e, in, view, viewProjection);
    else
        setGroundEffect(e, in, view, viewProjection, textures);
}

}  // namespace rv
