// The skin of a glTF document as the model's bones and skin weights, and the warnings for what the
// model cannot hold (other skins, morph targets, cameras, lights).
#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include "formats/gltf/gltf_read_rig.h"
#include "runtime/paths.h"

namespace rv {
namespace gltf {
namespace {

std::string str(std::int64_t v) { return std::to_string(v); }

bool nearly(const Matrix4& a, const Matrix4& b, double tolerance) {
    for (std::size_t i = 0; i < 16; ++i)
        if (!(std::fabs(a[i] - b[i]) <= tolerance))
            return false;
    return true;
}

// The model's bone name for a node name: its Shift-JIS form when it has one that fits, else the
// name a new bone gets.
std::string boneName(const std::string& utf8, int bone) {
    if (!utf8.empty())
        if (std::optional<std::string> sjis = utf8ToSjis(utf8); sjis && sjis->size() <= std::size_t(kMaxBoneNameBytes))
            return *sjis;
    return defaultBone(bone).name;
}

// Every position stays where the mesh put it: bound to the fixed root bone.
void bindToRoot(Model& model) { model.skin.assign(model.positions.size(), ModelSkinWeight{0, 0, 1.0f, 0}); }

// The joints and weights of a primitive's vertices, from every JOINTS_n / WEIGHTS_n pair.
struct PrimitiveWeights {
    std::vector<double> joints, weights;  // 4 per vertex per set, sets one after the other
    std::size_t sets = 0, vertices = 0;
};

std::optional<std::string> readPrimitiveWeights(const tinygltf::Model& doc, const tinygltf::Primitive& primitive,
                                                PrimitiveWeights& out) {
    for (int set = 0;; ++set) {
        const auto j = primitive.attributes.find("JOINTS_" + str(set));
        const auto w = primitive.attributes.find("WEIGHTS_" + str(set));
        if (j == primitive.attributes.end() || w == primitive.attributes.end())
            return std::nullopt;
        std::vector<double> joints, weights;
        if (auto why = accessorValues(doc, j->second, 4, joints))
            return "JOINTS_" + str(set) + ": " + *why;
        if (auto why = accessorValues(doc, w->second, 4, weights))
            return "WEIGHTS_" + str(set) + ": " + *why;
        const std::size_t vertices = joints.size() / 4;
        if (weights.size() != joints.size() || (set > 0 && vertices != out.vertices))
            return "JOINTS_" + str(set) + " and WEIGHTS_" + str(set) + " do not hold one entry per vertex";
        out.vertices = vertices;
        out.joints.insert(out.joints.end(), joints.begin(), joints.end());
        out.weights.insert(out.weights.end(), weights.begin(), weights.end());
        ++out.sets;
    }
}

}  // namespace

Matrix4 multiply(const Matrix4& a, const Matrix4& b) {
    Matrix4 m{};
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r) {
            double v = 0;
            for (int k = 0; k < 4; ++k)
                v += a[std::size_t(k * 4 + r)] * b[std::size_t(c * 4 + k)];
            m[std::size_t(c * 4 + r)] = v;
        }
    return m;
}

std::optional<Matrix4> inverse(const Matrix4& m) {
    // Gauss-Jordan with partial pivoting on [m | I], rows r, columns c at [c * 4 + r].
    double a[4][8];
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 8; ++c)
            a[r][c] = c < 4 ? m[std::size_t(c * 4 + r)] : (c - 4 == r ? 1.0 : 0.0);
    for (int col = 0; col < 4; ++col) {
        int pivot = col;
        for (int r = col + 1; r < 4; ++r)
            if (std::fabs(a[r][col]) > std::fabs(a[pivot][col]))
                pivot = r;
        if (!(std::fabs(a[pivot][col]) > 1e-300))
            return std::nullopt;
        std::swap(a[pivot], a[col]);
        const double d = a[col][col];
        for (double& v : a[col])
            v /= d;
        for (int r = 0; r < 4; ++r)
            if (r != col && a[r][col] != 0) {
                const double f = a[r][col];
                for (int c = 0; c < 8; ++c)
                    a[r][c] -= f * a[col][c];
            }
    }
    Matrix4 out{};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            out[std::size_t(c * 4 + r)] = a[r][c + 4];
    return out;
}

