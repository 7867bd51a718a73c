#include "tests/support/make_model.h"

#include <cmath>

namespace rv::test {

Model makeQuadGrid(int quads, int groups) {
    Model m;
    const int side = std::max(1, int(std::ceil(std::sqrt(double(quads)))));
    m.groups.resize(std::size_t(std::max(1, groups)));
    m.polygons.reserve(std::size_t(quads));
    for (int q = 0; q < quads; ++q) {
        const int gx = q % side, gy = q / side;
        ModelPolygon p;
        p.cornerCount = 4;
        p.group = q % int(m.groups.size());
        const int dx[4] = {0, 1, 1, 0}, dy[4] = {0, 0, 1, 1};
        for (int c = 0; c < 4; ++c) {
            const float x = float(gx + dx[c]), y = float(gy + dy[c]);
            const int index = int(m.positions.size());
            m.positions.push_back({x, std::sin(x * 0.1f) * std::cos(y * 0.1f), y});
            m.skin.push_back({});
            m.colors.push_back({float((gx * 7) % 256), float((gy * 13) % 256), 128, 255});
            m.uvs.push_back({x / float(side), y / float(side)});
            p.corners[c] = {index, 0, index, index};
        }
        m.polygons.push_back(p);
    }
    return m;
}

Model makeSmallModel() {
    Model m;
    m.positions = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {2, 0, 0}};
    m.skin.resize(m.positions.size());
    m.normals = {{0, 0, 1}};
    m.colors = {{255, 0, 0, 255}, {0, 255, 0, 255}};
    m.uvs = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    m.groups.resize(2);
    m.groups[1].name = "second";
    m.groups[1].color = {10, 20, 30, 255};
    ModelPolygon quad;
    quad.cornerCount = 4;
    quad.group = 0;
    for (int c = 0; c < 4; ++c)
        quad.corners[c] = {c, 0, 0, c};
    ModelPolygon tri;
    tri.cornerCount = 3;
    tri.group = 1;
    tri.corners[0] = {1, 0, 1, 0};
    tri.corners[1] = {4, 0, 1, 1};
    tri.corners[2] = {2, 0, 1, 2};
    m.polygons = {quad, tri};
    return m;
}

}  // namespace rv::test
