// glTF animations as the model's motions: every joint's pose sampled at the preview's frame rate
// and stored as bone keys relative to the bone's rest.
#include <algorithm>
#include <cmath>
#include <set>

#include "formats/gltf/gltf_read_rig.h"
#include "formats/kzp/kzp.h"
#include "model/bone_pose.h"
#include "runtime/paths.h"

namespace rv::gltf {
namespace {

constexpr double kFramesPerSecond = 60;  // the frame loop's update rate, as our export keys it
// Bone keys sampled over all motions, a bound on time and memory whatever a file claims.
constexpr double kMaxSampledKeys = 2'000'000;
// Key times and values read from all animations: a bound on time for files whose channels share
// one large accessor many times over.
constexpr double kMaxKeyValues = 32'000'000;
constexpr double kUnitScale = 1e-5;  // a scale this close to 1 changes nothing visible

std::string str(std::int64_t v) { return std::to_string(v); }

enum class Interpolation { Linear, Step, CubicSpline };

// One sampler's keys: `components` values per key (glTF's CUBICSPLINE stores in-tangent, value,
// out-tangent per key).
struct Curve {
    std::vector<double> times, values;
    int components = 3;
    Interpolation interpolation = Interpolation::Linear;

    double value(std::size_t key, int c, int part = 1) const {
        const std::size_t slot = interpolation == Interpolation::CubicSpline ? key * 3 + std::size_t(part) : key;
        return values[slot * std::size_t(components) + std::size_t(c)];
    }

    // Whether every key's value (not the tangents) lies within `tolerance` of `v`.
    bool holdsOnly(double v, double tolerance) const {
        for (std::size_t k = 0; k < times.size(); ++k)
            for (int c = 0; c < components; ++c)
                if (!(std::fabs(value(k, c) - v) <= tolerance))
                    return false;
        return true;
    }

    std::array<double, 4> at(double t) const {
        std::array<double, 4> out{0, 0, 0, 0};
        const std::size_t n = times.size();
        auto take = [&](std::size_t k) {
            for (int c = 0; c < components; ++c)
                out[std::size_t(c)] = value(k, c);
        };
        if (t <= times.front()) {
            take(0);
        } else if (t >= times.back()) {
            take(n - 1);
        } else {
            // times[k] <= t < times[k + 1]
            const std::size_t k = std::size_t(std::upper_bound(times.begin(), times.end(), t) - times.begin()) - 1;
            const double span = times[k + 1] - times[k];
            const double s = (t - times[k]) / span;
            if (interpolation == Interpolation::Step) {
                take(k);
            } else if (interpolation == Interpolation::CubicSpline) {
                const double s2 = s * s, s3 = s2 * s;
                for (int c = 0; c < components; ++c)
                    out[std::size_t(c)] = (2 * s3 - 3 * s2 + 1) * value(k, c) +
                                          span * (s3 - 2 * s2 + s) * value(k, c, 2) +
                                          (-2 * s3 + 3 * s2) * value(k + 1, c) + span * (s3 - s2) * value(k + 1, c, 0);
            } else if (components == 4) {
                out = slerp(k, s);
            } else {
                for (int c = 0; c < components; ++c)
                    out[std::size_t(c)] = value(k, c) + (value(k + 1, c) - value(k, c)) * s;
            }
        }
        if (components == 4) {
            const double length = std::sqrt(out[0] * out[0] + out[1] * out[1] + out[2] * out[2] + out[3] * out[3]);
            out = length > 1e-12
                      ? std::array<double, 4>{out[0] / length, out[1] / length, out[2] / length, out[3] / length}
                      : std::array<double, 4>{0, 0, 0, 1};
        }
        return out;
    }

