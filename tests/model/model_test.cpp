#include "model/model.h"

#include <gtest/gtest.h>

#include <cstring>

namespace rv {
namespace {

// The defaults a new model writes into KZP files are Shift-JIS bytes, whatever this file is saved as.
TEST(ModelDefaults, TextDefaultsAreShiftJisBytes) {
    const Model m;
    EXPECT_EQ(m.groups[0].name, "\x83\x4f\x83\x8b\x81\x5b\x83\x76");
    EXPECT_EQ(m.bones[0].name, "\x90\x65\x83\x7b\x81\x5b\x83\x93");
    EXPECT_EQ(m.bones[7].name, "\x83\x7b\x81\x5b\x83\x93_07");
    EXPECT_EQ(m.bones[127].name, "\x83\x7b\x81\x5b\x83\x93_127");
    EXPECT_EQ(m.motions[0].name, "\x83\x82\x81\x5b\x83\x56\x83\x87\x83\x93\x96\xbc");
    EXPECT_EQ(m.fileName, "\x90\x56\x8b\x4b.KZP");
}

}  // namespace
}  // namespace rv
