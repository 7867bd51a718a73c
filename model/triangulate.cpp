#include "model/triangulate.h"

#include <cmath>

namespace rv {
namespace {

// Past this many corners a polygon is split as a fan: clipping costs up to the cube of the
// corner count on outlines that offer few ears.
constexpr std::size_t kMaxClippedCorners = 1024;

struct Point {
    double u = 0, v = 0;
};

double cross(const Point& a, const Point& b, const Point& c) {
    return (b.u - a.u) * (c.v - b.v) - (b.v - a.v) * (c.u - b.u);
}

bool same(const Point& a, const Point& b) { return a.u == b.u && a.v == b.v; }

void fan(std::size_t first, const std::vector<std::int32_t>& next, std::size_t count,
         std::vector<std::array<std::int32_t, 3>>& out) {
    std::int32_t b = next[first];
    for (std::size_t k = 0; k + 2 < count; ++k) {
        const std::int32_t c = next[std::size_t(b)];
        out.push_back({std::int32_t(first), b, c});
        b = c;
    }
}

}  // namespace

void triangulatePolygon(std::span<const ModelVertex> corners, std::vector<std::array<std::int32_t, 3>>& out) {
    const std::size_t n = corners.size();
    std::vector<std::int32_t> next(n), prev(n);
    for (std::size_t i = 0; i < n; ++i) {
        next[i] = std::int32_t((i + 1) % n);
        prev[i] = std::int32_t((i + n - 1) % n);
    }
    // Newell's normal; the polygon is flattened along its largest axis.
    double nx = 0, ny = 0, nz = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const ModelVertex& a = corners[i];
        const ModelVertex& b = corners[(i + 1) % n];
        nx += (double(a.y) - b.y) * (double(a.z) + b.z);
        ny += (double(a.z) - b.z) * (double(a.x) + b.x);
        nz += (double(a.x) - b.x) * (double(a.y) + b.y);
    }
    const double ax = std::fabs(nx), ay = std::fabs(ny), az = std::fabs(nz);
    if (n > kMaxClippedCorners || !(ax + ay + az > 0)) {
        fan(0, next, n, out);
        return;
    }
    // Projected so that the outline runs counter-clockwise: ears are then the left turns.
    std::vector<Point> p(n);
    for (std::size_t i = 0; i < n; ++i) {
        const ModelVertex& c = corners[i];
        if (az >= ax && az >= ay)
            p[i] = {c.x, nz > 0 ? double(c.y) : -double(c.y)};
        else if (ax >= ay)
            p[i] = {c.y, nx > 0 ? double(c.z) : -double(c.z)};
        else
            p[i] = {c.z, ny > 0 ? double(c.x) : -double(c.x)};
    }

    auto isEar = [&](std::int32_t b) {
        const std::int32_t a = prev[std::size_t(b)], c = next[std::size_t(b)];
        const Point &pa = p[std::size_t(a)], &pb = p[std::size_t(b)], &pc = p[std::size_t(c)];
        if (!(cross(pa, pb, pc) > 0))
            return false;
        for (std::int32_t k = next[std::size_t(c)]; k != a; k = next[std::size_t(k)]) {
            const Point& q = p[std::size_t(k)];
            if (same(q, pa) || same(q, pb) || same(q, pc))
                continue;
            if (cross(pa, pb, q) >= 0 && cross(pb, pc, q) >= 0 && cross(pc, pa, q) >= 0)
                return false;
        }
        return true;
    };

    std::size_t count = n;
    std::int32_t current = 0;
    std::size_t tried = 0;
    while (count > 3) {
        if (isEar(current)) {
            const std::int32_t a = prev[std::size_t(current)], c = next[std::size_t(current)];
            out.push_back({a, current, c});
            next[std::size_t(a)] = c;
            prev[std::size_t(c)] = a;
            --count;
            current = a;
            tried = 0;
        } else if (++tried >= count) {
            // No ear left: the outline crosses or folds onto itself. The rest becomes a fan.
            fan(std::size_t(current), next, count, out);
            return;
        } else {
            current = next[std::size_t(current)];
        }
    }
    out.push_back({prev[std::size_t(current)], current, next[std::size_t(current)]});
}

}  // namespace rv
