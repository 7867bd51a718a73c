// Installs the build into a temporary prefix and uses it as the desktop would: the menu entry and
// metadata validated, file types looked up in a MIME database built from what was installed, and
// the thumbnailer's command run as a file manager runs it.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "runtime/image.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

namespace fs = std::filesystem;

struct ShellRun {
    int status = -1;
    std::string out;
};

// Runs `command` through the shell, stdout and stderr together.
ShellRun run(const std::string& command) {
    ShellRun r;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return r;
    std::array<char, 4096> buffer;
    std::size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        r.out.append(buffer.data(), n);
    const int rc = ::pclose(pipe);
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return r;
}

bool haveProgram(const std::string& name) { return run("command -v " + name + " >/dev/null").status == 0; }

std::string quoted(const std::string& text) {
    std::string q = "'";
    for (char c : text)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// The Key=Value lines of a desktop-entry style file.
std::map<std::string, std::string> entries(const fs::path& file) {
    std::map<std::string, std::string> keys;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos && !line.starts_with('#') && !line.starts_with('['))
            keys[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return keys;
}

class Install : public ::testing::Test {
protected:
    // One installation for the whole suite.
    static void SetUpTestSuite() {
        prefixDir_ = new test::TempDir;
        const ShellRun r = run(quoted(REVIZEVOZ_CMAKE) + " --install " + quoted(REVIZEVOZ_BUILD_DIR) + " --prefix " +
                               quoted(prefixDir_->path().string()));
        installed_ = r.status == 0;
        installLog_ = new std::string(r.out);
    }
    static void TearDownTestSuite() {
        delete prefixDir_;
        delete installLog_;
    }
    void SetUp() override { ASSERT_TRUE(installed_) << *installLog_; }

    static fs::path prefix() { return prefixDir_->path(); }
    static fs::path share() { return prefix() / "share"; }
    static fs::path fixture(const std::string& relative) { return fs::path(REVIZEVOZ_TEST_DATA) / relative; }

    static test::TempDir* prefixDir_;
    static std::string* installLog_;
    static bool installed_;
    test::TempDir work_;
};

test::TempDir* Install::prefixDir_ = nullptr;
std::string* Install::installLog_ = nullptr;
bool Install::installed_ = false;

constexpr const char* kTypes[] = {"model/x-kzp", "image/vnd.dxf", "image/x-lwo",    "model/x-mqo",
                                  "model/x-mx",  "model/x-rok",   "model/x-directx"};

TEST_F(Install, PutsProgramsDataAndDesktopFilesInPlace) {
    for (const char* file :
         {"bin/revizevoz-cli", "share/revizevoz/Data/System/tex_null.bmp", "share/applications/revizevoz.desktop",
          "share/mime/packages/revizevoz.xml", "share/thumbnailers/revizevoz.thumbnailer",
          "share/metainfo/io.github.revizevoz.revizevoz.metainfo.xml",
          "share/icons/hicolor/scalable/apps/revizevoz.svg",
          "share/icons/hicolor/scalable/mimetypes/application-x-revizevoz-model.svg"})
        EXPECT_TRUE(fs::is_regular_file(prefix() / file)) << file;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const std::string folder = "share/icons/hicolor/" + std::to_string(size) + "x" + std::to_string(size);
        EXPECT_TRUE(fs::is_regular_file(prefix() / folder / "apps/revizevoz.png")) << folder;
        EXPECT_TRUE(fs::is_regular_file(prefix() / folder / "mimetypes/application-x-revizevoz-model.png")) << folder;
    }
#ifdef REVIZEVOZ_HAVE_WINDOW
    EXPECT_TRUE(fs::is_regular_file(prefix() / "bin/revizevoz"));
#endif
    // The installed program finds share/revizevoz/Data from bin/: no null-texture load error.
    fs::copy_file(fixture("mqo/small.mqo"), work_.path() / "small.mqo");
    const ShellRun render =
        run("cd " + quoted(work_.path().string()) + " && " + quoted((prefix() / "bin/revizevoz-cli").string()) +
            " render small.mqo -o small.png --size 64x64 --verbose");
    if (render.status == 1 && render.out.find("Could not initialize") != std::string::npos)
        GTEST_SKIP() << "no headless OpenGL here: " << render.out;
    EXPECT_EQ(render.status, 0) << render.out;
    EXPECT_EQ(render.out.find("LoadError"), std::string::npos) << render.out;
}

