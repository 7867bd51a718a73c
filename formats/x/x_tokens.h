// Token numbers of the binary .x encoding, shared by the lexer and the writer.
#pragma once

#include <cstdint>

namespace rv {

enum XBinaryToken : std::uint16_t {
    kXName = 1,
    kXString = 2,
    kXInteger = 3,
    kXGuid = 5,
    kXIntegerList = 6,
    kXFloatList = 7,
    kXOBrace = 10,
    kXCBrace = 11,
    kXOBracket = 14,
    kXCBracket = 15,
    kXDot = 18,
    kXComma = 19,
    kXSemicolon = 20,
    kXTemplate = 31,
    kXWord = 40,
    kXDword = 41,
    kXFloat = 42,
    kXLpstr = 49,
    kXCString = 51,
    kXArray = 52,
};

}  // namespace rv
