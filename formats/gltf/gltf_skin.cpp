// The skeleton of a glTF export: bones as nodes, the skin, and the motions as animations.
#include <algorithm>
#include <map>
#include <set>

#include "formats/common/export_support.h"
#include "formats/gltf/gltf_builder.h"
#include "model/bone_pose.h"

namespace rv::gltf {
namespace {

constexpr float kFramesPerSecond = 60;  // the frame loop's update rate

int bonesOf(const Model& model) { return std::clamp(model.boneCount, 0, kMaxBones); }

std::vector<double> doubles(const std::array<float, 3>& v) { return {v[0], v[1], v[2]}; }

// The frames at which a track is keyed in glTF: its own key frames, and where the pose runs
// round the loop from the last key to the first, the loop's ends (frame 0 and the motion length),
// so that linear interpolation between them gives the same poses.
std::set<int> keyFrames(const std::vector<ModelBoneKey>& keys, int length) {
    std::set<int> frames;
    for (const ModelBoneKey& key : keys)
        if (key.frame >= 0)  // animation time starts at 0
            frames.insert(key.frame);
    if (keys.size() >= 2 && length > keys.back().frame) {
        frames.insert(length);
        if (keys.front().frame > 0)
            frames.insert(0);
    }
    return frames;
}

void addAnimation(Builder& b, const Model& model, int motion, const std::vector<int>& nodeOf) {
    const int length = model.motions[std::size_t(motion)].frameCount;
    std::map<int, ModelPlayback> found;  // keys of every bone, per frame
    tinygltf::Animation animation;
    animation.name = exportText(model.motions[std::size_t(motion)].name);
    for (int bone = 1; bone < int(nodeOf.size()); ++bone) {
        const ModelBone& source = model.bones[std::size_t(bone)];
        if (std::size_t(motion) >= source.tracks.size())
            continue;
        const std::set<int> frames = keyFrames(source.tracks[std::size_t(motion)].keys, length);
        if (frames.empty())
            continue;
        std::vector<float> times, translations, rotations, scales;
        std::array<float, 4> previous{0, 0, 0, 1};
        for (int frame : frames) {
            auto it = found.find(frame);
            if (it == found.end())
                it = found.emplace(frame, boneKeysAt(model, motion, frame)).first;
            const BoneLocalPose pose = boneLocalPose(model, bone, motion, it->second);
            times.push_back(float(frame) / kFramesPerSecond);
            for (float v : turned(pose.translation[0], pose.translation[1], pose.translation[2]))
                translations.push_back(v);
            std::array<float, 4> q = turnedRotation(pose.rotation);
            // Neighbouring keys on the same hemisphere: every reader then takes the short way.
            if (q[0] * previous[0] + q[1] * previous[1] + q[2] * previous[2] + q[3] * previous[3] < 0)
                for (float& v : q)
                    v = -v;
            previous = q;
            rotations.insert(rotations.end(), q.begin(), q.end());
            scales.insert(scales.end(), pose.scale.begin(), pose.scale.end());
        }
        const int input = addFloats(b, times, 1, TINYGLTF_TYPE_SCALAR, 0, true);
        const std::pair<const char*, int> outputs[] = {
            {"translation", addFloats(b, translations, 3, TINYGLTF_TYPE_VEC3, 0, false)},
            {"rotation", addFloats(b, rotations, 4, TINYGLTF_TYPE_VEC4, 0, false)},
            {"scale", addFloats(b, scales, 3, TINYGLTF_TYPE_VEC3, 0, false)},
        };
        for (const auto& [path, output] : outputs) {
            tinygltf::AnimationSampler sampler;
            sampler.input = input;
            sampler.output = output;
            sampler.interpolation = "LINEAR";
            animation.samplers.push_back(sampler);
            tinygltf::AnimationChannel channel;
            channel.sampler = int(animation.samplers.size()) - 1;
            channel.target_node = nodeOf[std::size_t(bone)];
            channel.target_path = path;
            animation.channels.push_back(channel);
        }
    }
    if (!animation.channels.empty())
        b.doc.animations.push_back(std::move(animation));
}

}  // namespace

bool hasSkeleton(const Model& model) { return model.boneCount > 2; }

void skinOf(const Model& model, std::int32_t position, std::array<std::uint8_t, 4>& joints,
            std::array<float, 4>& weights) {
    joints = {0, 0, 0, 0};
    weights = {1, 0, 0, 0};
    if (position < 0 || std::size_t(position) >= model.skin.size())
        return;
    const ModelSkinWeight& skin = model.skin[std::size_t(position)];
    const int bones = bonesOf(model);
    const std::uint8_t first = skin.bone < bones ? skin.bone : 0;
    const std::uint8_t second = skin.bone2 < bones ? skin.bone2 : 0;
    joints[0] = first;
    if (skin.weight > 0 && skin.weight < 1 && first != second) {
        joints[1] = second;
        weights = {skin.weight, 1 - skin.weight, 0, 0};
    }
}

void addSkeleton(Builder& b, const Model& model, int meshNode, WriteContext&) {
    const int bones = bonesOf(model);
    // One root above every bone: joints must share one, whatever the parent indices say.
    const int root = int(b.doc.nodes.size());
    tinygltf::Node rootNode;
    rootNode.name = "skeleton";
    b.doc.nodes.push_back(rootNode);
    b.doc.scenes[0].nodes.push_back(root);

    std::vector<int> nodeOf(static_cast<std::size_t>(bones));
    for (int i = 0; i < bones; ++i) {
        const ModelBone& bone = model.bones[std::size_t(i)];
        tinygltf::Node node;
        node.name = exportText(bone.name);
        if (i > 0)  // bone 0 stays at the origin
            node.translation = doubles(turned(bone.position[0], bone.position[1], bone.position[2]));
        nodeOf[std::size_t(i)] = int(b.doc.nodes.size());
        b.doc.nodes.push_back(node);
    }
    // A parent counts only when it comes before the bone, as in the bone matrices.
    for (int i = 0; i < bones; ++i) {
        const std::int32_t parent = model.bones[std::size_t(i)].parent;
        const int holder = i > 0 && parent >= 0 && parent < i ? nodeOf[std::size_t(parent)] : root;
        b.doc.nodes[std::size_t(holder)].children.push_back(nodeOf[std::size_t(i)]);
    }

    // Inverse bind matrices: the skinning takes each vertex relative to its bone's rest position.
    const std::vector<std::array<float, 3>> rest = restPositions(model);
    std::vector<float> inverseBind;
    inverseBind.reserve(std::size_t(bones) * 16);
    for (int i = 0; i < bones; ++i) {
        const std::array<float, 3> at =
            turned(rest[std::size_t(i)][0], rest[std::size_t(i)][1], rest[std::size_t(i)][2]);
        const float m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, -at[0], -at[1], -at[2], 1};  // column-major
        inverseBind.insert(inverseBind.end(), m, m + 16);
    }
    tinygltf::Skin skin;
    skin.joints = nodeOf;
    skin.skeleton = root;
    skin.inverseBindMatrices = addFloats(b, inverseBind, 16, TINYGLTF_TYPE_MAT4, 0, false);
    b.doc.skins.push_back(skin);
    b.doc.nodes[std::size_t(meshNode)].skin = int(b.doc.skins.size()) - 1;

    for (int m = 0; m < model.motionCount(); ++m)
        addAnimation(b, model, m, nodeOf);
}

}  // namespace rv::gltf