TEST_F(Install, MenuEntryAndMetadataValidate) {
    const std::map<std::string, std::string> desktop = entries(share() / "applications/revizevoz.desktop");
    EXPECT_EQ(desktop.at("Name"), "REVizevoz 2015");
    EXPECT_EQ(desktop.at("Exec"), "revizevoz %F");
    EXPECT_EQ(desktop.at("StartupWMClass"), "revizevoz");
    // The thumbnailer claims the seven old formats; the menu entry also today's glTF and OBJ.
    std::string all;
    for (const char* type : kTypes)
        all += std::string(type) + ";";
    EXPECT_EQ(desktop.at("MimeType"), all + "model/gltf-binary;model/gltf+json;model/obj;");
    EXPECT_EQ(entries(share() / "thumbnailers/revizevoz.thumbnailer").at("MimeType"), all);

    if (haveProgram("desktop-file-validate")) {
        const ShellRun r =
            run("desktop-file-validate " + quoted((share() / "applications/revizevoz.desktop").string()));
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(r.out, "") << "warnings count too";
    } else {
        std::printf("desktop-file-validate is not installed; the menu entry is not validated\n");
    }
    if (haveProgram("appstreamcli")) {
        const ShellRun r = run("appstreamcli validate --no-net " +
                               quoted((share() / "metainfo/io.github.revizevoz.revizevoz.metainfo.xml").string()));
        EXPECT_EQ(r.status, 0) << r.out;
    } else {
        std::printf("appstreamcli is not installed; the metadata is not validated\n");
    }
}

TEST_F(Install, MimeDatabaseNamesEveryFormatByNameAndByContent) {
    if (!haveProgram("update-mime-database") || !haveProgram("gio"))
        GTEST_SKIP() << "update-mime-database or gio is not installed";
    // The database a user's session would build from the installed package file.
    const ShellRun update = run("update-mime-database " + quoted((share() / "mime").string()));
    ASSERT_EQ(update.status, 0) << update.out;

    const fs::path dir = work_.path();
    const std::pair<const char*, const char*> samples[] = {
        {"kzp/two_groups_2009000.kzp", "a.kzp"},
        {"kzp/tri_2004002.kzp", "OLD.KZP"},
        {"kzp/quad_2006000.kzp", "kzp-no-extension"},
        {"dxf/pyramid.dxf", "pyramid.dxf"},
        {"lwo/two_surfaces.lwo", "two.lwo"},
        {"mqo/small.mqo", "small.mqo"},
        {"mqo/small.mqo", "mqo-no-extension"},
        {"mx/two_faces.mx", "two.mx"},
        {"mx/two_faces.mx", "mx-no-extension"},
        {"rok/cube.rok", "cube.rok"},
        {"rok/cube.rok", "CUBE.ROK"},
        {"x/small_text.x", "text.x"},
        {"x/small_binary.x", "binary.X"},
        {"x/small_bzip.x", "x-no-extension"},
    };
    const std::map<std::string, std::string> expected = {
        {"a.kzp", "model/x-kzp"},
        {"OLD.KZP", "model/x-kzp"},
        {"kzp-no-extension", "model/x-kzp"},
        {"pyramid.dxf", "image/vnd.dxf"},
        {"two.lwo", "image/x-lwo"},
        {"small.mqo", "model/x-mqo"},
        {"mqo-no-extension", "model/x-mqo"},
        {"two.mx", "model/x-mx"},
        {"mx-no-extension", "model/x-mx"},
        {"cube.rok", "model/x-rok"},
        {"CUBE.ROK", "model/x-rok"},
        {"text.x", "model/x-directx"},
        {"binary.X", "model/x-directx"},
        {"x-no-extension", "model/x-directx"},
    };
    for (const auto& [from, name] : samples) {
        fs::copy_file(fixture(from), dir / name);
        const ShellRun r = run("XDG_DATA_HOME=" + quoted(share().string()) +
                               " XDG_DATA_DIRS=/usr/local/share:/usr/share gio info -a "
                               "standard::content-type " +
                               quoted((dir / name).string()));
        ASSERT_EQ(r.status, 0) << r.out;
        const std::string want = "standard::content-type: " + expected.at(name);
        EXPECT_NE(r.out.find(want), std::string::npos) << name << ": " << r.out;
    }
}

