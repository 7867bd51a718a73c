#include "app/settings.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <type_traits>

#include "formats/common/file_io.h"
#include "runtime/paths.h"

namespace rv {

namespace {

inline constexpr std::size_t kWordCount = kSettingsBytes / 4;

// The words of the file in file order, so that reading and writing cannot disagree.
template <typename Settings>
auto wordsOf(Settings& s) {
    using Word = std::conditional_t<std::is_const_v<Settings>, const std::int32_t*, std::int32_t*>;
    return std::array<Word, kWordCount>{
        &s.version,      &s.windowLeft,        &s.windowTop,    &s.windowWidth, &s.windowHeight, &s.reserved[0],
        &s.reserved[1],  &s.reserved[2],       &s.reserved[3],  &s.reserved[4], &s.reserved[5],  &s.reserved[6],
        &s.reserved[7],  &s.displayWord0,      &s.antiAliasOn,  &s.lightOn,     &s.displayWord1, &s.displayWord2,
        &s.displayWord3, &s.referenceGeometry, &s.displayWord5, &s.displayWord6};
}

std::int32_t getWord(const std::byte* p) {
    std::uint8_t b[4];
    std::memcpy(b, p, 4);
    const std::uint32_t u =
        std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 | std::uint32_t(b[3]) << 24;
    return static_cast<std::int32_t>(u);
}

void putWord(std::byte* p, std::int32_t value) {
    const auto u = static_cast<std::uint32_t>(value);
    const std::uint8_t b[4] = {std::uint8_t(u), std::uint8_t(u >> 8), std::uint8_t(u >> 16), std::uint8_t(u >> 24)};
    std::memcpy(p, b, 4);
}

std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && *pw->pw_dir)
        return pw->pw_dir;
    return {};
}

}  // namespace

void applySettingsDefaults(SettingsFile& s) {
    s.displayWord3 = 1;
    s.referenceGeometry = 1;
    s.displayWord5 = 0;
    s.displayWord6 = 10000;
}

ScreenRect startRectangle(const SettingsFile& s, const std::vector<ScreenRect>& screens, const ScreenRect& primary,
                          const ScreenRect& fallback, int minimum) {
    const ScreenRect stored{s.windowLeft, s.windowTop, s.windowWidth, s.windowHeight};
    auto overlaps = [&](const ScreenRect& screen) {
        // 64-bit sums: a foreign file may hold any 32-bit values.
        const std::int64_t right = std::int64_t(stored.left) + stored.width;
        const std::int64_t bottom = std::int64_t(stored.top) + stored.height;
        return stored.left < std::int64_t(screen.left) + screen.width && right > screen.left &&
               stored.top < std::int64_t(screen.top) + screen.height && bottom > screen.top;
    };
    if (stored.width >= minimum && stored.height >= minimum && std::any_of(screens.begin(), screens.end(), overlaps))
        return stored;
    ScreenRect r = fallback;
    if (primary.width > 0 && primary.height > 0) {
        r.width = std::min(r.width, primary.width);
        r.height = std::min(r.height, primary.height);
    }
    r.left = primary.left + (primary.width - r.width) / 2;
    r.top = primary.top + (primary.height - r.height) / 2;
    return r;
}

std::array<std::byte, kSettingsBytes> encodeSettings(const SettingsFile& settings) {
    std::array<std::byte, kSettingsBytes> bytes{};
    const auto words = wordsOf(settings);
    for (std::size_t i = 0; i < kWordCount; ++i)
        putWord(bytes.data() + 4 * i, *words[i]);
    putWord(bytes.data(), kSettingsVersion);
    return bytes;
}

SettingsFile decodeSettings(std::span<const std::byte> bytes) {
    SettingsFile s;
    applySettingsDefaults(s);
    const auto words = wordsOf(s);
    // Whole words only: a torn last word would mix file bytes into a default.
    const std::size_t present = std::min(bytes.size() / 4, kWordCount);
    for (std::size_t i = 0; i < present; ++i)
        *words[i] = getWord(bytes.data() + 4 * i);
    if (present == 0 || s.version != kSettingsVersion)
        applySettingsDefaults(s);
    return s;
}

std::string settingsFolder() {
    // The XDG rule: a value that is empty or relative is ignored.
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/')
        return joinPath(config, "revizevoz");
    const std::string home = homeFolder();
    if (home.empty())
        return {};
    return joinPath(joinPath(home, ".config"), "revizevoz");
}

std::string settingsPath() {
    const std::string folder = settingsFolder();
    return folder.empty() ? std::string() : joinPath(folder, kSettingsFileName);
}

SettingsFile readSettings(const std::string& path) {
    // Checked before opening: a FIFO in its place would block the start-up.
    if (path.empty() || checkInputFile(path))
        return decodeSettings({});
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return decodeSettings({});
    std::array<std::byte, kSettingsBytes> bytes{};
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), f);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed)
        return decodeSettings({});
    return decodeSettings(std::span<const std::byte>(bytes.data(), got));
}

std::optional<std::string> writeSettings(const std::string& path, const SettingsFile& settings) {
    if (path.empty())
        return "no folder for the settings file: neither XDG_CONFIG_HOME nor a home folder is set";
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (!folder.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        if (ec)
            return "cannot create " + folder.string() + ": " + ec.message();
    }
    const auto bytes = encodeSettings(settings);
    if (auto failed = writeFileAtomic(path, bytes))
        return path + ": " + *failed;
    return std::nullopt;
}

void recordWindowRectangle(SettingsFile& s, int left, int top, int width, int height, bool minimised) {
    // A minimised window reports a far negative position.
    if (minimised || left < -3199)
        return;
    s.windowLeft = left;
    s.windowTop = top;
    s.windowWidth = width;
    s.windowHeight = height;
}

}  // namespace rv
