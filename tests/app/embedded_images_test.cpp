// Images a model carries inside its file: textures decode from them, and outputs that name image
// files get them beside the output in the same all-or-nothing write.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "app/convert.h"
#include "app/load.h"
#include "model/textures.h"
#include "runtime/image.h"
#include "runtime/image_write.h"
#include "tests/support/gltf_doc.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

namespace fs = std::filesystem;

// A w x h image whose pixels all differ, so that a flipped or swapped copy shows.
Image pattern(int w, int h) {
    Image image{w, h, {}};
    for (int i = 0; i < w * h; ++i)
        image.rgba.insert(image.rgba.end(), {std::uint8_t(40 * i), std::uint8_t(255 - 30 * i), 90, 255});
    return image;
}

std::vector<std::byte> png(const Image& image) {
    auto bytes = encodePng(image);
    EXPECT_TRUE(bytes.has_value());
    return bytes.value_or(std::vector<std::byte>());
}

// A textured quad read from dir/boat.glb: texture 1 is the embedded boat_0.png its group is drawn
// with; the embedded boat_1.png is named by texture 2, which no group uses.
struct Boat {
    Model model;
    std::vector<Image> images;
    std::vector<std::byte> used = png(pattern(2, 2)), unused = png(pattern(1, 1));

    explicit Boat(const test::TempDir& dir) {
        test::writeText(dir.file("boat.glb"), "glTF");
        model.folder = dir.path().string();
        model.fileName = "boat.glb";
        model.path = dir.file("boat.glb");
        model.positions = {{-1, 1, 0}, {1, 1, 0}, {1, -1, 0}, {-1, -1, 0}};
        model.uvs = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
        model.normals = {{0, 0, -1}};
        model.colors = {{255, 255, 255, 255}};
        model.skin.resize(4);
        ModelPolygon quad;
        quad.cornerCount = 4;
        for (int c = 0; c < 4; ++c)
            quad.corners[std::size_t(c)] = {c, 0, 0, c};
        model.polygons = {quad};
        model.textures.resize(3);
        for (int t = 1; t <= 2; ++t) {
            model.textures[std::size_t(t)].kind = 1;
            model.textures[std::size_t(t)].fileName = "boat_" + std::to_string(t - 1) + ".png";
        }
        model.groups[0].textured = 1;
        model.groups[0].textureIndex = 1;
        model.embeddedImages = {{"boat_0.png", used}, {"boat_1.png", unused}};
        EXPECT_TRUE(loadModelTextures(model, images).empty());
    }
};

TEST(EmbeddedImages, TexturesDecodeFromTheModelBeforeTheDisk) {
    test::TempDir dir;
    // A file of the same name beside the model loses to the image inside it.
    test::writeBytes(dir.file("boat_0.png"), png(pattern(3, 1)));
    test::writeBytes(dir.file("wood.png"), png(pattern(4, 1)));
    Boat boat(dir);
    Model& m = boat.model;
    EXPECT_EQ(m.textures[1].width, 2);
    EXPECT_EQ(boat.images[1].rgba, pattern(2, 2).rgba);
    // Another case finds it, but an exact name wins; a name it does not carry comes from disk.
    m.embeddedImages.push_back({"BOAT_0.png", png(pattern(5, 1))});
    EXPECT_TRUE(LoadModelTexture(m, 2, "Boat_0.PNG", boat.images));
    EXPECT_EQ(m.textures[2].width, 2);
    EXPECT_TRUE(LoadModelTexture(m, 2, "BOAT_0.png", boat.images));
    EXPECT_EQ(m.textures[2].width, 5);
    EXPECT_TRUE(LoadModelTexture(m, 2, "wood.png", boat.images));
    EXPECT_EQ(m.textures[2].width, 4);
}

