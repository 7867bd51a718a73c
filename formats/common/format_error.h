// What a reader or writer reports when it refuses a file or a model.
#pragma once

#include <cstdint>
#include <string>

namespace rv {

struct FormatError {
    enum class Where : std::uint8_t { Byte, Line, Nowhere };
    // Refusals the loader words for the user itself; `Other` carries its own reason.
    enum class Kind : std::uint8_t { Other, RevisionTooOld, RevisionTooNew, RevisionUnknown };

    std::string file;  // set by the driver; readers only ever see bytes
    std::uint64_t offset = 0;  // where the reader stopped trusting the file
    std::uint32_t line = 0;  // text formats: 1-based line
    std::string reason;  // "polygon count 70000 is over the limit of 65000"
    bool userMessage = false;  // shown to the user as is (message box), not only logged
    Where where = Where::Byte;
    Kind kind = Kind::Other;
    std::int32_t revision = 0;  // the file's revision, for the revision kinds

    // A file refused at a byte offset.
    static FormatError atByte(std::uint64_t offset, std::string reason) {
        FormatError e;
        e.offset = offset;
        e.reason = std::move(reason);
        return e;
    }
    // A text file refused at a line (the offset is kept for tools that want it).
    static FormatError atLine(std::uint32_t line, std::uint64_t offset, std::string reason) {
        FormatError e = atByte(offset, std::move(reason));
        e.line = line;
        e.where = Where::Line;
        return e;
    }
    // A refusal that no place in a file explains: a writer refusing a model, a file too short to
    // hold anything.
    static FormatError refusal(std::string reason) {
        FormatError e = atByte(0, std::move(reason));
        e.where = Where::Nowhere;
        return e;
    }
    // A message the user sees as it stands, in a message box or on stderr.
    static FormatError forUser(std::string reason) {
        FormatError e = refusal(std::move(reason));
        e.userMessage = true;
        return e;
    }

    // A native file of a revision that cannot be read; shown to the user once worded.
    static FormatError revisionRefused(Kind kind, std::int32_t revision) {
        FormatError e = forUser({});
        e.kind = kind;
        e.revision = revision;
        return e;
    }

    // "FILE: line N: reason", "FILE: byte N: reason" or "FILE: reason".
    std::string message() const {
        std::string out = file.empty() ? std::string() : file + ": ";
        if (!userMessage && where == Where::Line)
            out += "line " + std::to_string(line) + ": ";
        else if (!userMessage && where == Where::Byte)
            out += "byte " + std::to_string(offset) + ": ";
        return out + reason;
    }
};

}  // namespace rv
