#include "app/cli.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/convert.h"
#include "app/load.h"
#include "formats/common/file_io.h"
#include "preview/headless_render.h"
#include "runtime/allocator.h"
#include "runtime/image_write.h"
#include "runtime/log.h"
#include "runtime/paths.h"

namespace rv {
namespace {

struct CliOption {
    const char* name;
    const char* value;  // null for a switch; "TARGET" takes the writer table's names
    const char* help;
    bool required = false;
};

struct CliCommand {
    const char* name;
    const char* help;
    std::vector<CliOption> options;
    int (*run)(const std::vector<std::pair<std::string, std::string>>& options, const std::vector<std::string>& files);
    const char* operands = "FILE...";
};

// "kzp|lwo|mx|x", from the writer table.
std::string targetNames() {
    std::string names;
    for (const WriterEntry& w : writerTable())
        names += (names.empty() ? "" : "|") + toLower(w.extension);
    return names;
}

std::string valueName(const CliOption& option) {
    if (!option.value)
        return {};
    return std::string_view(option.value) == "TARGET" ? targetNames() : option.value;
}

// Edit distance, for suggesting what was probably meant.
std::size_t distance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = up;
        }
    }
    return row[b.size()];
}

// " (did you mean X?)" for the nearest of `candidates`, when one is near enough.
std::string suggestion(std::string_view given, const std::vector<std::string>& candidates) {
    const std::string* best = nullptr;
    std::size_t bestDistance = 0;
    for (const std::string& c : candidates) {
        const std::size_t d = distance(toLower(given), toLower(c));
        if (!best || d < bestDistance) {
            best = &c;
            bestDistance = d;
        }
    }
    if (!best || bestDistance > std::max<std::size_t>(2, best->size() / 3))
        return {};
    return " (did you mean " + *best + "?)";
}

int usageError(const std::string& message) {
    std::fprintf(stderr, "revizevoz-cli: %s\n", message.c_str());
    std::fprintf(stderr, "Try 'revizevoz-cli --help'.\n");
    return 2;
}

void installSinks(bool verbose) {
    setMessageSink([](const std::string& file, const std::string& text) {
        if (file.empty())
            std::fprintf(stderr, "revizevoz-cli: %s\n", text.c_str());
        else
            std::fprintf(stderr, "revizevoz-cli: %s: %s\n", file.c_str(), text.c_str());
    });
    if (verbose)
        setLogSink([](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); });
    else
        setLogSink([](const std::string&) {});
}

bool has(const std::vector<std::pair<std::string, std::string>>& options, const char* name) {
    return std::any_of(options.begin(), options.end(), [&](const auto& o) { return o.first == name; });
}

void printWarnings(const std::vector<std::string>& warnings) {
    for (const std::string& w : warnings)
        std::fprintf(stderr, "revizevoz-cli: warning: %s\n", w.c_str());
}

// Each file loaded straight into a result of its own: the command line has no window to show it.
ModelSource directSource(const LoadOptions& options) {
    auto current = std::make_shared<LoadResult>();
    return [current, options](const std::string& path) {
        *current = loadModelFile(path, options);
        LoadOutcome outcome;
        outcome.model = current->model.get();
        outcome.instance = &current->instance;
        outcome.error = current->error;
        outcome.warnings = current->warnings;
        outcome.overLimits = current->overLimits;
        return outcome;
    };
}

