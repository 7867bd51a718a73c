// What a reader or writer reports when it refuses a file.
#pragma once

#include <cstdint>
#include <string>

namespace rv {

struct FormatError {
    std::string file;           // set by the driver; readers only ever see bytes
    std::uint64_t offset = 0;   // where the reader stopped trusting the file
    std::uint32_t line = 0;     // text formats: 1-based line, 0 when not known
    std::string reason;         // "polygon count 70000 is over the limit of 65000"
    bool userMessage = false;   // shown to the user as is (message box), not only logged

    // "FILE: line N: reason", "FILE: byte N: reason", or the reason alone for user messages.
    std::string message() const {
        if (userMessage)
            return reason;
        std::string out = file.empty() ? std::string() : file + ": ";
        if (line > 0)
            out += "line " + std::to_string(line) + ": ";
        else
            out += "byte " + std::to_string(offset) + ": ";
        return out + reason;
    }
};

}  // namespace rv
