#include "app/cli.h"

#include <cstdio>
#include <string>
#include <vector>

#include "app/driver.h"
#include "model/registry.h"
#include "runtime/allocator.h"
#include "runtime/log.h"
#include "runtime/paths.h"

namespace rv {
namespace {

struct CliOption {
    const char* name;
    const char* value;  // null for a switch
    const char* help;
};

const CliOption kConvertOptions[] = {
    {"--to", "kzp|lwo|mx|x", "target format (required)"},
    {"--out-dir", "DIR", "write the outputs into DIR instead of beside each source"},
    {"--verbose", nullptr, "print log lines to stderr"},
};
const CliOption kInfoOptions[] = {
    {"--json", nullptr, "one JSON object per file"},
    {"--verbose", nullptr, "print log lines to stderr"},
};

void printUsage(std::FILE* out) {
    std::fprintf(out,
                 "usage: revizevoz-cli convert --to kzp|lwo|mx|x [--out-dir DIR] [--verbose] FILE...\n"
                 "       revizevoz-cli info [--json] [--verbose] FILE...\n\n"
                 "Inputs: .kzp .dxf .lwo .mqo .mx .rok .x (any case). Outputs are named after the\n"
                 "source with its last extension replaced by .KZP, .LWO, .MX or .X.\n\n"
                 "convert options:\n");
    for (const CliOption& o : kConvertOptions)
        std::fprintf(out, "  %-8s %-14s %s\n", o.name, o.value ? o.value : "", o.help);
    std::fprintf(out, "info options:\n");
    for (const CliOption& o : kInfoOptions)
        std::fprintf(out, "  %-8s %-14s %s\n", o.name, o.value ? o.value : "", o.help);
}

int usageError(const std::string& message) {
    std::fprintf(stderr, "revizevoz-cli: %s\n", message.c_str());
    std::fprintf(stderr, "Try 'revizevoz-cli --help'.\n");
    return 2;
}

// Splits argv into options (with their values) and files; "--" ends the options.
bool parseArgs(const std::vector<std::string>& args, const CliOption* table, std::size_t tableSize,
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
        const CliOption* option = nullptr;
        for (std::size_t k = 0; k < tableSize; ++k)
            if (name == table[k].name)
                option = &table[k];
        if (!option) {
            error = "unknown option '" + name + "'";
            return false;
        }
        if (option->value && eq == std::string::npos) {
            if (i + 1 >= args.size()) {
                error = "option '" + name + "' needs a value (" + option->value + ")";
                return false;
            }
            value = args[++i];
        } else if (!option->value && eq != std::string::npos) {
            error = "option '" + name + "' takes no value";
            return false;
        }
        options.emplace_back(name, value);
    }
    return true;
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

int runConvert(const std::vector<std::string>& args) {
    std::vector<std::pair<std::string, std::string>> options;
    std::vector<std::string> files;
    std::string error;
    if (!parseArgs(args, kConvertOptions, std::size(kConvertOptions), options, files, error))
        return usageError(error);
    ConvertOptions convert;
    bool haveTarget = false, verbose = false;
    for (const auto& [name, value] : options) {
        if (name == "--to") {
            if (!parseTarget(value, convert.target))
                return usageError("unknown target '" + value + "' (kzp, lwo, mx or x)");
            haveTarget = true;
        } else if (name == "--out-dir") {
            convert.outDir = value;
        } else if (name == "--verbose") {
            verbose = true;
        }
    }
    if (!haveTarget)
        return usageError("convert needs --to kzp|lwo|mx|x");
    if (files.empty())
        return usageError("convert needs at least one FILE");
    installSinks(verbose);
    convert.refuseUnknownExtension = true;

    bool allOk = true;
    convertDropped(files, convert, [&](std::size_t done, std::size_t total, const ConvertReport& r) {
        for (const std::string& w : r.warnings)
            std::fprintf(stderr, "revizevoz-cli: warning: %s\n", w.c_str());
        if (r.ok) {
            std::printf("%s -> %s\n", r.source.c_str(), r.output.c_str());
        } else {
            allOk = false;
            std::fprintf(stderr, "revizevoz-cli: %s\n", r.error.c_str());
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
std::string displayText(const std::string& sjis) {
    if (auto utf8 = sjisToUtf8(sjis))
        return *utf8;
    return sjis;
}

int runInfo(const std::vector<std::string>& args) {
    std::vector<std::pair<std::string, std::string>> options;
    std::vector<std::string> files;
    std::string error;
    if (!parseArgs(args, kInfoOptions, std::size(kInfoOptions), options, files, error))
        return usageError(error);
    bool json = false, verbose = false;
    for (const auto& [name, value] : options) {
        if (name == "--json")
            json = true;
        else if (name == "--verbose")
            verbose = true;
    }
    if (files.empty())
        return usageError("info needs at least one FILE");
    installSinks(verbose);

    bool allOk = true;
    for (const std::string& file : files) {
        if (!readerForName(file)) {
            std::fprintf(stderr, "revizevoz-cli: %s: not a model file of a supported format\n", file.c_str());
            allOk = false;
            continue;
        }
        LoadOutcome loaded = loadByPath(file);
        for (const std::string& w : loaded.warnings)
            std::fprintf(stderr, "revizevoz-cli: warning: %s\n", w.c_str());
        if (!loaded.model) {
            std::fprintf(stderr, "revizevoz-cli: %s\n", loaded.error.c_str());
            allOk = false;
            continue;
        }
        const Model& m = *loaded.model;
        const std::string name = displayText(m.fileName);
        if (json) {
            std::printf("{\"fileName\": %s, \"revision\": %d, \"polygonCount\": %d, \"groupCount\": %d, "
                        "\"textureCount\": %d, \"positionCount\": %d, \"normalCount\": %d, \"colorCount\": %d, "
                        "\"uvCount\": %d, \"boneCount\": %d, \"motionCount\": %d, \"boundsMin\": %s, "
                        "\"boundsMax\": %s, \"renderMode\": %u}\n",
                        jsonString(name).c_str(), m.revision, m.polygonCount(), m.groupCount(), m.textureCount(),
                        m.positionCount(), m.normalCount(), m.colorCount(), m.uvCount(), m.boneCount,
                        m.motionCount(), jsonVertex(m.boundsMin).c_str(), jsonVertex(m.boundsMax).c_str(),
                        m.renderMode);
        } else {
            std::printf("ファイル名 : %s\n", name.c_str());
            std::printf("ポリゴン　 : %d\n", m.polygonCount());
            std::printf("グループ　 : %d\n", m.groupCount());
            std::printf("テクスチャ : %d\n", m.textureCount());
            std::printf("positions %d, normals %d, colors %d, uvs %d\n", m.positionCount(), m.normalCount(),
                        m.colorCount(), m.uvCount());
            std::printf("bones %d, motions %d, revision %d, render mode %u\n", m.boneCount, m.motionCount(),
                        m.revision, m.renderMode);
            std::printf("bounds (%g, %g, %g) - (%g, %g, %g)\n", m.boundsMin.x, m.boundsMin.y, m.boundsMin.z,
                        m.boundsMax.x, m.boundsMax.y, m.boundsMax.z);
        }
        std::fflush(stdout);
    }
    return allOk ? 0 : 1;
}

}  // namespace

int runCli(int argc, char** argv) {
    keepModelMemoryForReuse();
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
        return usageError("missing command (convert or info)");
    const std::string command = args.front();
    args.erase(args.begin());
    if (command == "--help" || command == "-h" || command == "help") {
        printUsage(stdout);
        return 0;
    }
    int status = 2;
    if (command == "convert")
        status = runConvert(args);
    else if (command == "info")
        status = runInfo(args);
    else
        return usageError("unknown command '" + command + "' (convert or info)");
    registry().releaseAll();
    return status;
}

}  // namespace rv
