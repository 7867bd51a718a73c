// The settings file: the last main-window rectangle and a few preview settings, 88 bytes of
// little-endian signed 32-bit words, read once at start and written once when the window goes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace rv {

inline constexpr std::int32_t kSettingsVersion = 2003041;
inline constexpr std::size_t kSettingsBytes = 88;
inline constexpr const char* kSettingsFileName = "VOZ_Ura_2015.dat";

// Fields in file order. The initial values are what a missing file gives.
struct SettingsFile {
    std::int32_t version = kSettingsVersion;
    std::int32_t windowLeft = 0, windowTop = 0, windowWidth = 0, windowHeight = 0;
    std::array<std::int32_t, 8> reserved{};  // only written back
    std::int32_t displayWord0 = 0;
    std::int32_t antiAliasOn = 0;  // non-zero asks for 4-sample anti-aliasing in the preview
    std::int32_t lightOn = 1;  // the preview's global light switch
    std::int32_t displayWord1 = 0;
    std::int32_t displayWord2 = 0;
    std::int32_t displayWord3 = 1;
    std::int32_t referenceGeometry = 1;  // non-zero draws the reference grid
    std::int32_t displayWord5 = 0;  // non-zero: the preview's shader mode (effect path) is on
    std::int32_t displayWord6 = 10000;
};

// Resets the four display words that have defaults (displayWord3, referenceGeometry,
// displayWord5, displayWord6); every other field stays.
void applySettingsDefaults(SettingsFile& settings);

// A rectangle in screen pixels (a window's frame, or a screen's available area).
struct ScreenRect {
    int left = 0, top = 0, width = 0, height = 0;
};

// Where the main window's frame goes at start: the stored rectangle when it has a size of at least
// `minimum` and overlaps one of `screens`; else `fallback` (width and height) centred on
// `primary`, shrunk to fit it. Fixed bounds would throw away placements on wide and second
// monitors, so only the screens present decide.
ScreenRect startRectangle(const SettingsFile& settings, const std::vector<ScreenRect>& screens,
                          const ScreenRect& primary, const ScreenRect& fallback, int minimum = 100);

// The 88 bytes of the file; the version written is always kSettingsVersion.
std::array<std::byte, kSettingsBytes> encodeSettings(const SettingsFile& settings);

// Reads the words in file order from `bytes`: words past the end, and a last partial word, keep
// their initial values; bytes past 88 are ignored. When the version is missing or not
// kSettingsVersion, the defaults of applySettingsDefaults are applied again and the other fields
// keep what was read. The rectangle is judged against the screens at start (startRectangle).
SettingsFile decodeSettings(std::span<const std::byte> bytes);

// $XDG_CONFIG_HOME/revizevoz when that is set to an absolute path, else ~/.config/revizevoz;
// empty when there is no home folder either.
std::string settingsFolder();
// The settings file in settingsFolder(); empty when the folder is.
std::string settingsPath();

// The settings read from `path`; a missing, unreadable, short or foreign file gives defaults
// (as decodeSettings does) and says nothing.
SettingsFile readSettings(const std::string& path);

// Writes the 88 bytes to `path` through a temporary file renamed over it, creating the folder
// when it is missing. On failure the old file is untouched and the reason is returned.
std::optional<std::string> writeSettings(const std::string& path, const SettingsFile& settings);

// Records the live window rectangle, called on every window event. Nothing is stored while the
// window is minimised, which the host says with `minimised` or which shows as a left edge below
// -3199, so the rectangle from before minimising is the one written.
void recordWindowRectangle(SettingsFile& settings, int left, int top, int width, int height, bool minimised);

}  // namespace rv
