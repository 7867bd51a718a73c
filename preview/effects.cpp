#include "preview/effects.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "preview/shaders.h"
#include "runtime/log.h"

namespace rv {
namespace {

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string w; in >> w;)
        out.push_back(w);
    return out;
}

bool parseState(const std::string& word, EffectPassState& state) {
    const auto eq = word.find('=');
    if (eq == std::string::npos)
        return false;
    const std::string key = word.substr(0, eq), value = word.substr(eq + 1);
    using B = EffectPassState::Blend;
    using D = EffectPassState::Depth;
    if (key == "blend" && value == "none")
        state.blend = B::None;
    else if (key == "blend" && value == "alpha")
        state.blend = B::Alpha;
    else if (key == "blend" && value == "add")
        state.blend = B::Add;
    else if (key == "depth" && value == "on")
        state.depth = D::On;
    else if (key == "depth" && value == "off")
        state.depth = D::Off;
    else if (key == "depth" && value == "test")
        state.depth = D::Test;
    else if (key == "cull" && (value == "on" || value == "off"))
        state.cull = value == "on";
    else
        return false;
    return true;
}

GLuint compileStage(GLenum kind, const std::string& common, const std::string& body, std::string* error) {
    const std::string text = std::string("#version 330 core\n") +
                             (kind == GL_VERTEX_SHADER ? "#define VERTEX_STAGE\n" : "#define FRAGMENT_STAGE\n") +
                             common + "\n" + body;
    return compileShader(kind, text.c_str(), error);
}

bool linked(GLuint program, std::string* error) {
    GLint ok = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (!ok && error) {
        char log[4096] = {};
        glGetProgramInfoLog(program, sizeof log, nullptr, log);
        *error = log[0] ? log : "the program does not link";
    }
    return ok != 0;
}

// The binary cache: "RVFX", then per technique its name, its passes' states and binaries.
struct Reader {
    const std::vector<std::uint8_t>& bytes;
    std::size_t at = 0;
    bool ok = true;
    std::uint32_t u32() {
        if (bytes.size() - at < 4 || at > bytes.size()) {
            ok = false;
            return 0;
        }
        std::uint32_t v = 0;
        std::memcpy(&v, &bytes[at], 4);
        at += 4;
        return v;
    }
    std::vector<std::uint8_t> take(std::uint32_t n) {
        if (!ok || n > bytes.size() - at) {
            ok = false;
            return {};
        }
        std::vector<std::uint8_t> out(bytes.begin() + std::ptrdiff_t(at), bytes.begin() + std::ptrdiff_t(at + n));
        at += n;
        return out;
    }
};

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(&v);
    out.insert(out.end(), p, p + 4);
}

std::optional<std::string> readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::optional<std::vector<std::uint8_t>> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

std::optional<EffectSource> parseEffectSource(const std::string& text, std::string* error) {
    EffectSource out;
    std::string* body = &out.common;
    std::vector<EffectSource::Pass>* passes = nullptr;
    std::istringstream in(text);
    int lineNumber = 0;
    auto fail = [&](const std::string& why) {
        if (error)
            *error = "line " + std::to_string(lineNumber) + ": " + why;
        return std::nullopt;
    };
    for (std::string line; std::getline(in, line);) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line[0] == '@') {
            const std::vector<std::string> w = words(line.substr(1));
            passes = nullptr;
            if (w.size() == 1 && w[0] == "common") {
                body = &out.common;
            } else if (w.size() == 2 && (w[0] == "vertex" || w[0] == "fragment")) {
                auto& stages = w[0] == "vertex" ? out.vertexStages : out.fragmentStages;
                if (stages.count(w[1]))
                    return fail("a second " + w[0] + " stage " + w[1]);
                body = &stages[w[1]];
                // Keeps the compiler's line numbers near the file's.
                *body = "#line " + std::to_string(lineNumber + 1) + "\n";
            } else if (w.size() == 2 && w[0] == "technique") {
                out.techniques.emplace_back(w[1], std::vector<EffectSource::Pass>{});
                passes = &out.techniques.back().second;
                body = nullptr;
            } else {
                return fail("unknown section '" + line + "'");
            }
            continue;
        }
        if (passes) {
            const std::vector<std::string> w = words(line);
            if (w.empty() || w[0].rfind("//", 0) == 0)
                continue;
            if (w[0] != "pass" || w.size() < 3)
                return fail("a technique holds only 'pass VERTEX FRAGMENT [state...]' lines");
            EffectSource::Pass pass{w[1], w[2], {}};
            for (std::size_t i = 3; i < w.size(); ++i)
                if (!parseState(w[i], pass.state))
                    return fail("unknown pass state '" + w[i] + "'");
            passes->push_back(pass);
            continue;
        }
        if (body)
            *body += line + "\n";
    }
    for (const auto& [name, list] : out.techniques) {
        if (list.empty())
            return fail("technique " + name + " has no pass");
        for (const EffectSource::Pass& p : list)
            if (!out.vertexStages.count(p.vertex) || !out.fragmentStages.count(p.fragment))
                return fail("technique " + name + " names a stage the file does not have");
    }
    if (out.techniques.empty())
        return fail("no technique");
    return out;
}

