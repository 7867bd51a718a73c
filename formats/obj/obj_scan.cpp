#include "formats/obj/obj_scan.h"

#include <algorithm>
#include <charconv>
#include <unordered_map>

#include "formats/common/text_cursor.h"

namespace rv {
namespace {

bool isSpace(char c) { return c == ' ' || c == '\t'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The keyword at the front of a line as tinyobjloader matches it: the word, then a blank.
bool keyword(std::string_view line, std::string_view word) {
    return line.size() > word.size() && line.starts_with(word) && isSpace(line[word.size()]);
}

// The next blank-separated token of `rest`, empty at the end.
std::string_view nextToken(std::string_view& rest) {
    std::size_t start = 0;
    while (start < rest.size() && isSpace(rest[start]))
        ++start;
    std::size_t end = start;
    while (end < rest.size() && !isSpace(rest[end]))
        ++end;
    const std::string_view token = rest.substr(start, end - start);
    rest.remove_prefix(end);
    return token;
}

// What parsing one element's corner gave.
enum class IndexRead : std::uint8_t { Read, Absent, Bad };

// One index of a corner ("7", "-2", "" when absent), up to the next '/'.
IndexRead takeIndex(std::string_view& token, std::int64_t& out) {
    std::size_t end = token.find('/');
    std::string_view digits = token.substr(0, end);
    token.remove_prefix(end == std::string_view::npos ? token.size() : end + 1);
    if (digits.empty())
        return IndexRead::Absent;
    if (digits[0] == '+')
        digits.remove_prefix(1);
    std::int32_t value = 0;
    const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc() || ptr != digits.data() + digits.size() || value == 0)
        return IndexRead::Bad;
    out = value;
    return IndexRead::Read;
}

struct Scanner {
    ObjScan& scan;
    std::uint32_t line = 0;
    std::int32_t material = -1;
    std::unordered_map<std::string, std::int32_t> materialIndex;

    FormatError fail(std::size_t offset, std::string reason) const {
        return FormatError::atLine(line, offset, std::move(reason));
    }

    // The numbers of a "v", "vt" or "vn" line; how many there were in `count`.
    std::optional<FormatError> numbers(std::string_view rest, std::size_t offset, int& count) {
        count = 0;
        for (std::string_view token = nextToken(rest); !token.empty() && token[0] != '#'; token = nextToken(rest)) {
            std::string_view s = token;
            if (s[0] == '+' || s[0] == '-')
                s.remove_prefix(1);
            const char c = s.empty() ? ' ' : s[0];
            if (c == 'n' || c == 'N' || c == 'i' || c == 'I')
                return fail(offset, "\"" + std::string(token.substr(0, 40)) + "\" is not a finite number");
            if (!isDigit(c) && c != '.')
                return fail(offset, "\"" + std::string(token.substr(0, 40)) + "\" is not a number");
            ++count;
        }
        return std::nullopt;
    }

    std::optional<FormatError> table(std::int64_t& entries, const char* what, std::string_view rest, std::size_t offset,
                                     int& count) {
        if (++entries > kObjMaxTableEntries)
            return fail(offset, "more than " + std::to_string(kObjMaxTableEntries) + " " + what);
        return numbers(rest, offset, count);
    }

    std::optional<FormatError> element(ObjElement::Kind kind, std::string_view rest, std::size_t offset) {
        ObjElement e;
        e.kind = kind;
        e.material = material;
        e.firstCorner = std::uint32_t(scan.corners.size());
        e.line = line;
        for (std::string_view token = nextToken(rest); !token.empty(); token = nextToken(rest)) {
            const std::string_view whole = token;
            std::int64_t v = 0, vt = 0, vn = 0;
            const IndexRead p = takeIndex(token, v);
            const IndexRead t = token.data() == whole.data() + whole.size() ? IndexRead::Absent : takeIndex(token, vt);
            const IndexRead n = token.empty() ? IndexRead::Absent : takeIndex(token, vn);
            if (p != IndexRead::Read || t == IndexRead::Bad || n == IndexRead::Bad || !token.empty())
                return fail(offset, "\"" + std::string(whole.substr(0, 40)) + "\" is not a vertex reference");
            ObjCorner corner;
            // Relative indices count back from the entries read so far; absolute ones are checked
            // once the whole file is read.
            auto resolve = [&](std::int64_t index, std::int64_t so, const char* what,
                               std::int32_t& out) -> std::optional<FormatError> {
                const std::int64_t at = index > 0 ? index - 1 : so + index;
                if (at < 0)
                    return fail(offset, "relative index " + std::to_string(index) + " reaches before the first " +
                                            what + " (" + std::to_string(so) + " so far)");
                out = std::int32_t(at);
                return std::nullopt;
            };
            if (auto error = resolve(v, scan.positions, "vertex", corner.position))
                return error;
            if (t == IndexRead::Read)
                if (auto error = resolve(vt, scan.uvs, "texture coordinate", corner.uv))
                    return error;
            if (n == IndexRead::Read)
                if (auto error = resolve(vn, scan.normals, "normal", corner.normal))
                    return error;
            scan.uvMissing |= corner.uv < 0 && kind != ObjElement::Points;
            scan.corners.push_back(corner);
            ++e.cornerCount;
            // Each corner past the second adds at least one polygon: the cap bounds the corners.
            if (e.cornerCount > kObjMaxPolygons + 2)
                break;
        }
        const std::int64_t n = e.cornerCount;
        const std::int64_t polygons = kind == ObjElement::Points ? n
                                      : kind == ObjElement::Line ? std::max<std::int64_t>(n - 1, 0)
                                      : n <= kMaxCorners         ? (n > 0 ? 1 : 0)
                                                                 : n - 2;
        scan.polygons += polygons;
        if (scan.polygons > kObjMaxPolygons)
            return fail(offset, "more than " + std::to_string(kObjMaxPolygons) + " polygons");
        if (polygons > 0)
            scan.elements.push_back(e);
        else
            scan.corners.resize(e.firstCorner);
        return std::nullopt;
    }

