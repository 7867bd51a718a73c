#include "model/mesh.h"
#include "model/vertex_hash.h"

namespace rv {
namespace {

// Welds one table in corner order: `indexOf(corner)` is the corner's index into `table`. An index
// outside the table (index 0 of an empty table is common: a format without colours or uvs) adds
// nothing and stays as it is; a welded table never grows, so it stays outside. `onEntry(old)` is
// told the old index of every entry kept, in order.
template <class T, class A, class IndexOf, class OnEntry>
void weldTable(HugePageVector<ModelPolygon>& polygons, std::vector<T, A>& table, FirstMatchScratch& scratch,
               IndexOf indexOf, OnEntry onEntry) {
    constexpr std::size_t N = std::tuple_size_v<decltype(keyOf(T{}))>;
    std::vector<std::array<float, N>> keys;
    std::vector<std::int32_t> sources;
    keys.reserve(polygons.size() * 4);
    sources.reserve(polygons.size() * 4);
    for (ModelPolygon& p : polygons)
        for (int c = 0; c < cornersOf(p); ++c) {
            const std::int32_t index = indexOf(p.corners[c]);
            if (index >= 0 && std::size_t(index) < table.size()) {
                keys.push_back(keyOf(table[std::size_t(index)]));
                sources.push_back(index);
            }
        }

    std::vector<std::int32_t> remap(keys.size());
    std::vector<T, A> welded;
    welded.reserve(buildFirstMatchRemap<N>(remap, keys, &scratch));
    std::size_t next = 0;
    for (ModelPolygon& p : polygons)
        for (int c = 0; c < cornersOf(p); ++c) {
            std::int32_t& index = indexOf(p.corners[c]);
            if (index < 0 || std::size_t(index) >= table.size())
                continue;
            if (std::size_t(remap[next]) == welded.size()) {
                welded.push_back(table[std::size_t(sources[next])]);
                onEntry(sources[next]);
            }
            index = remap[next++];
        }
    table = std::move(welded);
}

}  // namespace

void weldModel(Model& model) {
    FirstMatchScratch scratch;
    HugePageVector<ModelSkinWeight> skin;
    skin.reserve(model.positions.size());
    weldTable(
        model.polygons, model.positions, scratch, [](ModelCorner& c) -> std::int32_t& { return c.position; },
        [&](std::int32_t old) { skin.push_back(entryOr0(model.skin, old)); });
    model.skin = std::move(skin);
    weldTable(
        model.polygons, model.colors, scratch, [](ModelCorner& c) -> std::int32_t& { return c.color; },
        [](std::int32_t) {});
    weldTable(
        model.polygons, model.uvs, scratch, [](ModelCorner& c) -> std::int32_t& { return c.uv; }, [](std::int32_t) {});
    computeNormals(model);
}

}  // namespace rv