Effect::~Effect() {
    // Programs are deleted by release() while their context is current; a context that is
    // gone took them along.
}

// The names of the common code's "uniform int NAME;" lines.
static std::vector<std::string> switchNames(const std::string& common) {
    std::vector<std::string> out;
    std::istringstream in(common);
    for (std::string line; std::getline(in, line);) {
        const std::vector<std::string> w = words(line);
        if (w.size() == 3 && w[0] == "uniform" && w[1] == "int" && w[2].size() > 1 && w[2].back() == ';')
            out.push_back(w[2].substr(0, w[2].size() - 1));
    }
    return out;
}

// The common code with each switch's declaration turned into a constant of its value.
static std::string withConstants(std::string common, const std::vector<std::string>& names,
                                 const std::vector<int>& values) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string declaration = "uniform int " + names[i] + ";";
        const std::string constant = "const int " + names[i] + " = " + std::to_string(values[i]) + ";";
        for (std::size_t at = common.find(declaration); at != std::string::npos;
             at = common.find(declaration, at + constant.size()))
            common.replace(at, declaration.size(), constant);
    }
    return common;
}

void Effect::link(Program& p) {
    p.locations.clear();
    GLint count = 0;
    glGetProgramiv(p.program, GL_ACTIVE_UNIFORMS, &count);
    for (GLint i = 0; i < count; ++i) {
        char name[256] = {};
        GLint size = 0;
        GLenum type = 0;
        glGetActiveUniform(p.program, GLuint(i), sizeof name, nullptr, &size, &type, name);
        std::string n = name;
        // Arrays are named "matWorld[0]"; they are set by their base name.
        if (const auto bracket = n.find('['); bracket != std::string::npos)
            n.resize(bracket);
        p.locations[n] = glGetUniformLocation(p.program, name);
    }
}

bool Effect::build(const EffectSource& source, std::string* error) {
    release();
    const std::vector<std::string> switches = switchNames(source.common);
    std::vector<Technique> techniques;
    auto cleanUp = [&] {
        for (Technique& t : techniques)
            for (Program& p : t.passes)
                glDeleteProgram(p.program);
    };
    for (const auto& [name, passes] : source.techniques) {
        Technique technique{name, {}};
        for (const EffectSource::Pass& pass : passes) {
            std::string why;
            const GLuint vs = compileStage(GL_VERTEX_SHADER, source.common, source.vertexStages.at(pass.vertex), &why);
            const GLuint fs =
                vs ? compileStage(GL_FRAGMENT_SHADER, source.common, source.fragmentStages.at(pass.fragment), &why) : 0;
            if (!vs || !fs) {
                if (vs)
                    glDeleteShader(vs);
                if (error)
                    *error = (vs ? pass.fragment : pass.vertex) + ": " + why;
                for (Program& p : technique.passes)
                    glDeleteProgram(p.program);
                cleanUp();
                return false;
            }
            Program p;
            p.program = glCreateProgram();
            p.state = pass.state;
            glAttachShader(p.program, vs);
            glAttachShader(p.program, fs);
            bindVertexInputs(p.program);
            glProgramParameteri(p.program, GL_PROGRAM_BINARY_RETRIEVABLE_HINT, GL_TRUE);
            glLinkProgram(p.program);
            glDeleteShader(vs);
            glDeleteShader(fs);
            technique.passes.push_back(p);
            if (!linked(p.program, &why)) {
                if (error)
                    *error = name + ": " + why;
                for (Program& q : technique.passes)
                    glDeleteProgram(q.program);
                cleanUp();
                return false;
            }
            Program& built = technique.passes.back();
            link(built);
            built.common = source.common;
            built.vertex = source.vertexStages.at(pass.vertex);
            built.fragment = source.fragmentStages.at(pass.fragment);
            for (const std::string& name : switches)
                if (built.locations.count(name))
                    built.switches.push_back(name);
        }
        techniques.push_back(std::move(technique));
    }
    techniques_ = std::move(techniques);
    current_ = -1;
    return true;
}