int runConvert(const std::vector<std::pair<std::string, std::string>>& options, const std::vector<std::string>& files) {
    ConvertOptions convert;
    bool haveTarget = false;
    for (const auto& [name, value] : options) {
        if (name == "--to") {
            if (!parseTarget(value, convert.target)) {
                std::vector<std::string> names;
                for (const WriterEntry& w : writerTable())
                    names.push_back(toLower(w.extension));
                return usageError("unknown target '" + value + "'" + suggestion(value, names) + " (" + targetNames() +
                                  ")");
            }
            haveTarget = true;
        } else if (name == "--out-dir") {
            convert.outDir = value;
        } else if (name == "--x-format") {
            if (value == "binary")
                convert.save.xForm = XForm::Binary;
            else if (value == "text")
                convert.save.xForm = XForm::Text;
            else if (value == "compressed")
                convert.save.xForm = XForm::Compressed;
            else
                return usageError("unknown .x form '" + value + "'" +
                                  suggestion(value, {"binary", "text", "compressed"}) + " (binary, text, compressed)");
        }
    }
    if (!haveTarget)
        return usageError("convert needs --to " + targetNames());
    if (files.empty())
        return usageError("convert needs at least one FILE");
    const bool verbose = has(options, "--verbose");
    installSinks(verbose);
    if (!convert.outDir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(convert.outDir, ec);
        if (ec || !std::filesystem::is_directory(convert.outDir)) {
            std::fprintf(stderr, "revizevoz-cli: %s: cannot create the output folder: %s\n", convert.outDir.c_str(),
                         ec ? ec.message().c_str() : "not a folder");
            return 1;
        }
    }

    LoadOptions load;
    load.simplify = has(options, "--simplify");
    bool allOk = true, toldSimplify = false;
    convertFiles(files, convert, directSource(load), [&](std::size_t done, std::size_t total, const ConvertReport& r) {
        printWarnings(r.warnings);
        if (r.ok) {
            std::printf("%s -> %s\n", r.source.c_str(), r.output.c_str());
        } else {
            allOk = false;
            std::fprintf(stderr, "revizevoz-cli: %s\n", errorText(r.error).c_str());
            if (r.overLimits && !toldSimplify) {
                std::fprintf(stderr, "revizevoz-cli: convert --simplify reduces such a model to fit\n");
                toldSimplify = true;
            }
        }
        if (verbose && total > 1)
            std::fprintf(stderr, "[%zu/%zu]\n", done, total);
        std::fflush(stdout);
    });
    return allOk ? 0 : 1;
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += char(c);
            }
        }
    }
    return out + "\"";
}

std::string jsonNumber(float v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.9g", double(v));
    return buf;
}

std::string jsonVertex(const ModelVertex& v) {
    return "[" + jsonNumber(v.x) + ", " + jsonNumber(v.y) + ", " + jsonNumber(v.z) + "]";
}

// Model text fields are Shift-JIS; what we print is UTF-8.
std::string displayText(const std::string& sjis) { return sjisToUtf8(sjis).value_or(sjis); }

void printInfo(const Model& m, bool json) {
    const std::string name = displayText(m.fileName);
    if (json) {
        std::printf("{\"fileName\": %s, \"revision\": %d, \"polygonCount\": %d, \"groupCount\": %d, "
                    "\"textureCount\": %d, \"positionCount\": %d, \"normalCount\": %d, \"colorCount\": %d, "
                    "\"uvCount\": %d, \"boneCount\": %d, \"motionCount\": %d, \"boundsMin\": %s, "
                    "\"boundsMax\": %s, \"renderMode\": %u}\n",
                    jsonString(name).c_str(), m.revision, m.polygonCount(), m.groupCount(), m.textureCount(),
                    m.positionCount(), m.normalCount(), m.colorCount(), m.uvCount(), m.boneCount, m.motionCount(),
                    jsonVertex(m.boundsMin).c_str(), jsonVertex(m.boundsMax).c_str(), m.renderMode);
        return;
    }
    std::printf("ファイル名 : %s\n", name.c_str());
    std::printf("ポリゴン　 : %d\n", m.polygonCount());
    std::printf("グループ　 : %d\n", m.groupCount());
    std::printf("テクスチャ : %d\n", m.textureCount());
    std::printf("positions %d, normals %d, colors %d, uvs %d\n", m.positionCount(), m.normalCount(), m.colorCount(),
                m.uvCount());
    std::printf("bones %d, motions %d, revision %d, render mode %u\n", m.boneCount, m.motionCount(), m.revision,
                m.renderMode);
    std::printf("bounds (%g, %g, %g) - (%g, %g, %g)\n", m.boundsMin.x, m.boundsMin.y, m.boundsMin.z, m.boundsMax.x,
                m.boundsMax.y, m.boundsMax.z);
}

// Whether FILE names one of the readable formats; says why not on stderr.
bool supportedOrSay(const std::string& file) {
    if (readerForName(file))
        return true;
    std::fprintf(stderr, "revizevoz-cli: %s: not a model file of a supported format\n", file.c_str());
    return false;
}

