#include "tests/support/interop.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace rv::test {
namespace {

std::optional<std::string> run(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return std::nullopt;
    std::string output;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe))
        output += buffer;
    if (pclose(pipe) != 0)
        return std::nullopt;
    return output;
}

std::string quoted(const std::string& s) {
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// "(x y z)" after `label`.
bool point(const std::string& text, const char* label, std::array<double, 3>& p) {
    const auto at = text.find(label);
    if (at == std::string::npos)
        return false;
    const auto open = text.find('(', at);
    if (open == std::string::npos)
        return false;
    std::istringstream in(text.substr(open + 1));
    in.imbue(std::locale::classic());
    return bool(in >> p[0] >> p[1] >> p[2]);
}

}  // namespace

bool haveAssimp() { return std::system("command -v assimp >/dev/null 2>&1") == 0; }

std::optional<AssimpInfo> assimpInfo(const std::string& path) {
    const auto output = run("assimp info " + quoted(path) + " 2>&1");
    if (!output)
        return std::nullopt;
    AssimpInfo info;
    const auto at = output->find("Faces:");
    if (at == std::string::npos || !point(*output, "Minimum point", info.min) ||
        !point(*output, "Maximum point", info.max))
        return std::nullopt;
    info.faces = std::stol(output->substr(at + 6));
    return info;
}

std::string gltfValidator() {
    static const std::string dir = [] {
        if (std::system("command -v node >/dev/null 2>&1 && command -v npm >/dev/null 2>&1") != 0)
            return std::string();
        const std::string folder = std::string(REVIZEVOZ_BUILD_DIR) + "/npm";
        // Tests run in parallel: one installs, the others wait for it.
        const std::string command = "mkdir -p " + quoted(folder) + " && cd " + quoted(folder) +
                                    " && flock .lock sh -c " +
                                    quoted("test -f node_modules/gltf-validator/package.json || npm install --no-audit "
                                           "--no-fund --silent gltf-validator@2.0.0-dev.3.10") +
                                    " >/dev/null 2>&1";
        return std::system(command.c_str()) == 0 ? folder : std::string();
    }();
    return dir;
}

std::map<std::string, int> gltfValidatorErrors(const std::vector<std::string>& files, std::string* log) {
    std::map<std::string, int> errors;
    for (const std::string& f : files)
        errors[f] = -1;
    const std::string dir = gltfValidator();
    if (dir.empty() || files.empty())
        return errors;
    std::string command = "node " + quoted(std::string(REVIZEVOZ_SOURCE_DIR) + "/tests/support/gltf_validate.js") +
                          " " + quoted(dir + "/node_modules");
    for (const std::string& f : files)
        command += " " + quoted(f);
    const auto output = run(command + " 2>&1");
    if (!output)
        return errors;
    if (log)
        *log = *output;
    std::istringstream lines(*output);
    for (std::string line; std::getline(lines, line);) {
        const auto at = line.rfind(" errors ");
        if (at == std::string::npos || line.empty() || line[0] == ' ')
            continue;
        const std::string file = line.substr(0, at);
        if (errors.count(file))
            errors[file] = std::stoi(line.substr(at + 8));
    }
    return errors;
}

}  // namespace rv::test