const Effect::Program& Effect::specialised(Program& p) {
    if (p.switches.empty())
        return p;
    std::vector<int> key;
    for (const std::string& name : p.switches) {
        const auto it = values_.find(name);
        if (it == values_.end() || it->second.kind != Value::Kind::Int)
            return p;
        key.push_back(it->second.i);
    }
    if (const auto it = p.variants.find(key); it != p.variants.end())
        return it->second.program ? it->second : p;
    // Switches that take many values are not switches: the uniforms stay.
    if (p.variants.size() >= 16)
        return p;
    Program& v = p.variants[key];
    v.state = p.state;
    const std::string common = withConstants(p.common, p.switches, key);
    const GLuint vs = compileStage(GL_VERTEX_SHADER, common, p.vertex, nullptr);
    const GLuint fs = vs ? compileStage(GL_FRAGMENT_SHADER, common, p.fragment, nullptr) : 0;
    if (vs && fs) {
        v.program = glCreateProgram();
        glAttachShader(v.program, vs);
        glAttachShader(v.program, fs);
        bindVertexInputs(v.program);
        glLinkProgram(v.program);
        if (linked(v.program, nullptr)) {
            link(v);
        } else {
            glDeleteProgram(v.program);
            v.program = 0;
        }
    }
    if (vs)
        glDeleteShader(vs);
    if (fs)
        glDeleteShader(fs);
    return v.program ? v : p;
}

void Effect::releaseVariants(Program& p) {
    for (auto& [key, v] : p.variants)
        if (v.program)
            glDeleteProgram(v.program);
    p.variants.clear();
}

std::vector<std::uint8_t> Effect::binary() const {
    std::vector<std::uint8_t> out{'R', 'V', 'F', 'X'};
    put32(out, std::uint32_t(techniques_.size()));
    for (const Technique& t : techniques_) {
        put32(out, std::uint32_t(t.name.size()));
        out.insert(out.end(), t.name.begin(), t.name.end());
        put32(out, std::uint32_t(t.passes.size()));
        for (const Program& p : t.passes) {
            GLint length = 0;
            glGetProgramiv(p.program, GL_PROGRAM_BINARY_LENGTH, &length);
            if (length <= 0)
                return {};
            std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
            GLenum format = 0;
            glGetProgramBinary(p.program, length, nullptr, &format, bytes.data());
            put32(out, std::uint32_t(p.state.blend));
            put32(out, std::uint32_t(p.state.depth));
            put32(out, p.state.cull ? 1 : 0);
            put32(out, format);
            put32(out, std::uint32_t(bytes.size()));
            out.insert(out.end(), bytes.begin(), bytes.end());
        }
    }
    return out;
}

bool Effect::buildFromBinary(const std::vector<std::uint8_t>& bytes, std::string* error) {
    release();
    Reader r{bytes};
    const std::vector<std::uint8_t> magic = r.take(4);
    auto fail = [&](const std::string& why, std::vector<Technique>& done) {
        for (Technique& t : done)
            for (Program& p : t.passes)
                glDeleteProgram(p.program);
        if (error)
            *error = why;
        return false;
    };
    std::vector<Technique> techniques;
    if (!r.ok || std::memcmp(magic.data(), "RVFX", 4) != 0)
        return fail("not a program-binary cache", techniques);
    const std::uint32_t count = r.u32();
    for (std::uint32_t t = 0; r.ok && t < count && t < 256; ++t) {
        const std::vector<std::uint8_t> name = r.take(r.u32());
        Technique technique{std::string(name.begin(), name.end()), {}};
        const std::uint32_t passes = r.u32();
        for (std::uint32_t i = 0; r.ok && i < passes && i < 64; ++i) {
            Program p;
            p.state.blend = EffectPassState::Blend(r.u32() % 3);
            p.state.depth = EffectPassState::Depth(r.u32() % 3);
            p.state.cull = r.u32() != 0;
            const GLenum format = r.u32();
            const std::vector<std::uint8_t> blob = r.take(r.u32());
            if (!r.ok)
                break;
            p.program = glCreateProgram();
            glProgramBinary(p.program, format, blob.data(), GLsizei(blob.size()));
            technique.passes.push_back(p);
            std::string why;
            if (glGetError() != GL_NO_ERROR || !linked(p.program, &why)) {
                techniques.push_back(std::move(technique));
                return fail("the driver refuses the program binary", techniques);
            }
            link(technique.passes.back());
        }
        techniques.push_back(std::move(technique));
    }
    if (!r.ok || techniques.empty())
        return fail("the program-binary cache is cut short", techniques);
    techniques_ = std::move(techniques);
    current_ = -1;
    return true;
}