// Loads FILE, printing its warnings, and its error when nothing could be read.
LoadResult loadOrSay(const std::string& file) {
    LoadResult loaded = loadModelFile(file);
    printWarnings(loaded.warnings);
    if (!loaded.model)
        std::fprintf(stderr, "revizevoz-cli: %s\n", loaded.error->message().c_str());
    return loaded;
}

int runInfo(const std::vector<std::pair<std::string, std::string>>& options, const std::vector<std::string>& files) {
    if (files.empty())
        return usageError("info needs at least one FILE");
    const bool json = has(options, "--json");
    installSinks(has(options, "--verbose"));
    bool allOk = true;
    for (const std::string& file : files) {
        const LoadResult loaded = supportedOrSay(file) ? loadOrSay(file) : LoadResult{};
        if (!loaded.model) {
            allOk = false;
            continue;
        }
        printInfo(*loaded.model, json);
        std::fflush(stdout);
    }
    return allOk ? 0 : 1;
}

// A number option's value, or why it is not one.
template <class T>
bool parseNumber(const std::string& text, T& out) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && ptr == end;
}

// Draws a loaded model headless and writes the PNG through a temporary file; the exit status.
int renderToFile(LoadResult& loaded, const HeadlessRenderOptions& render, const std::string& out) {
    const std::optional<Image> image = renderHeadless(loaded.model.get(), &loaded.instance, render);
    if (!image)
        return 1;  // the message is out already
    const std::optional<std::vector<std::byte>> png = encodePng(*image);
    const std::optional<std::string> failed =
        png ? writeFileAtomic(out, *png) : std::optional<std::string>("no pixels");
    if (failed) {
        std::fprintf(stderr, "revizevoz-cli: %s: cannot write the picture: %s\n", out.c_str(), failed->c_str());
        return 1;
    }
    return 0;
}

int runRender(const std::vector<std::pair<std::string, std::string>>& options, const std::vector<std::string>& files) {
    if (files.size() != 1)
        return usageError("render needs exactly one FILE");
    HeadlessRenderOptions render;
    std::string out;
    for (const auto& [name, value] : options) {
        if (name == "-o") {
            out = value;
        } else if (name == "--size") {
            const auto x = value.find('x');
            if (x == std::string::npos || !parseNumber(value.substr(0, x), render.width) ||
                !parseNumber(value.substr(x + 1), render.height) || render.width < 1 || render.height < 1 ||
                render.width > 8192 || render.height > 8192)
                return usageError("--size takes WIDTHxHEIGHT, each 1 to 8192 (for example 1280x720)");
        } else if (name == "--yaw" || name == "--pitch" || name == "--zoom") {
            float v = 0;
            if (!parseNumber(value, v) || !std::isfinite(v))
                return usageError(name + " takes a number");
            (name == "--yaw" ? render.yaw : name == "--pitch" ? render.pitch : render.zoom) = v;
        } else if (name == "--frames") {
            if (!parseNumber(value, render.frames) || render.frames < 1 || render.frames > 100000)
                return usageError("--frames takes a count from 1 to 100000");
        } else if (name == "--fit") {
            render.fit = true;
        } else if (name == "--shader-mode") {
            render.shaderMode = true;
        } else if (name == "--bloom") {
            render.bloom = true;
        } else if (name == "--post-effect") {
            if (!parseNumber(value, render.postEffect) || render.postEffect < 0 || render.postEffect > 6)
                return usageError(
                    "--post-effect takes 0 to 6 (scene, monochrome, sepia, reverse, shade, mosaic, wavy)");
        }
    }
    if (out.empty())
        return usageError("render needs -o OUT.png");
    installSinks(has(options, "--verbose"));
    const std::string& file = files.front();
    if (!supportedOrSay(file))
        return 1;
    LoadResult loaded = loadOrSay(file);
    if (!loaded.model)
        return 1;
    return renderToFile(loaded, render, out);
}

// Thumbnails: file managers run this for every model file they show, so a huge file is skipped
// rather than loaded.
constexpr std::uintmax_t kMaxThumbnailInputBytes = std::uintmax_t(100) << 20;
constexpr int kDefaultThumbnailSize = 256, kMinThumbnailSize = 16, kMaxThumbnailSize = 1024;
// A fixed oblique view that shows the front, one side and the top.
constexpr float kThumbnailYaw = -35, kThumbnailPitch = 30;

