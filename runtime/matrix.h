// 4x4 matrices in Direct3D's row-vector convention: p' = p x M, translation in
// row 3, element (r, c) at m[r * 4 + c]. The 16 floats are also the column-major storage of the
// column-vector matrix, so they go to glUniformMatrix4fv untransposed.
#pragma once

#include <array>
#include <cmath>

namespace rv {

using Mat4 = std::array<float, 16>;

struct Vec3 {
    float x = 0, y = 0, z = 0;
};

struct Quat {
    float x = 0, y = 0, z = 0, w = 1;
};

inline constexpr Mat4 kIdentity{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

inline Mat4 multiply(const Mat4& a, const Mat4& b) {
    Mat4 m{};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            m[r * 4 + c] = a[r * 4 + 0] * b[0 * 4 + c] + a[r * 4 + 1] * b[1 * 4 + c] + a[r * 4 + 2] * b[2 * 4 + c] +
                           a[r * 4 + 3] * b[3 * 4 + c];
    return m;
}

inline Mat4 translation(float x, float y, float z) { return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1}; }
inline Mat4 scaling(float x, float y, float z) { return {x, 0, 0, 0, 0, y, 0, 0, 0, 0, z, 0, 0, 0, 0, 1}; }

// Left-handed rotations by `a` radians.
inline Mat4 rotationX(float a) {
    const float c = std::cos(a), s = std::sin(a);
    return {1, 0, 0, 0, 0, c, s, 0, 0, -s, c, 0, 0, 0, 0, 1};
}
inline Mat4 rotationY(float a) {
    const float c = std::cos(a), s = std::sin(a);
    return {c, 0, -s, 0, 0, 1, 0, 0, s, 0, c, 0, 0, 0, 0, 1};
}
inline Mat4 rotationZ(float a) {
    const float c = std::cos(a), s = std::sin(a);
    return {c, s, 0, 0, -s, c, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
}

// The rotation of a unit quaternion.
inline Mat4 rotationOf(const Quat& q) {
    const float xx = q.x * q.x, yy = q.y * q.y, zz = q.z * q.z;
    const float xy = q.x * q.y, xz = q.x * q.z, yz = q.y * q.z;
    const float wx = q.w * q.x, wy = q.w * q.y, wz = q.w * q.z;
    return {1 - 2 * (yy + zz),
            2 * (xy + wz),
            2 * (xz - wy),
            0,
            2 * (xy - wz),
            1 - 2 * (xx + zz),
            2 * (yz + wx),
            0,
            2 * (xz + wy),
            2 * (yz - wx),
            1 - 2 * (xx + yy),
            0,
            0,
            0,
            0,
            1};
}

// The rotation of q1 followed by that of q2 (as rotationOf(q1) x rotationOf(q2)).
inline Quat multiply(const Quat& q1, const Quat& q2) {
    return {
        q2.w * q1.x + q2.x * q1.w + q2.y * q1.z - q2.z * q1.y, q2.w * q1.y - q2.x * q1.z + q2.y * q1.w + q2.z * q1.x,
        q2.w * q1.z + q2.x * q1.y - q2.y * q1.x + q2.z * q1.w, q2.w * q1.w - q2.x * q1.x - q2.y * q1.y - q2.z * q1.z};
}

inline float dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline Vec3 operator-(const Vec3& a, const Vec3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3 operator+(const Vec3& a, const Vec3& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
// Unit vector; the zero vector stays zero (no NaN for a degenerate view).
inline Vec3 normalize(const Vec3& v) {
    const float length = std::sqrt(dot(v, v));
    return length > 0 ? Vec3{v.x / length, v.y / length, v.z / length} : Vec3{};
}

// p x M with w = 1, divided by the resulting w.
inline Vec3 transformCoord(const Vec3& p, const Mat4& m) {
    const float x = p.x * m[0] + p.y * m[4] + p.z * m[8] + m[12];
    const float y = p.x * m[1] + p.y * m[5] + p.z * m[9] + m[13];
    const float z = p.x * m[2] + p.y * m[6] + p.z * m[10] + m[14];
    const float w = p.x * m[3] + p.y * m[7] + p.z * m[11] + m[15];
    return w != 0 ? Vec3{x / w, y / w, z / w} : Vec3{x, y, z};
}
// p x M with w = 1 for an affine M (no divide).
inline Vec3 transformPoint(const Vec3& p, const Mat4& m) {
    return {p.x * m[0] + p.y * m[4] + p.z * m[8] + m[12], p.x * m[1] + p.y * m[5] + p.z * m[9] + m[13],
            p.x * m[2] + p.y * m[6] + p.z * m[10] + m[14]};
}
// v x M with w = 0.
inline Vec3 transformNormal(const Vec3& v, const Mat4& m) {
    return {v.x * m[0] + v.y * m[4] + v.z * m[8], v.x * m[1] + v.y * m[5] + v.z * m[9],
            v.x * m[2] + v.y * m[6] + v.z * m[10]};
}

// Left-handed look-at view: z toward `at`, x = up x z, y = z x x.
inline Mat4 lookAtLH(const Vec3& eye, const Vec3& at, const Vec3& up) {
    const Vec3 z = normalize(at - eye);
    const Vec3 x = normalize(cross(up, z));
    const Vec3 y = cross(z, x);
    return {x.x, y.x, z.x, 0, x.y, y.y, z.y, 0, x.z, y.z, z.z, 0, -dot(x, eye), -dot(y, eye), -dot(z, eye), 1};
}

// Left-handed perspective mapping z = zn to depth 0 and z = zf to depth 1.
inline Mat4 perspectiveFovLH(float fovy, float aspect, float zn, float zf) {
    const float ys = 1.0f / std::tan(fovy / 2);
    const float xs = ys / aspect;
    return {xs, 0, 0, 0, 0, ys, 0, 0, 0, 0, zf / (zf - zn), 1, 0, 0, -zn * zf / (zf - zn), 0};
}

}  // namespace rv