Matrix4 composeTrs(const std::array<double, 3>& t, const std::array<double, 4>& q, const std::array<double, 3>& s) {
    const auto [x, y, z, w] = q;
    const double r[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)},
                            {2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)},
                            {2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)}};
    Matrix4 m = kIdentity4;
    for (int c = 0; c < 3; ++c)
        for (int row = 0; row < 3; ++row)
            m[std::size_t(c * 4 + row)] = r[row][c] * s[std::size_t(c)];
    m[12] = t[0];
    m[13] = t[1];
    m[14] = t[2];
    return m;
}

Matrix4 mirrored(const Matrix4& m) {
    Matrix4 out = m;
    for (std::size_t i : {2, 6, 14, 8, 9, 11})  // row 2 or column 2, not both
        out[i] = -out[i];
    return out;
}

NodeTrs nodeTrs(const tinygltf::Node& node) {
    NodeTrs trs;
    if (node.matrix.size() == 16) {
        Matrix4 m;
        std::copy(node.matrix.begin(), node.matrix.end(), m.begin());
        trs.matrix = m;
        return trs;
    }
    if (node.translation.size() == 3)
        std::copy(node.translation.begin(), node.translation.end(), trs.t.begin());
    if (node.rotation.size() == 4) {
        // glTF asks for a unit quaternion; exporters round.
        const auto& q = node.rotation;
        const double length = std::hypot(std::hypot(q[0], q[1]), std::hypot(q[2], q[3]));
        if (!std::isfinite(length))
            std::copy(q.begin(), q.end(), trs.r.begin());  // left for the caller to refuse
        else if (length > 1e-12)
            trs.r = {q[0] / length, q[1] / length, q[2] / length, q[3] / length};
    }
    if (node.scale.size() == 3)
        std::copy(node.scale.begin(), node.scale.end(), trs.s.begin());
    return trs;
}

std::optional<std::string> accessorValues(const tinygltf::Model& doc, int index, int components,
                                          std::vector<double>& out) {
    std::vector<float> values;
    int held = 0;
    if (auto why = readGltfFloats(doc, index, values, held))
        return why;
    if (held != components)
        return "accessor " + str(index) + " does not hold " + str(components) + " components per element";
    out.assign(values.begin(), values.end());
    return std::nullopt;
}

std::string warningPrefix(const ReadContext& ctx) { return ctx.path.empty() ? std::string() : ctx.path + ": "; }

}  // namespace gltf

using namespace gltf;

