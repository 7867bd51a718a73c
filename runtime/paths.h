// Path and text helpers shared by every module. Names read from model files are Shift-JIS and may
// use '\' as a separator.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace rv {

// Text after the last '.', when that '.' is not the first character; otherwise empty.
std::string extensionOf(std::string_view name);
// Text before the last '.'; empty when the name has no '.' after its first character.
std::string baseNameOf(std::string_view name);
// Text before the last separator ('\' or '/'); empty when there is none.
std::string directoryOf(std::string_view path);
// Text after the last separator ('\' or '/').
std::string fileNameOf(std::string_view path);
// `path` with every '\' turned into '/'.
std::string toSlashes(std::string_view path);
// `folder` and `name` joined with '/', `name` alone when it is absolute or `folder` is empty.
std::string joinPath(std::string_view folder, std::string_view name);
bool equalsIgnoreCase(std::string_view a, std::string_view b);
std::string toLower(std::string_view s);

// Shift-JIS (CP932) to UTF-8 and back; nullopt when the text cannot be converted.
std::optional<std::string> sjisToUtf8(std::string_view sjis);
std::optional<std::string> utf8ToSjis(std::string_view utf8);
// UTF-8 to Shift-JIS, replacing what CP932 cannot hold with '?'; `lossy` tells whether it did.
std::string utf8ToSjisLossy(std::string_view utf8, bool* lossy = nullptr);

// Finds a file named inside a model: `name` (backslashes as separators) relative to `folder`,
// tried as stored, then converted from Shift-JIS to UTF-8, then matched without regard to case
// in its folder, and last as the bare file name in `folder`. Returns the path to open, or nullopt.
std::optional<std::string> resolveModelFile(std::string_view folder, std::string_view name);

}  // namespace rv
