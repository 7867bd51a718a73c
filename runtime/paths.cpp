#include "runtime/paths.h"

#include <iconv.h>

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <vector>

namespace rv {

std::string extensionOf(std::string_view name) {
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0)
        return {};
    return std::string(name.substr(dot + 1));
}

std::string baseNameOf(std::string_view name) {
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0)
        return {};
    return std::string(name.substr(0, dot));
}

std::string directoryOf(std::string_view path) {
    const auto sep = path.find_last_of("\\/");
    if (sep == std::string_view::npos)
        return {};
    return std::string(path.substr(0, sep));
}

std::string fileNameOf(std::string_view path) {
    const auto sep = path.find_last_of("\\/");
    return std::string(sep == std::string_view::npos ? path : path.substr(sep + 1));
}

std::string toSlashes(std::string_view path) {
    std::string out(path);
    for (char& c : out)
        if (c == '\\')
            c = '/';
    return out;
}

std::string joinPath(std::string_view folder, std::string_view name) {
    if (folder.empty() || (!name.empty() && name.front() == '/'))
        return std::string(name);
    std::string out(folder);
    if (out.back() != '/')
        out += '/';
    out += name;
    return out;
}

static char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i]))
            return false;
    return true;
}

std::string toLower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = lowerAscii(c);
    return out;
}

namespace {

// Converts with iconv; with `lossy` set, unconvertible characters become '?'.
std::optional<std::string> convert(const char* to, const char* from, std::string_view text, bool lossy,
                                   bool* replaced) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    std::string out;
    std::vector<char> buffer(text.size() * 4 + 16);
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    bool ok = true;
    while (inLeft > 0) {
        char* outPtr = buffer.data();
        std::size_t outLeft = buffer.size();
        const std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer.data(), buffer.size() - outLeft);
        if (rc != static_cast<std::size_t>(-1))
            continue;
        if (errno == E2BIG)
            continue;
        if (!lossy) {
            ok = false;
            break;
        }
        // Skip one whole UTF-8 character (or one byte of anything else).
        std::size_t skip = 1;
        const unsigned char lead = static_cast<unsigned char>(*in);
        if (lead >= 0xF0)
            skip = 4;
        else if (lead >= 0xE0)
            skip = 3;
        else if (lead >= 0xC0)
            skip = 2;
        skip = std::min(skip, inLeft);
        in += skip;
        inLeft -= skip;
        out += '?';
        if (replaced)
            *replaced = true;
    }
    iconv_close(cd);
    if (!ok)
        return std::nullopt;
    return out;
}

}  // namespace

std::optional<std::string> sjisToUtf8(std::string_view sjis) { return convert("UTF-8", "CP932", sjis, false, nullptr); }

std::optional<std::string> utf8ToSjis(std::string_view utf8) { return convert("CP932", "UTF-8", utf8, false, nullptr); }

std::string utf8ToSjisLossy(std::string_view utf8, bool* lossy) {
    if (lossy)
        *lossy = false;
    return convert("CP932", "UTF-8", utf8, true, lossy).value_or(std::string(utf8));
}

std::optional<std::string> resolveModelFile(std::string_view folder, std::string_view name) {
    namespace fs = std::filesystem;
    if (name.empty())
        return std::nullopt;
    std::error_code ec;
    const std::string stored = joinPath(folder, toSlashes(name));
    if (fs::is_regular_file(stored, ec))
        return stored;
    std::string candidate = stored;
    if (auto utf8 = sjisToUtf8(name); utf8 && *utf8 != name) {
        candidate = joinPath(folder, toSlashes(*utf8));
        if (fs::is_regular_file(candidate, ec))
            return candidate;
    }
    // Case-insensitive match of the last component in its folder (ASCII letters only).
    for (const std::string& path : {stored, candidate}) {
        const fs::path p(path);
        const fs::path dir = p.parent_path().empty() ? fs::path(".") : p.parent_path();
        const std::string want = p.filename().string();
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
            if (equalsIgnoreCase(it->path().filename().string(), want) && it->is_regular_file(ec))
                return it->path().string();
        }
    }
    // A folder that does not exist here (an absolute Windows path, say): the bare name beside the model.
    const std::string bare = fileNameOf(name);
    if (bare != name)
        return resolveModelFile(folder, bare);
    return std::nullopt;
}

}  // namespace rv