std::optional<FormatError> readGltfSkin(const tinygltf::Model& doc, std::span<const GltfVertexOrigin> origins,
                                        Model& model, ReadContext& ctx) {
    const std::string prefix = warningPrefix(ctx);
    const std::size_t nodes = doc.nodes.size();

    // What the model has no place for, told once each.
    std::set<int> usedMeshes, usedNodes;
    for (const GltfVertexOrigin& o : origins) {
        usedMeshes.insert(o.mesh);
        usedNodes.insert(o.node);
    }
    int morphed = 0;
    for (int m : usedMeshes)
        if (m >= 0 && std::size_t(m) < doc.meshes.size())
            for (const tinygltf::Primitive& p : doc.meshes[std::size_t(m)].primitives)
                if (!p.targets.empty()) {
                    ++morphed;
                    break;
                }
    if (morphed > 0)
        ctx.warn(prefix + "morph targets of " + str(morphed) + (morphed == 1 ? " mesh" : " meshes") +
                 " dropped; the mesh keeps its base shape");
    if (!doc.cameras.empty())
        ctx.warn(prefix + str(std::int64_t(doc.cameras.size())) + (doc.cameras.size() == 1 ? " camera" : " cameras") +
                 " dropped");
    if (!doc.lights.empty())
        ctx.warn(prefix + str(std::int64_t(doc.lights.size())) + (doc.lights.size() == 1 ? " light" : " lights") +
                 " dropped");

    bindToRoot(model);
    if (origins.size() != model.positions.size())
        return FormatError::refusal("the skin has " + str(std::int64_t(origins.size())) + " vertex origins for " +
                                    str(std::int64_t(model.positions.size())) + " positions");

    // The node tree, refused when a node has two parents or the parents run in a circle.
    GltfRig rig;
    rig.nodeParent.assign(nodes, -1);
    for (std::size_t n = 0; n < nodes; ++n)
        for (int child : doc.nodes[n].children) {
            if (child < 0 || std::size_t(child) >= nodes)
                return FormatError::refusal("node " + str(std::int64_t(n)) + " has child " + str(child) +
                                            ", which does not exist");
            if (rig.nodeParent[std::size_t(child)] >= 0)
                return FormatError::refusal("node " + str(child) + " has two parents");
            rig.nodeParent[std::size_t(child)] = int(n);
        }
    for (std::size_t n = 0; n < nodes; ++n) {
        std::size_t steps = 0;
        for (int up = rig.nodeParent[n]; up >= 0; up = rig.nodeParent[std::size_t(up)])
            if (++steps > nodes)
                return FormatError::refusal("node " + str(std::int64_t(n)) + " lies in a cycle of nodes");
    }

    rig.carriesMesh.assign(nodes, false);
    for (int node : usedNodes)
        for (int n = node; n >= 0 && n < int(nodes) && !rig.carriesMesh[std::size_t(n)];
             n = rig.nodeParent[std::size_t(n)])
            rig.carriesMesh[std::size_t(n)] = true;

    // The skin of the first skinned mesh; meshes of other skins stay in their bind pose.
    int skinIndex = -1;
    std::set<int> skinsUsed;
    for (const GltfVertexOrigin& o : origins) {
        if (o.node < 0 || std::size_t(o.node) >= nodes)
            return FormatError::refusal("a vertex comes from node " + str(o.node) + ", which does not exist");
        const int s = doc.nodes[std::size_t(o.node)].skin;
        if (s < 0)
            continue;
        if (std::size_t(s) >= doc.skins.size())
            return FormatError::refusal("node " + str(o.node) + " names skin " + str(s) + ", which does not exist");
        if (skinIndex < 0)
            skinIndex = s;
        skinsUsed.insert(s);
    }
    if (skinsUsed.size() > 1)
        ctx.warn(prefix + str(std::int64_t(skinsUsed.size())) +
                 " skins; the model holds one: the meshes of the others stay in their bind pose");
    const std::size_t animations = doc.animations.size();
    const std::string animationsText =
        animations == 0 ? std::string()
                        : " and " + str(std::int64_t(animations)) + (animations == 1 ? " animation" : " animations");
    if (skinIndex < 0) {
        // Morph weights are told with the morph targets; nodes that carry no mesh show nothing.
        std::size_t moving = 0;
        for (const tinygltf::Animation& a : doc.animations)
            moving += std::any_of(a.channels.begin(), a.channels.end(), [&](const tinygltf::AnimationChannel& c) {
                return c.target_node >= 0 && std::size_t(c.target_node) < nodes &&
                       rig.carriesMesh[std::size_t(c.target_node)] && c.target_path != "weights";
            });
        if (moving > 0)
            ctx.warn(prefix + str(std::int64_t(moving)) + (moving == 1 ? " animation" : " animations") +
                     " dropped; the model moves skinned meshes only");
        return std::nullopt;
    }
    const tinygltf::Skin& skin = doc.skins[std::size_t(skinIndex)];
    const std::size_t joints = skin.joints.size();
    if (joints == 0)
        return std::nullopt;
    if (joints > std::size_t(kMaxBones)) {
        ctx.warn(prefix + "skin of " + str(std::int64_t(joints)) + " joints" + animationsText +
                 " dropped; a model holds at most 128 bones: the mesh stays in its bind pose");
        return std::nullopt;
    }
    std::vector<int> boneOfNode(nodes, -1);
    for (std::size_t j = 0; j < joints; ++j) {
        const int node = skin.joints[j];
        if (node < 0 || std::size_t(node) >= nodes)
            return FormatError::refusal("skin " + str(skinIndex) + " joint " + str(std::int64_t(j)) + " is node " +
                                        str(node) + ", which does not exist");
        if (boneOfNode[std::size_t(node)] >= 0)
            return FormatError::refusal("skin " + str(skinIndex) + " lists node " + str(node) + " twice");
        boneOfNode[std::size_t(node)] = 0;  // a joint; its bone comes below
    }
    std::vector<double> ibmValues;
    if (skin.inverseBindMatrices >= 0) {
        if (auto why = accessorValues(doc, skin.inverseBindMatrices, 16, ibmValues))
            return FormatError::refusal("skin " + str(skinIndex) + " inverse bind matrices: " + *why);
        if (ibmValues.size() / 16 < joints)
            return FormatError::refusal("skin " + str(skinIndex) + " has " + str(std::int64_t(ibmValues.size() / 16)) +
                                        " inverse bind matrices for " + str(std::int64_t(joints)) + " joints");
    }
    auto inverseBindOf = [&](std::size_t j) {
        Matrix4 m = kIdentity4;
        if (!ibmValues.empty())
            std::copy(ibmValues.begin() + std::ptrdiff_t(j * 16), ibmValues.begin() + std::ptrdiff_t(j * 16 + 16),
                      m.begin());
        return m;
    };
    for (std::size_t j = 0; j < joints; ++j)
        for (double v : inverseBindOf(j))
            if (!std::isfinite(v))
                return FormatError::refusal("skin " + str(skinIndex) + " has a non-finite inverse bind matrix");

    // The joint each joint hangs from: its nearest joint ancestor.
    auto jointParent = [&](int node) {
        for (int up = rig.nodeParent[std::size_t(node)]; up >= 0; up = rig.nodeParent[std::size_t(up)])
            if (boneOfNode[std::size_t(up)] >= 0)
                return up;
        return -1;
    };
    // The first joint becomes the fixed root bone when it binds at the origin, nothing moves it
    // and it hangs from no joint (as our own export writes bone 0); else the root is a bone of its own.
    std::set<int> animated;
    for (const tinygltf::Animation& a : doc.animations)
        for (const tinygltf::AnimationChannel& c : a.channels)
            if ((c.target_path == "translation" || c.target_path == "rotation") && c.target_node >= 0)
                animated.insert(c.target_node);
    auto restGlobal = [&](int node) {
        Matrix4 g = kIdentity4;
        for (int n = node; n >= 0; n = rig.nodeParent[std::size_t(n)]) {
            const NodeTrs trs = nodeTrs(doc.nodes[std::size_t(n)]);
            g = multiply(trs.matrix ? *trs.matrix : composeTrs(trs.t, trs.r, trs.s), g);
        }
        return g;
    };
    bool firstIsRoot = jointParent(skin.joints[0]) < 0 && nearly(inverseBindOf(0), kIdentity4, 1e-6) &&
                       nearly(restGlobal(skin.joints[0]), kIdentity4, 1e-6);
    for (int n = skin.joints[0]; firstIsRoot && n >= 0; n = rig.nodeParent[std::size_t(n)])
        firstIsRoot = !animated.contains(n);
    if (!firstIsRoot && joints == std::size_t(kMaxBones)) {
        ctx.warn(prefix + "skin of 128 joints" + animationsText +
                 " dropped; a model holds 127 bones besides its fixed root: the mesh stays in its bind pose");
        return std::nullopt;
    }

    // Bones in joint order, each parent before its children.
    if (!firstIsRoot) {
        rig.boneNode.push_back(-1);
        rig.boneParent.push_back(0);
        rig.inverseBind.push_back(kIdentity4);
    }
    std::map<int, std::size_t> jointIndex;
    for (std::size_t j = 0; j < joints; ++j)
        jointIndex[skin.joints[j]] = j;
    std::vector<bool> placed(joints, false);
    std::vector<int> boneOfJoint(joints, 0);
    for (std::size_t j = 0; j < joints; ++j) {
        // The chain of unplaced joint ancestors, placed from the top.
        std::vector<std::size_t> chain;
        for (int node = skin.joints[j]; node >= 0; node = jointParent(node)) {
            const std::size_t at = jointIndex[node];
            if (placed[at])
                break;
            chain.push_back(at);
        }
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
            const int node = skin.joints[*it];
            const int up = jointParent(node);
            placed[*it] = true;
            boneOfJoint[*it] = int(rig.boneNode.size());
            boneOfNode[std::size_t(node)] = boneOfJoint[*it];
            rig.boneNode.push_back(node);
            rig.boneParent.push_back(up >= 0 ? boneOfNode[std::size_t(up)] : 0);
            rig.inverseBind.push_back(inverseBindOf(*it));
        }
    }

    // Rest positions: where each joint sits in the bind pose, from its inverse bind matrix.
    const std::size_t bones = rig.boneNode.size();
    rig.rest.assign(bones, {0, 0, 0});
    for (std::size_t b = 0; b < bones; ++b) {
        if (b == 0 && firstIsRoot)
            continue;
        const std::optional<Matrix4> bind = inverse(mirrored(rig.inverseBind[b]));
        if (!bind)
            return FormatError::refusal("skin " + str(skinIndex) + " has a singular inverse bind matrix");
        rig.rest[b] = {(*bind)[12], (*bind)[13], (*bind)[14]};
    }
    model.boneCount = int(bones);
    for (std::size_t b = 0; b < bones; ++b) {
        ModelBone& bone = model.bones[b];
        bone = defaultBone(int(b));
        if (rig.boneNode[b] >= 0)
            bone.name = boneName(doc.nodes[std::size_t(rig.boneNode[b])].name, int(b));
        if (b == 0)
            continue;
        const std::array<double, 3>& up = rig.rest[std::size_t(rig.boneParent[b])];
        bone.parent = rig.boneParent[b];
        for (std::size_t a = 0; a < 3; ++a)
            bone.position[a] = float(rig.rest[b][a] - up[a]);
    }

    // Skin weights: the two strongest joints of each vertex of the kept skin. Meshes without a skin
    // that hang below a joint follow it whole; the rest stays put.
    std::map<std::pair<int, int>, PrimitiveWeights> weightsOf;
    for (std::size_t v = 0; v < origins.size(); ++v) {
        const GltfVertexOrigin& o = origins[v];
        const tinygltf::Node& node = doc.nodes[std::size_t(o.node)];
        ModelSkinWeight& out = model.skin[v];
        if (node.skin < 0) {
            for (int n = o.node; n >= 0; n = rig.nodeParent[std::size_t(n)])
                if (boneOfNode[std::size_t(n)] >= 0) {
                    out.bone = std::uint8_t(boneOfNode[std::size_t(n)]);
                    break;
                }
            continue;
        }
        if (node.skin != skinIndex)
            continue;
        auto found = weightsOf.find({o.mesh, o.primitive});
        if (found == weightsOf.end()) {
            if (o.mesh < 0 || std::size_t(o.mesh) >= doc.meshes.size() || o.primitive < 0 ||
                std::size_t(o.primitive) >= doc.meshes[std::size_t(o.mesh)].primitives.size())
                return FormatError::refusal("a vertex comes from mesh " + str(o.mesh) + " primitive " +
                                            str(o.primitive) + ", which does not exist");
            PrimitiveWeights w;
            if (auto why =
                    readPrimitiveWeights(doc, doc.meshes[std::size_t(o.mesh)].primitives[std::size_t(o.primitive)], w))
                return FormatError::refusal("mesh " + str(o.mesh) + " primitive " + str(o.primitive) + " " + *why);
            found = weightsOf.emplace(std::make_pair(o.mesh, o.primitive), std::move(w)).first;
        }
        const PrimitiveWeights& w = found->second;
        if (w.sets == 0)
            continue;  // a skinned node whose primitive has no weights: glTF leaves it undefined
        if (o.vertex >= w.vertices)
            return FormatError::refusal("mesh " + str(o.mesh) + " primitive " + str(o.primitive) + " has weights for " +
                                        str(std::int64_t(w.vertices)) + " vertices, not for vertex " + str(o.vertex));
        // Weight per bone, a joint listed twice counting once with both weights.
        std::vector<std::pair<int, double>> sum;
        for (std::size_t set = 0; set < w.sets; ++set)
            for (std::size_t k = 0; k < 4; ++k) {
                const std::size_t at = (set * w.vertices + o.vertex) * 4 + k;
                const double joint = w.joints[at], weight = w.weights[at];
                if (!(weight > 0))
                    continue;
                if (!std::isfinite(weight) || !(joint >= 0 && joint < double(joints)))
                    return FormatError::refusal("mesh " + str(o.mesh) + " primitive " + str(o.primitive) + " vertex " +
                                                str(o.vertex) + " names joint " + str(std::int64_t(joint)) +
                                                " of a skin of " + str(std::int64_t(joints)) + " joints");
                const int bone = boneOfJoint[std::size_t(joint)];
                auto same = std::find_if(sum.begin(), sum.end(), [&](const auto& e) { return e.first == bone; });
                if (same == sum.end())
                    sum.emplace_back(bone, weight);
                else
                    same->second += weight;
            }
        if (sum.empty())
            continue;
        std::stable_sort(sum.begin(), sum.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
        out.bone = std::uint8_t(sum[0].first);
        if (sum.size() >= 2) {
            const float share = float(sum[0].second / (sum[0].second + sum[1].second));
            if (share < 1.0f) {
                out.bone2 = std::uint8_t(sum[1].first);
                out.weight = share;
            }
        }
    }
    return readGltfMotions(doc, rig, model, ctx);
}

}  // namespace rv