    void useMaterial(std::string_view name) {
        name = trimBlanks(name);
        if (name.empty()) {
            material = -1;
            return;
        }
        const auto [it, added] = materialIndex.emplace(std::string(name), std::int32_t(scan.materialNames.size()));
        if (added)
            scan.materialNames.emplace_back(name);
        material = it->second;
    }

    // Positions and texture coordinates past their tables refuse the file. Normals only warn:
    // the model computes its own, and exporters exist that name normals they never wrote.
    std::optional<FormatError> checkAbsolute() {
        for (const ObjElement& e : scan.elements) {
            for (std::uint32_t k = 0; k < e.cornerCount; ++k) {
                const ObjCorner& c = scan.corners[e.firstCorner + k];
                if (c.position >= scan.positions)
                    return pastTable(e, "vertex", c.position, scan.positions);
                if (c.uv >= scan.uvs)
                    return pastTable(e, "texture coordinate", c.uv, scan.uvs);
                scan.normalsPastTable |= c.normal >= scan.normals;
            }
        }
        return std::nullopt;
    }

    static FormatError pastTable(const ObjElement& e, const char* what, std::int64_t index, std::int64_t size) {
        return FormatError::atLine(e.line, 0,
                                   std::string(what) + " " + std::to_string(index + 1) +
                                       " is past the end of its table (" + std::to_string(size) + " in the file)");
    }
};

}  // namespace

std::optional<FormatError> scanObj(std::string_view text, ObjScan& scan) {
    Scanner s{scan, 0, -1, {}};
    // Room for what a file of this size may hold, within the caps (reserved, not yet touched).
    scan.elements.reserve(std::min<std::size_t>(text.size() / 16, std::size_t(kObjMaxPolygons)));
    scan.corners.reserve(std::min<std::size_t>(text.size() / 8, std::size_t(3 * kObjMaxPolygons)));
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t start = pos;
        while (pos < text.size() && text[pos] != '\n' && text[pos] != '\r')
            ++pos;
        std::string_view line = text.substr(start, pos - start);
        if (pos < text.size() && text[pos] == '\r')
            ++pos;
        if (pos < text.size() && text[pos] == '\n' && (pos == start + line.size() || text[pos - 1] == '\r'))
            ++pos;
        ++s.line;

        std::size_t lead = 0;
        while (lead < line.size() && isSpace(line[lead]))
            ++lead;
        line.remove_prefix(lead);
        if (line.empty())
            continue;
        const std::size_t offset = start + lead;
        std::optional<FormatError> error;
        int count = 0;
        bool vertexLine = line[0] == 'v';  // handed to tinyobjloader
        switch (line[0]) {
        case 'v':
            if (keyword(line, "v")) {
                error = s.table(scan.positions, "vertices", line.substr(2), offset, count);
                scan.colors |= count >= 6;
            } else if (keyword(line, "vt")) {
                error = s.table(scan.uvs, "texture coordinates", line.substr(3), offset, count);
            } else if (keyword(line, "vn")) {
                error = s.table(scan.normals, "normals", line.substr(3), offset, count);
            } else {
                vertexLine = false;
            }
            break;
        case 'f':
            if (keyword(line, "f"))
                error = s.element(ObjElement::Face, line.substr(2), offset);
            break;
        case 'l':
            if (keyword(line, "l"))
                error = s.element(ObjElement::Line, line.substr(2), offset);
            break;
        case 'p':
            if (keyword(line, "p"))
                error = s.element(ObjElement::Points, line.substr(2), offset);
            break;
        case 'u':
            if (line.starts_with("usemtl") && (line.size() == 6 || isSpace(line[6])))
                s.useMaterial(line.substr(6));
            break;
        case 'm':
            if (keyword(line, "mtllib")) {
                const std::string_view name = trimBlanks(line.substr(7));
                if (!name.empty())
                    scan.libraries.emplace_back(name);
            }
            break;
        default: break;
        }
        if (error)
            return error;
        if (vertexLine) {
            if (!scan.vertexLines.empty() && scan.vertexLines.back().end == start)
                scan.vertexLines.back().end = pos;
            else
                scan.vertexLines.push_back({start, pos});
        }
    }
    return s.checkAbsolute();
}

}  // namespace rv