TEST(EmbeddedImages, OutputsThatNameImagesGetThemBeside) {
    test::TempDir dir;
    Boat boat(dir);
    const std::string source = boat.model.path;
    for (ConversionTarget target :
         {ConversionTarget::Kzp, ConversionTarget::X, ConversionTarget::Obj, ConversionTarget::Mqo}) {
        const std::string out = outputPathFor(source, target);
        const SaveOutcome saved = saveModel(boat.model, target, out);
        ASSERT_TRUE(saved.ok) << errorText(saved.error);
        EXPECT_EQ(test::readBytes(dir.file("boat_0.png")), boat.used) << out;
        EXPECT_FALSE(fs::exists(dir.file("boat_1.png"))) << "an image no group uses went with " << out;
        fs::remove(dir.file("boat_0.png"));
        fs::remove(dir.file("boat.mtl"));
    }

    // MX files name their images without extension and are read with ".bmp": the image goes as a BMP.
    const std::string mx = outputPathFor(source, ConversionTarget::Mx);
    ASSERT_TRUE(saveModel(boat.model, ConversionTarget::Mx, mx).ok);
    const auto bmp = decodeImage(test::readBytes(dir.file("boat_0.bmp")), "bmp");
    ASSERT_TRUE(bmp.has_value());
    EXPECT_EQ(bmp->rgba, pattern(2, 2).rgba);
    EXPECT_FALSE(fs::exists(dir.file("boat_0.png")));

    // Read back, every one finds its texture: the KZP and X by the name, the MX with its uvs in
    // pixels turned back by the image's size.
    ASSERT_TRUE(saveModel(boat.model, ConversionTarget::Kzp, outputPathFor(source, ConversionTarget::Kzp)).ok);
    for (ConversionTarget target : {ConversionTarget::Kzp, ConversionTarget::X, ConversionTarget::Mx}) {
        const LoadResult back = loadModelFile(outputPathFor(source, target));
        ASSERT_NE(back.model, nullptr) << outputPathFor(source, target);
        for (const std::string& warning : back.warnings)
            EXPECT_EQ(warning.find("boat_0"), std::string::npos) << warning;
        ASSERT_GE(back.model->textures.size(), 2u);
        EXPECT_EQ(back.model->textures[1].width, 2) << outputPathFor(source, target);
    }

    // A target that drops textures writes no image.
    fs::remove(dir.file("boat_0.png"));
    ASSERT_TRUE(saveModel(boat.model, ConversionTarget::Lwo, outputPathFor(source, ConversionTarget::Lwo)).ok);
    EXPECT_FALSE(fs::exists(dir.file("boat_0.png")));
}

TEST(EmbeddedImages, GltfEmbedsTheCarriedBytes) {
    test::TempDir dir;
    Boat boat(dir);
    // A file of the same name beside the model is not what goes in.
    test::writeBytes(dir.file("boat_0.png"), png(pattern(3, 1)));
    const std::string out = dir.file("out.glb");
    ASSERT_TRUE(saveModel(boat.model, ConversionTarget::Glb, out).ok);
    const tinygltf::Model doc = test::loadGltfDocument(out);
    ASSERT_EQ(doc.images.size(), 1u);
    EXPECT_EQ(doc.images[0].mimeType, "image/png");
    const tinygltf::BufferView& view = doc.bufferViews[std::size_t(doc.images[0].bufferView)];
    ASSERT_EQ(view.byteLength, boat.used.size());
    EXPECT_EQ(std::memcmp(doc.buffers[0].data.data() + view.byteOffset, boat.used.data(), boat.used.size()), 0);
}

TEST(EmbeddedImages, AnImageThatCannotBeWrittenLeavesEverythingAsItWas) {
    test::TempDir dir;
    Boat boat(dir);
    const std::string kzp = outputPathFor(boat.model.path, ConversionTarget::Kzp);

    // The image's place is taken by a folder: neither the output nor the image appears, and an
    // older output keeps its bytes.
    fs::create_directory(dir.file("boat_0.png"));
    SaveOutcome saved = saveModel(boat.model, ConversionTarget::Kzp, kzp);
    EXPECT_FALSE(saved.ok);
    EXPECT_FALSE(fs::exists(kzp));
    test::writeText(kzp, "older");
    EXPECT_FALSE(saveModel(boat.model, ConversionTarget::Kzp, kzp).ok);
    EXPECT_EQ(test::readBytes(kzp), test::bytesOf("older"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 3)
        << "a temporary file was left behind";
    fs::remove(dir.file("boat_0.png"));

    // The image's name leads to the model's own file: refused, the source untouched.
    fs::create_symlink(boat.model.path, dir.file("boat_0.png"));
    saved = saveModel(boat.model, ConversionTarget::Kzp, kzp);
    EXPECT_FALSE(saved.ok);
    EXPECT_NE(errorText(saved.error).find("would replace the source file"), std::string::npos);
    EXPECT_EQ(test::readBytes(boat.model.path), test::bytesOf("glTF"));
    EXPECT_EQ(test::readBytes(kzp), test::bytesOf("older"));
    fs::remove(dir.file("boat_0.png"));

    // A name that is no plain file name writes nothing outside the output's folder.
    fs::create_directory(dir.file("sub"));
    boat.model.textures[1].fileName = boat.model.embeddedImages[0].name = "../boat_0.png";
    saved = saveModel(boat.model, ConversionTarget::Kzp, dir.file("sub/boat.KZP"));
    EXPECT_TRUE(saved.ok);
    EXPECT_FALSE(fs::exists(dir.file("boat_0.png")));
    ASSERT_FALSE(saved.warnings.empty());
    EXPECT_NE(saved.warnings[0].find("no plain file name"), std::string::npos) << saved.warnings[0];
}

}  // namespace
}  // namespace rv