int runThumbnail(const std::vector<std::pair<std::string, std::string>>& options,
                 const std::vector<std::string>& files) {
    if (files.size() < 2 || files.size() > 3)
        return usageError("thumbnail needs FILE OUT.png and an optional SIZE");
    int size = kDefaultThumbnailSize;
    if (files.size() == 3 && (!parseNumber(files[2], size) || size < kMinThumbnailSize || size > kMaxThumbnailSize))
        return usageError("SIZE is the thumbnail's width and height in pixels, " + std::to_string(kMinThumbnailSize) +
                          " to " + std::to_string(kMaxThumbnailSize) + " (for example 256)");
    installSinks(has(options, "--verbose"));
    const std::string& file = files[0];
    const std::string& out = files[1];
    if (!supportedOrSay(file))
        return 1;
    if (const std::optional<std::string> why = checkInputFile(file)) {
        std::fprintf(stderr, "revizevoz-cli: %s: %s\n", file.c_str(), why->c_str());
        return 1;
    }
    std::error_code ec;
    const std::uintmax_t bytes = std::filesystem::file_size(file, ec);
    if (!ec && bytes > kMaxThumbnailInputBytes) {
        std::fprintf(stderr, "revizevoz-cli: %s: the file is %ju bytes long, over the thumbnail limit of 100 MiB\n",
                     file.c_str(), bytes);
        return 1;
    }
    LoadResult loaded = loadOrSay(file);
    if (!loaded.model)
        return 1;
    // An empty picture would be cached as the file's thumbnail; without one the file manager
    // keeps showing the file-type icon.
    if (loaded.model->polygons.empty()) {
        std::fprintf(stderr, "revizevoz-cli: %s: no polygons to draw\n", file.c_str());
        return 1;
    }
    HeadlessRenderOptions render;
    render.width = render.height = size;
    render.yaw = kThumbnailYaw;
    render.pitch = kThumbnailPitch;
    render.fit = true;
    render.grid = false;
    render.transparentClear = true;
    return renderToFile(loaded, render, out);
}

const std::vector<CliCommand>& commands() {
    static const std::vector<CliCommand> table{
        {"convert",
         "convert each FILE to the target, beside its source",
         {{"--to", "TARGET", "target format (required)", true},
          {"--out-dir", "DIR", "write the outputs into DIR (created when missing) instead of beside each source"},
          {"--x-format", "FORM", "with --to x: binary (unless given), text or compressed"},
          {"--simplify", nullptr,
           "reduce a model over 65,000 polygons or 260,000 table entries to fit (meshoptimizer)"},
          {"--verbose", nullptr, "print log lines to stderr"}},
         runConvert},
        {"info",
         "print what the preview overlay shows, with table sizes, bounds and render mode",
         {{"--json", nullptr, "one JSON object per file"}, {"--verbose", nullptr, "print log lines to stderr"}},
         runInfo},
        {"render",
         "draw FILE as the preview shows it, without a window, into a PNG",
         {{"-o", "OUT.png", "the picture to write (required)", true},
          {"--size", "WxH", "picture size, 1280x720 unless given"},
          {"--yaw", "DEGREES", "camera yaw, -20 unless given"},
          {"--pitch", "DEGREES", "camera pitch, 20 unless given"},
          {"--zoom", "FACTOR", "camera distance factor, 2.8 unless given (the eye is 15 x zoom away)"},
          {"--fit", nullptr, "aim at the model's centre and zoom so that all of it is in view"},
          {"--frames", "N", "draw N frames (one loop pass each) and write the last"},
          {"--shader-mode", nullptr, "draw through the effect files: shadow map, reflection, depth of field"},
          {"--post-effect", "0..6",
           "with --shader-mode: 0 none, 1 monochrome, 2 sepia, 3 reverse, 4 shade, 5 mosaic, 6 wavy"},
          {"--bloom", nullptr, "with --shader-mode: bloom around bright parts"},
          {"--verbose", nullptr, "print log lines to stderr"}},
         runRender,
         "FILE"},
        {"thumbnail",
         "draw FILE fitted into a SIZE x SIZE PNG (256 unless given) on a transparent "
         "background, for file managers",
         {{"--verbose", nullptr, "print log lines to stderr"}},
         runThumbnail,
         "FILE OUT.png [SIZE]"},
    };
    return table;
}