class Thumbnailer : public Install {
protected:
    // The installed thumbnailer's Exec line with its placeholders filled, run with the prefix's
    // bin/ on PATH, as a file manager runs it.
    ShellRun thumbnail(const fs::path& input, const fs::path& output, int size) {
        const std::map<std::string, std::string> keys = entries(share() / "thumbnailers/revizevoz.thumbnailer");
        EXPECT_TRUE(fs::is_regular_file(prefix() / "bin" / keys.at("TryExec")));
        std::string command;
        const std::string exec = keys.at("Exec");
        for (std::size_t i = 0; i < exec.size(); ++i) {
            if (exec[i] == '%' && i + 1 < exec.size()) {
                const char code = exec[++i];
                command += code == 'i'   ? quoted(input.string())
                           : code == 'o' ? quoted(output.string())
                           : code == 's' ? std::to_string(size)
                           : code == 'u' ? quoted("file://" + input.string())
                                         : std::string(1, code);
            } else {
                command += exec[i];
            }
        }
        return run("PATH=" + quoted((prefix() / "bin").string()) + ":/usr/bin:/bin " + command);
    }
};

TEST_F(Thumbnailer, DrawsTheModelOpaqueOnATransparentBackground) {
    // The sample cube, and the same cube as KZP written by the installed converter.
    fs::copy_file(fs::path(REVIZEVOZ_SOURCE_DIR) / "samples/cube.mqo", work_.path() / "cube.mqo");
    const ShellRun convert = run("cd " + quoted(work_.path().string()) + " && " +
                                 quoted((prefix() / "bin/revizevoz-cli").string()) + " convert --to kzp cube.mqo");
    ASSERT_EQ(convert.status, 0) << convert.out;
    for (const auto& [from, size] : {std::pair{"cube.mqo", 256}, std::pair{"cube.KZP", 128}}) {
        const fs::path input = work_.path() / from;
        const fs::path output = work_.path() / (input.stem().string() + ".png");
        const ShellRun r = thumbnail(input, output, size);
        if (r.status == 1 && r.out.find("Could not initialize") != std::string::npos)
            GTEST_SKIP() << "no headless OpenGL here: " << r.out;
        ASSERT_EQ(r.status, 0) << from << ": " << r.out;
        const std::optional<Image> image = LoadTexture(output.string());
        ASSERT_TRUE(image) << from;
        ASSERT_EQ(image->width, size);
        ASSERT_EQ(image->height, size);
        auto alpha = [&](int x, int y) { return image->rgba[(std::size_t(y) * size + x) * 4 + 3]; };
        for (const auto& [x, y] : {std::pair{0, 0}, {size - 1, 0}, {0, size - 1}, {size - 1, size - 1}})
            EXPECT_EQ(alpha(x, y), 0) << from << " corner " << x << "," << y;
        EXPECT_EQ(alpha(size / 2, size / 2), 255) << from;
        // Where the model is drawn it is opaque and lit, not a premultiplied smear of the clear.
        std::size_t opaque = 0, coloured = 0;
        for (std::size_t i = 0; i < image->rgba.size(); i += 4) {
            if (image->rgba[i + 3] == 255) {
                ++opaque;
                coloured += image->rgba[i] + image->rgba[i + 1] + image->rgba[i + 2] > 0;
            }
        }
        EXPECT_GT(opaque, std::size_t(size) * size / 10) << from;
        EXPECT_GT(coloured, opaque * 9 / 10) << from;
    }
}

TEST_F(Thumbnailer, WritesNothingForAFileItCannotRead) {
    const fs::path input = work_.path() / "broken.kzp";
    test::writeText(input.string(), "KZP");
    const fs::path output = work_.path() / "broken.png";
    const ShellRun r = thumbnail(input, output, 256);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_FALSE(fs::exists(output));
}

}  // namespace
}  // namespace rv