    // Rotation keys k and k + 1 along the shorter arc.
    std::array<double, 4> slerp(std::size_t k, double s) const {
        std::array<float, 4> a, b;
        for (int c = 0; c < 4; ++c) {
            a[std::size_t(c)] = float(value(k, c));
            b[std::size_t(c)] = float(value(k + 1, c));
        }
        const std::array<float, 4> q = rv::slerp(a, b, float(s));
        return {q[0], q[1], q[2], q[3]};
    }
};

std::optional<std::string> readCurve(const tinygltf::Model& doc, const tinygltf::AnimationSampler& sampler,
                                     int components, Curve& curve) {
    curve.components = components;
    if (sampler.interpolation == "LINEAR")
        curve.interpolation = Interpolation::Linear;
    else if (sampler.interpolation == "STEP")
        curve.interpolation = Interpolation::Step;
    else if (sampler.interpolation == "CUBICSPLINE")
        curve.interpolation = Interpolation::CubicSpline;
    else
        return "interpolation \"" + sampler.interpolation + "\" is none of LINEAR, STEP and CUBICSPLINE";
    if (auto why = accessorValues(doc, sampler.input, 1, curve.times))
        return "input: " + *why;
    if (curve.times.empty())
        return "has no keys";
    for (std::size_t k = 0; k < curve.times.size(); ++k)
        if (!std::isfinite(curve.times[k]) || (k > 0 && curve.times[k] < curve.times[k - 1]))
            return "has key times that are not finite and increasing";
    if (auto why = accessorValues(doc, sampler.output, components, curve.values))
        return "output: " + *why;
    const std::size_t perKey = curve.interpolation == Interpolation::CubicSpline ? 3 : 1;
    if (curve.values.size() / std::size_t(components) / perKey < curve.times.size())
        return "has " + str(std::int64_t(curve.times.size())) + " key times but values for fewer";
    for (double v : curve.values)
        if (!std::isfinite(v))
            return "has a non-finite value";
    return std::nullopt;
}

// A model-space local transform as a bone key: translation, rotation and scale.
ModelBoneKey keyOf(const Matrix4& m) {
    ModelBoneKey key;
    key.position = {float(m[12]), float(m[13]), float(m[14])};
    double s[3], r[3][3];  // r[row][column]
    for (int c = 0; c < 3; ++c)
        s[c] = std::sqrt(m[std::size_t(c * 4)] * m[std::size_t(c * 4)] +
                         m[std::size_t(c * 4 + 1)] * m[std::size_t(c * 4 + 1)] +
                         m[std::size_t(c * 4 + 2)] * m[std::size_t(c * 4 + 2)]);
    const double det =
        m[0] * (m[5] * m[10] - m[9] * m[6]) - m[4] * (m[1] * m[10] - m[9] * m[2]) + m[8] * (m[1] * m[6] - m[5] * m[2]);
    if (det < 0)
        s[0] = -s[0];
    for (int c = 0; c < 3; ++c) {
        key.scale[std::size_t(c)] = float(s[c]);
        for (int row = 0; row < 3; ++row)
            r[row][c] = s[c] != 0 ? m[std::size_t(c * 4 + row)] / s[c] : (row == c ? 1 : 0);
    }
    double q[4];  // x, y, z, w
    const double trace = r[0][0] + r[1][1] + r[2][2];
    if (trace > 0) {
        const double k = std::sqrt(trace + 1) * 2;
        q[3] = k / 4, q[0] = (r[2][1] - r[1][2]) / k, q[1] = (r[0][2] - r[2][0]) / k, q[2] = (r[1][0] - r[0][1]) / k;
    } else if (r[0][0] > r[1][1] && r[0][0] > r[2][2]) {
        const double k = std::sqrt(1 + r[0][0] - r[1][1] - r[2][2]) * 2;
        q[3] = (r[2][1] - r[1][2]) / k, q[0] = k / 4, q[1] = (r[0][1] + r[1][0]) / k, q[2] = (r[0][2] + r[2][0]) / k;
    } else if (r[1][1] > r[2][2]) {
        const double k = std::sqrt(1 + r[1][1] - r[0][0] - r[2][2]) * 2;
        q[3] = (r[0][2] - r[2][0]) / k, q[0] = (r[0][1] + r[1][0]) / k, q[1] = k / 4, q[2] = (r[1][2] + r[2][1]) / k;
    } else {
        const double k = std::sqrt(1 + r[2][2] - r[0][0] - r[1][1]) * 2;
        q[3] = (r[1][0] - r[0][1]) / k, q[0] = (r[0][2] + r[2][0]) / k, q[1] = (r[1][2] + r[2][1]) / k, q[2] = k / 4;
    }
    const double length = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    for (std::size_t c = 0; c < 4; ++c)
        key.rotation[c] = length > 0 ? float(q[c] / length) : (c == 3 ? 1.0f : 0.0f);
    return key;
}

bool sameKey(const ModelBoneKey& a, const ModelBoneKey& b) {
    constexpr float kTolerance = 1e-6f;
    for (std::size_t c = 0; c < 3; ++c)
        if (!(std::fabs(a.position[c] - b.position[c]) <= kTolerance &&
              std::fabs(a.scale[c] - b.scale[c]) <= kTolerance))
            return false;
    for (std::size_t c = 0; c < 4; ++c)
        if (!(std::fabs(a.rotation[c] - b.rotation[c]) <= kTolerance))
            return false;
    return true;
}

// Appends the key of frame `key.frame`; a key inside a run of equal ones goes, as the model's
// linear interpolation between the run's ends gives it back.
void append(std::vector<ModelBoneKey>& keys, ModelBoneKey key) {
    if (!keys.empty()) {
        // Neighbouring rotations on the same hemisphere.
        const auto& p = keys.back().rotation;
        if (p[0] * key.rotation[0] + p[1] * key.rotation[1] + p[2] * key.rotation[2] + p[3] * key.rotation[3] < 0)
            for (float& v : key.rotation)
                v = -v;
    }
    const std::size_t n = keys.size();
    if (n >= 2 && sameKey(keys[n - 2], keys[n - 1]) && sameKey(keys[n - 2], key))
        keys[n - 1].frame = key.frame;
    else
        keys.push_back(key);
}

std::string motionName(const std::string& utf8) {
    if (!utf8.empty())
        if (std::optional<std::string> sjis = utf8ToSjis(utf8); sjis && sjis->size() <= std::size_t(kMaxNameBytes))
            return *sjis;
    return ModelMotion{}.name;
}

}  // namespace

std::optional<FormatError> readGltfMotions(const tinygltf::Model& doc, const GltfRig& rig, Model& model,
                                           ReadContext& ctx) {
    const std::size_t nodes = doc.nodes.size();
    const std::size_t bones = rig.boneNode.size();

    // The nodes whose transforms place a joint: the joints and their ancestors, parents first.
    std::vector<int> depth(nodes, -1);
    std::vector<int> order;
    for (int node : rig.boneNode)
        for (int n = node; n >= 0 && depth[std::size_t(n)] < 0; n = rig.nodeParent[std::size_t(n)]) {
            depth[std::size_t(n)] = 0;
            order.push_back(n);
        }
    for (int n : order)
        for (int up = rig.nodeParent[std::size_t(n)]; up >= 0; up = rig.nodeParent[std::size_t(up)])
            ++depth[std::size_t(n)];
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return depth[std::size_t(a)] < depth[std::size_t(b)]; });
    std::vector<std::size_t> slotOf(nodes, 0);
    for (std::size_t k = 0; k < order.size(); ++k)
        slotOf[std::size_t(order[k])] = k;
    std::vector<NodeTrs> restTrs(nodes);
    for (int n : order) {
        restTrs[std::size_t(n)] = nodeTrs(doc.nodes[std::size_t(n)]);
        const NodeTrs& trs = restTrs[std::size_t(n)];
        bool finite = true;
        for (double v : trs.matrix ? std::vector<double>(trs.matrix->begin(), trs.matrix->end())
                                   : std::vector<double>{trs.t[0], trs.t[1], trs.t[2], trs.r[0], trs.r[1], trs.r[2],
                                                         trs.r[3], trs.s[0], trs.s[1], trs.s[2]})
            finite = finite && std::isfinite(v);
        if (!finite)
            return FormatError::refusal("node " + str(n) + " has a non-finite transform");
    }

    std::vector<ModelMotion> motions;
    std::vector<std::vector<std::vector<ModelBoneKey>>> tracks;  // per motion, per bone
    int droppedScales = 0, droppedAnimations = 0;
    double sampled = 0, read = 0;
    std::set<int> stillNodes;
    std::vector<Matrix4> global(nodes, kIdentity4);
    std::vector<Matrix4> placed(bones, kIdentity4);
    for (std::size_t ai = 0; ai < doc.animations.size(); ++ai) {
        const tinygltf::Animation& animation = doc.animations[ai];
        const std::string what = "animation " + str(std::int64_t(ai));
        // Per slot of `order`.
        std::vector<Curve> translation(order.size()), rotation(order.size());
        std::vector<bool> moves(order.size(), false), turns(order.size(), false);
        double end = 0;
        for (std::size_t ci = 0; ci < animation.channels.size(); ++ci) {
            const tinygltf::AnimationChannel& channel = animation.channels[ci];
            const std::string where = what + " channel " + str(std::int64_t(ci));
            if (channel.sampler < 0 || std::size_t(channel.sampler) >= animation.samplers.size())
                return FormatError::refusal(where + " names sampler " + str(channel.sampler) +
                                            ", which does not exist");
            if (channel.target_node < 0)
                continue;  // aimed by an extension
            if (std::size_t(channel.target_node) >= nodes)
                return FormatError::refusal(where + " moves node " + str(channel.target_node) +
                                            ", which does not exist");
            const std::size_t node = std::size_t(channel.target_node);
            const bool isTranslation = channel.target_path == "translation";
            const bool isRotation = channel.target_path == "rotation";
            if (!isTranslation && !isRotation && channel.target_path != "scale")
                continue;  // morph weights, told with the morph targets
            Curve curve;
            if (auto why = readCurve(doc, animation.samplers[std::size_t(channel.sampler)], isRotation ? 4 : 3, curve))
                return FormatError::refusal(where + " sampler " + str(channel.sampler) + " " + *why);
            read += double(curve.times.size() + curve.values.size());
            if (read > kMaxKeyValues)
                return FormatError::refusal(what + ": the animations hold more than 32 million key values");
            if (depth[node] < 0) {
                // A mesh outside the skin keeps the pose the reader baked in.
                if (rig.carriesMesh[node] && !(!isTranslation && !isRotation && curve.holdsOnly(1, kUnitScale)))
                    stillNodes.insert(channel.target_node);
                continue;
            }
            if (!isTranslation && !isRotation) {
                // Our own export keys every bone's scale at 1, Blender at 1 give or take a float's
                // rounding: nothing is lost there.
                if (!curve.holdsOnly(1, kUnitScale))
                    ++droppedScales;
                continue;
            }
            end = std::max(end, curve.times.back());
            (isTranslation ? moves : turns)[slotOf[node]] = true;
            (isTranslation ? translation : rotation)[slotOf[node]] = std::move(curve);
        }

        const double lastFrame = std::round(end * kFramesPerSecond);
        // As many motions as a KZP file holds; each carries its group key tables.
        if (sampled + (lastFrame + 1) * double(bones) > kMaxSampledKeys ||
            motions.size() >= std::size_t(kMaxKzpMotions)) {
            ++droppedAnimations;
            continue;
        }
        sampled += (lastFrame + 1) * double(bones);
        const int frames = int(lastFrame);
        ModelMotion motion;
        motion.name = motionName(animation.name);
        motion.frameCount = std::max(frames, 1);
        std::vector<std::vector<ModelBoneKey>> keys(bones);
        for (int frame = 0; frame <= frames; ++frame) {
            const double t = frame / kFramesPerSecond;
            for (int n : order) {
                const NodeTrs& rest = restTrs[std::size_t(n)];
                Matrix4 local;
                if (rest.matrix) {
                    local = *rest.matrix;  // glTF animates no node that gives a matrix
                } else {
                    std::array<double, 3> at = rest.t;
                    std::array<double, 4> turn = rest.r;
                    if (moves[slotOf[std::size_t(n)]]) {
                        const auto v = translation[slotOf[std::size_t(n)]].at(t);
                        at = {v[0], v[1], v[2]};
                    }
                    if (turns[slotOf[std::size_t(n)]])
                        turn = rotation[slotOf[std::size_t(n)]].at(t);
                    local = composeTrs(at, turn, rest.s);
                }
                const int up = rig.nodeParent[std::size_t(n)];
                global[std::size_t(n)] = up >= 0 ? multiply(global[std::size_t(up)], local) : local;
            }
            // Each bone's global transform in the model: the joint's skinning matrix in model space
            // applied after the move to its rest position, so that the model's skinning of a
            // vertex relative to its bone's rest gives glTF's.
            for (std::size_t b = 1; b < bones; ++b) {
                if (rig.boneNode[b] < 0)
                    continue;
                Matrix4 at = kIdentity4;
                at[12] = rig.rest[b][0], at[13] = rig.rest[b][1], at[14] = rig.rest[b][2];
                placed[b] = multiply(mirrored(multiply(global[std::size_t(rig.boneNode[b])], rig.inverseBind[b])), at);
            }
            for (std::size_t b = 1; b < bones; ++b) {
                if (rig.boneNode[b] < 0)
                    continue;
                const std::size_t up = std::size_t(rig.boneParent[b]);
                Matrix4 local = placed[b];
                if (up > 0) {
                    const std::optional<Matrix4> parent = inverse(placed[up]);
                    if (!parent)
                        continue;  // a parent scaled to nothing: the bone keeps its neighbouring keys
                    local = multiply(*parent, placed[b]);
                }
                ModelBoneKey key = keyOf(local);
                key.frame = frame;
                for (std::size_t a = 0; a < 3; ++a)
                    key.position[a] -= float(rig.rest[b][a] - rig.rest[up][a]);
                append(keys[b], key);
            }
        }
        for (std::vector<ModelBoneKey>& k : keys)
            if (k.size() == 2 && sameKey(k[0], k[1]))
                k.pop_back();
        motions.push_back(std::move(motion));
        tracks.push_back(std::move(keys));
    }

    const std::string prefix = warningPrefix(ctx);
    if (droppedScales > 0)
        ctx.warn(prefix + str(droppedScales) + (droppedScales == 1 ? " scale channel" : " scale channels") +
                 " dropped; the motions move and turn the bones only");
    if (!stillNodes.empty())
        ctx.warn(prefix + "the animations of " + str(std::int64_t(stillNodes.size())) +
                 (stillNodes.size() == 1 ? " node" : " nodes") + " outside the skin dropped");
    if (droppedAnimations > 0)
        ctx.warn(prefix + str(droppedAnimations) + (droppedAnimations == 1 ? " animation" : " animations") +
                 " dropped; a model holds 1024 motions of at most 2,000,000 bone keys in all");
    if (motions.empty())
        return std::nullopt;
    model.motions = std::move(motions);
    for (std::size_t b = 0; b < bones; ++b) {
        ModelBone& bone = model.bones[b];
        bone.tracks.assign(model.motions.size(), ModelBoneTrack{});
        for (std::size_t m = 0; m < model.motions.size(); ++m) {
            bone.tracks[m].keys = std::move(tracks[m][b]);
            if (bone.tracks[m].keys.empty())
                bone.tracks[m].keys.resize(1);  // the rest pose
        }
    }
    return std::nullopt;
}

}  // namespace rv::gltf