std::string synopsis(const CliCommand& command) {
    std::string line = std::string("revizevoz-cli ") + command.name;
    for (const CliOption& o : command.options) {
        const std::string text = o.value ? std::string(o.name) + " " + valueName(o) : o.name;
        line += o.required ? " " + text : " [" + text + "]";
    }
    return line + " " + command.operands;
}

void printUsage(std::FILE* out) {
    std::string inputs, outputs;
    for (const ReaderEntry& r : readerTable())
        inputs += std::string(" .") + r.extension;
    for (const WriterEntry& w : writerTable())
        outputs += std::string(outputs.empty() ? "" : ", ") + "." + w.extension;
    const auto& table = commands();
    for (std::size_t i = 0; i < table.size(); ++i)
        std::fprintf(out, "%s %s\n", i == 0 ? "usage:" : "      ", synopsis(table[i]).c_str());
    std::fprintf(out,
                 "\nInputs:%s (any case). Outputs are named after the source with its last extension\n"
                 "replaced by %s.\n",
                 inputs.c_str(), outputs.c_str());
    for (const CliCommand& command : table) {
        std::fprintf(out, "\n%s: %s\n", command.name, command.help);
        for (const CliOption& o : command.options)
            std::fprintf(out, "  %-13s %-14s %s\n", o.name, valueName(o).c_str(), o.help);
    }
}

// Splits the arguments into options (with their values) and files; "--" ends the options.
bool parseArgs(const std::vector<std::string>& args, const CliCommand& command,
               std::vector<std::pair<std::string, std::string>>& options, std::vector<std::string>& files,
               std::string& error) {
    bool optionsDone = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsDone || arg.size() < 2 || arg[0] != '-') {
            files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsDone = true;
            continue;
        }
        std::string name = arg, value;
        const auto eq = arg.find('=');
        if (eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
        }
        const auto found = std::find_if(command.options.begin(), command.options.end(),
                                        [&](const CliOption& o) { return name == o.name; });
        if (found == command.options.end()) {
            std::vector<std::string> names;
            for (const CliOption& o : command.options)
                names.push_back(o.name);
            error = "unknown option '" + name + "' for " + command.name + suggestion(name, names);
            return false;
        }
        if (found->value && eq == std::string::npos) {
            if (i + 1 >= args.size()) {
                error = "option '" + name + "' needs a value (" + valueName(*found) + ")";
                return false;
            }
            value = args[++i];
        } else if (!found->value && eq != std::string::npos) {
            error = "option '" + name + "' takes no value";
            return false;
        }
        options.emplace_back(name, value);
    }
    return true;
}

}  // namespace

int runCli(int argc, char** argv) {
    keepModelMemoryForReuse();
    std::vector<std::string> args(argv + 1, argv + argc);
    std::vector<std::string> names;
    for (const CliCommand& c : commands())
        names.push_back(c.name);
    std::string known;
    for (const std::string& n : names)
        known += (known.empty() ? "" : " or ") + n;
    if (args.empty())
        return usageError("missing command (" + known + ")");
    const std::string name = args.front();
    args.erase(args.begin());
    if (name == "--help" || name == "-h" || name == "help") {
        printUsage(stdout);
        return 0;
    }
    const auto command =
        std::find_if(commands().begin(), commands().end(), [&](const CliCommand& c) { return name == c.name; });
    if (command == commands().end())
        return usageError("unknown command '" + name + "'" + suggestion(name, names) + " (" + known + ")");
    // "COMMAND --help" prints the usage; after "--" it would name a file.
    if (std::find(args.begin(), std::find(args.begin(), args.end(), "--"), "--help") != args.end()) {
        printUsage(stdout);
        return 0;
    }
    std::vector<std::pair<std::string, std::string>> options;
    std::vector<std::string> files;
    std::string error;
    if (!parseArgs(args, *command, options, files, error))
        return usageError(error);
    // Whatever escapes a command (memory running out on a huge model, say) ends it here with one
    // line, not with an abort.
    try {
        return command->run(options, files);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "revizevoz-cli: %s\n", e.what());
        return 1;
    }
}

}  // namespace rv