void Effect::release() {
    for (Technique& t : techniques_)
        for (Program& p : t.passes) {
            releaseVariants(p);
            glDeleteProgram(p.program);
        }
    abandon();
}

void Effect::abandon() {
    techniques_.clear();
    current_ = -1;
}

void Effect::setFloat(const std::string& name, float v) {
    Value& x = values_[name];
    x.kind = Value::Kind::Float;
    x.v = {v, 0, 0, 0};
}

void Effect::setVector(const std::string& name, float a, float b, float c, float d) {
    Value& x = values_[name];
    x.kind = Value::Kind::Vector;
    x.v = {a, b, c, d};
}

void Effect::setMatrix(const std::string& name, const Mat4& m) {
    Value& x = values_[name];
    x.kind = Value::Kind::Matrix;
    x.data.assign(m.begin(), m.end());
}

void Effect::setMatrices(const std::string& name, const std::vector<Mat4>& m) {
    Value& x = values_[name];
    x.kind = Value::Kind::Matrices;
    x.data.clear();
    for (const Mat4& one : m)
        x.data.insert(x.data.end(), one.begin(), one.end());
}

void Effect::setInt(const std::string& name, int v) {
    Value& x = values_[name];
    x.kind = Value::Kind::Int;
    x.i = v;
}

void Effect::setTexture(const std::string& name, GLuint texture, GLenum target) {
    Value& x = values_[name];
    x.kind = Value::Kind::Texture;
    x.texture = texture;
    x.target = target;
}

bool Effect::setTechnique(const std::string& name) {
    current_ = -1;
    for (std::size_t i = 0; i < techniques_.size(); ++i)
        if (techniques_[i].name == name) {
            current_ = int(i);
            return true;
        }
    return false;
}

int Effect::passCount() const { return current_ < 0 ? 0 : int(techniques_[std::size_t(current_)].passes.size()); }

void Effect::beginPass(int pass) {
    if (current_ < 0 || pass < 0 || pass >= passCount())
        return;
    const Program& p = specialised(techniques_[std::size_t(current_)].passes[std::size_t(pass)]);
    glUseProgram(p.program);
    switch (p.state.blend) {
    case EffectPassState::Blend::None: glDisable(GL_BLEND); break;
    case EffectPassState::Blend::Alpha:
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        break;
    case EffectPassState::Blend::Add:
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE);
        break;
    }
    switch (p.state.depth) {
    case EffectPassState::Depth::On:
        glEnable(GL_DEPTH_TEST);
        glDepthMask(GL_TRUE);
        break;
    case EffectPassState::Depth::Off:
        glDisable(GL_DEPTH_TEST);
        glDepthMask(GL_FALSE);
        break;
    case EffectPassState::Depth::Test:
        glEnable(GL_DEPTH_TEST);
        glDepthMask(GL_FALSE);
        break;
    }
    if (p.state.cull)
        glEnable(GL_CULL_FACE);
    else
        glDisable(GL_CULL_FACE);
    GLint unit = 1;  // unit 0 stays the fixed-function frame's
    for (const auto& [name, location] : p.locations) {
        const auto it = values_.find(name);
        if (it == values_.end() || location < 0)
            continue;
        const Value& x = it->second;
        switch (x.kind) {
        case Value::Kind::Float: glUniform1f(location, x.v[0]); break;
        case Value::Kind::Vector: glUniform4fv(location, 1, x.v.data()); break;
        case Value::Kind::Matrix: glUniformMatrix4fv(location, 1, GL_FALSE, x.data.data()); break;
        case Value::Kind::Matrices:
            if (!x.data.empty())
                glUniformMatrix4fv(location, GLsizei(x.data.size() / 16), GL_FALSE, x.data.data());
            break;
        case Value::Kind::Int: glUniform1i(location, x.i); break;
        case Value::Kind::Texture:
            glActiveTexture(GL_TEXTURE0 + GLenum(unit));
            glBindTexture(x.target, x.texture);
            glUniform1i(location, unit);
            ++unit;
            break;
        }
    }
    glActiveTexture(GL_TEXTURE0);
}

