// Effect files: GLSL programs kept as data files, one file per effect, each holding named
// techniques of one or more passes and a table of named parameters that every pass reads.
//
// A file is GLSL cut into sections by lines that start with "@":
//   @common                      code put in front of every stage (uniforms, helpers)
//   @vertex NAME / @fragment NAME  one stage; the stage's own code follows
//   @technique NAME              then one line per pass:
//   pass VERTEX FRAGMENT [blend=none|alpha|add] [depth=on|off|test] [cull=on|off]
// Each stage is compiled as "#version 330 core", then "#define VERTEX_STAGE" or
// "#define FRAGMENT_STAGE", then the common code and the stage's code. Every "uniform int NAME;"
// line of the common code is a switch: a pass whose program reads switches is compiled again with
// them as constants of the values they hold when it begins, so that the rasteriser does not run
// the branches they turn off (it would, masked, for a uniform). Vertex inputs are bound
// by name: aPosition 0, aNormal 1, aDiffuse 2, aUV 4, aBoneIndices 5 (uvec4), aBoneWeight 6.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <epoxy/gl.h>

#include "preview/gl_common.h"
#include "runtime/matrix.h"

namespace rv {

struct EffectPassState {
    enum class Blend { None, Alpha, Add } blend = Blend::Alpha;
    enum class Depth { On, Off, Test } depth = Depth::On;
    bool cull = true;
};

// The parsed text of an effect file.
struct EffectSource {
    struct Pass {
        std::string vertex, fragment;  // stage names
        EffectPassState state;
    };
    std::string common;
    std::map<std::string, std::string> vertexStages, fragmentStages;
    std::vector<std::pair<std::string, std::vector<Pass>>> techniques;  // in file order
};

// Splits an effect file into its sections; nullopt with the reason (and its line) in `error`
// when a section or pass line is malformed or names a stage the file does not have.
std::optional<EffectSource> parseEffectSource(const std::string& text, std::string* error);

class Effect {
public:
    Effect() = default;
    ~Effect();
    Effect(const Effect&) = delete;
    Effect& operator=(const Effect&) = delete;

    // Compiles and links every pass in the current context; false with the compiler's text.
    bool build(const EffectSource& source, std::string* error);
    // Links every pass from a program-binary cache (see writeBinary); false when the driver
    // refuses any of them.
    bool buildFromBinary(const std::vector<std::uint8_t>& bytes, std::string* error);
    // The cache of the linked programs, for this driver only; empty when the driver has no
    // binary formats.
    std::vector<std::uint8_t> binary() const;
    // Deletes the programs (their context must be current).
    void release();
    // Forgets the programs without deleting them (their context is gone).
    void abandon();
    bool ready() const { return !techniques_.empty(); }

    // Parameters: stored by name and committed to each pass when it begins, as effects do.
    // A name that no pass reads is kept and ignored.
    void setFloat(const std::string& name, float v);
    void setVector(const std::string& name, float x, float y, float z, float w);
    void setMatrix(const std::string& name, const Mat4& m);
    void setMatrices(const std::string& name, const std::vector<Mat4>& m);
    void setInt(const std::string& name, int v);
    // target is GL_TEXTURE_2D or GL_TEXTURE_CUBE_MAP; 0 unbinds.
    void setTexture(const std::string& name, GLuint texture, GLenum target = GL_TEXTURE_2D);

    // Selects a technique by name; false (and nothing selected) when the effect has none of
    // that name.
    bool setTechnique(const std::string& name);
    int passCount() const;
    // Uses the pass's program with its state and every parameter it reads.
    void beginPass(int pass);
    // Back to the default state the fixed-function frame expects (blend alpha, depth on, cull).
    static void endPass();

private:
    struct Value {
        enum class Kind { Float, Vector, Matrix, Matrices, Int, Texture } kind = Kind::Float;
        std::array<float, 4> v{};
        std::vector<float> data;
        int i = 0;
        GLuint texture = 0;
        GLenum target = GL_TEXTURE_2D;
    };
    struct Program {
        GLuint program = 0;
        EffectPassState state;
        std::map<std::string, GLint> locations;  // every active uniform by name
        // From source only: the stages' text and the switches the program reads, with the
        // programs made for their values (program 0 where that failed).
        std::string common, vertex, fragment;
        std::vector<std::string> switches;
        std::map<std::vector<int>, Program> variants;
    };
    struct Technique {
        std::string name;
        std::vector<Program> passes;
    };
    void link(Program& p);
    // The program for the switches' current values: a variant, else `p` itself.
    const Program& specialised(Program& p);
    static void releaseVariants(Program& p);
    std::vector<Technique> techniques_;
    int current_ = -1;
    std::map<std::string, Value> values_;
};

enum class EffectKind { TwoD, ThreeD, Bone, Ground };

// Loads the effects from the data folder's System/HLSL, each at most once: its ".fx" source
// first, then (not for the ground effect) its ".fxo" program-binary cache (beside it, else in the
// cache folder when System/HLSL exists), each failure logged;
// when both fail a message with the caption "ERROR" shows the compiler's text (or the path) and
// the effect stays unavailable. Nothing is opened before an effect is first asked for.
class EffectLibrary {
public:
    explicit EffectLibrary(std::string dataFolder = {}) : dataFolder_(std::move(dataFolder)) {}

    void setDataFolder(std::string folder) { dataFolder_ = std::move(folder); }
    // The effect, loaded on first use in the current context; null when it is unavailable.
    Effect* get(EffectKind kind);
    // Whether loading the effect was tried (and so its files were opened).
    bool tried(EffectKind kind) const { return slots_[index(kind)].tried; }

    // Around a lost context: the programs go; effects that loaded are rebuilt from the text
    // read the first time (no file is opened again), failed ones stay failed.
    void releaseGl();
    void abandonGl();

    // Where a source that compiled leaves its program binaries ("" keeps none).
    void setBinaryCacheFolder(std::string folder) { cacheFolder_ = std::move(folder); }

    static const char* fileStem(EffectKind kind);

private:
    struct Slot {
        bool tried = false, failed = false;
        std::optional<EffectSource> source;
        std::vector<std::uint8_t> binary;
        Effect effect;
    };
    static std::size_t index(EffectKind kind) { return std::size_t(kind); }
    void load(EffectKind kind, Slot& slot);
    std::string dataFolder_;
    std::string cacheFolder_;
    std::array<Slot, 4> slots_;
};

// The folder program binaries of the effects are cached in: $XDG_CACHE_HOME/revizevoz/HLSL,
// else ~/.cache/revizevoz/HLSL; empty without either.
std::string effectCacheFolder();

}  // namespace rv
