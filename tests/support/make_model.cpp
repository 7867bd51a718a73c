#include "tests/support/make_model.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "model/mesh.h"

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

Model makeSeamedGrid(int columns, int rows, bool quads) {
    Model m;
    m.groups.resize(2);
    const int across = columns + 1;
    // Inner vertices are moved a little off the lattice, as in a real mesh: exactly collinear
    // vertices everywhere would be a case of their own.
    const auto jitter = [](int a, int b) { return float((a * 7919 + b * 104729) % 61 - 30) / 100.0f; };
    for (int z = 0; z <= rows; ++z)
        for (int x = 0; x <= columns; ++x) {
            const bool fixedX = x == 0 || x == columns / 4 || x == columns / 2 || x == columns;
            const float px = float(x) + (fixedX ? 0.0f : jitter(x, z));
            const float pz = float(z) + (z == 0 || z == rows ? 0.0f : jitter(z, x));
            m.positions.push_back({px, std::sin(px * 0.05f) * std::cos(pz * 0.07f) * 4.0f, pz});
            m.skin.push_back({std::uint8_t((x + z) % 3), 0, 1.0f, 0});
        }
    m.colors = {{255, 255, 255, 255}};
    std::vector<std::int32_t> uvOf(std::size_t(3 * across * (rows + 1)), -1);  // by region and position
    const auto corner = [&](int x, int z, int region) {
        const std::int32_t position = z * across + x;
        std::int32_t& uv = uvOf[std::size_t(region * across * (rows + 1) + position)];
        if (uv < 0) {
            uv = m.uvCount();
            const ModelVertex& v = m.positions[std::size_t(position)];
            m.uvs.push_back({v.x / float(columns) + float(region), v.z / float(rows)});
        }
        return ModelCorner{position, 0, 0, uv};
    };
    m.polygons.reserve(std::size_t(columns * rows * (quads ? 1 : 2)));
    for (int z = 0; z < rows; ++z)
        for (int x = 0; x < columns; ++x) {
            const int region = x < columns / 4 ? 0 : x < columns / 2 ? 1 : 2;
            const ModelCorner c[4] = {corner(x, z, region), corner(x, z + 1, region), corner(x + 1, z + 1, region),
                                      corner(x + 1, z, region)};
            ModelPolygon p;
            p.group = region < 2 ? 0 : 1;
            if (quads) {
                p.cornerCount = 4;
                p.corners = {c[0], c[1], c[2], c[3]};
                m.polygons.push_back(p);
                continue;
            }
            p.cornerCount = 3;
            p.corners = {c[0], c[1], c[2], ModelCorner{}};
            m.polygons.push_back(p);
            p.corners = {c[0], c[2], c[3], ModelCorner{}};
            m.polygons.push_back(p);
        }
    computeNormals(m);
    return m;
}

std::string gridObj(int columns, int rows) {
    std::string text;
    text.reserve(std::size_t(columns) * std::size_t(rows) * 80);
    char line[160];
    for (int z = 0; z <= rows; ++z)
        for (int x = 0; x <= columns; ++x) {
            std::snprintf(line, sizeof line, "v %d %.4f %d\nvt %.5f %.5f\n", x,
                          std::sin(float(x) * 0.05f) * std::cos(float(z) * 0.07f) * 4.0f, z, float(x) / float(columns),
                          float(z) / float(rows));
            text += line;
        }
    for (int z = 0; z < rows; ++z)
        for (int x = 0; x < columns; ++x) {
            const int a = z * (columns + 1) + x + 1, b = a + columns + 1;
            std::snprintf(line, sizeof line, "f %d/%d %d/%d %d/%d\nf %d/%d %d/%d %d/%d\n", a, a, b, b, b + 1, b + 1, a,
                          a, b + 1, b + 1, a + 1, a + 1);
            text += line;
        }
    return text;
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

void addQuad(Model& m, int group, const ModelVertex& a, const ModelVertex& b, const ModelVertex& c,
             const ModelVertex& d) {
    const int base = int(m.positions.size());
    for (const ModelVertex& p : {a, b, c, d}) {
        m.positions.push_back(p);
        m.skin.push_back({});
    }
    if (m.uvs.empty())
        m.uvs.push_back({0, 0});
    ModelPolygon p;
    p.cornerCount = 4;
    p.group = group;
    for (int k = 0; k < 4; ++k)
        p.corners[std::size_t(k)] = {base + k, 0, 0, 0};
    m.polygons.push_back(p);
}

}  // namespace rv::test