void Effect::endPass() {
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_DEPTH_TEST);
    glDepthMask(GL_TRUE);
    glEnable(GL_CULL_FACE);
}

const char* EffectLibrary::fileStem(EffectKind kind) {
    switch (kind) {
    case EffectKind::TwoD: return "HLSL_2D";
    case EffectKind::ThreeD: return "HLSL_3D";
    case EffectKind::Bone: return "Bone";
    case EffectKind::Ground: return "BumpGround";
    }
    return "";
}

Effect* EffectLibrary::get(EffectKind kind) {
    Slot& slot = slots_[index(kind)];
    if (!slot.tried) {
        slot.tried = true;
        load(kind, slot);
    } else if (!slot.failed && !slot.effect.ready()) {
        // The context was rebuilt: the same programs again, from what was read the first time.
        std::string why;
        if (!(slot.source && slot.effect.build(*slot.source, &why)) &&
            !(!slot.binary.empty() && slot.effect.buildFromBinary(slot.binary, &why))) {
            LogLine("*** ERROR *** %s.fx", fileStem(kind));
            slot.failed = true;
        }
    }
    return slot.failed ? nullptr : &slot.effect;
}

void EffectLibrary::load(EffectKind kind, Slot& slot) {
    const std::string stem = fileStem(kind);
    if (dataFolder_.empty()) {
        slot.failed = true;  // no data folder known: nothing to open, nothing to say
        return;
    }
    const std::string folder = dataFolder_ + "/System/HLSL/";
    const std::string sourcePath = folder + stem + ".fx";
    std::string compilerText;
    if (const std::optional<std::string> text = readText(sourcePath)) {
        std::string why;
        std::optional<EffectSource> source = parseEffectSource(*text, &why);
        if (source && slot.effect.build(*source, &why)) {
            slot.source = std::move(source);
            if (!cacheFolder_.empty()) {
                const std::vector<std::uint8_t> bytes = slot.effect.binary();
                std::error_code ec;
                std::filesystem::create_directories(cacheFolder_, ec);
                std::ofstream out(cacheFolder_ + "/" + stem + ".fxo", std::ios::binary | std::ios::trunc);
                if (out && !bytes.empty())
                    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
            }
            return;
        }
        compilerText = stem + ".fx: " + why;
    }
    if (kind == EffectKind::Ground) {
        // The ground effect has no precompiled form and no log line of its own.
        slot.failed = true;
        ShowCaptionedMessage("ERROR", compilerText.empty() ? sourcePath : compilerText);
        return;
    }
    LogLine("*** ERROR *** %s.fx", stem.c_str());
    const std::string binaryPath = folder + stem + ".fxo";
    std::optional<std::vector<std::uint8_t>> bytes = readBytes(binaryPath);
    // The cache stands in for a broken or missing file, not for a missing folder.
    std::error_code ec;
    if (!bytes && !cacheFolder_.empty() && std::filesystem::is_directory(folder, ec))
        bytes = readBytes(cacheFolder_ + "/" + stem + ".fxo");
    std::string why;
    if (bytes && slot.effect.buildFromBinary(*bytes, &why)) {
        slot.binary = std::move(*bytes);
        return;
    }
    LogLine("*** ERROR *** %s.fxo", stem.c_str());
    slot.failed = true;
    ShowCaptionedMessage("ERROR", compilerText.empty() ? sourcePath : compilerText);
}

void EffectLibrary::releaseGl() {
    for (Slot& s : slots_)
        s.effect.release();
}

void EffectLibrary::abandonGl() {
    for (Slot& s : slots_)
        s.effect.abandon();
}

std::string effectCacheFolder() {
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && cache[0] == '/')
        return std::string(cache) + "/revizevoz/HLSL";
    if (const char* home = std::getenv("HOME"); home && home[0])
        return std::string(home) + "/.cache/revizevoz/HLSL";
    return {};
}

}  // namespace rv
