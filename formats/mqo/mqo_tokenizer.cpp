#include "formats/mqo/mqo_tokenizer.h"

#include <cstring>

namespace rv {
namespace {

bool isSeparator(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Index just past the ')' that closes the '(' at `open`, skipping quoted text so that a ')' in a
// file name does not end the token; the end of `text` when there is none.
std::size_t closeParen(std::string_view text, std::size_t open) {
    std::size_t i = open + 1;
    for (;;) {
        const std::size_t close = text.find(')', i);
        const std::size_t end = close == std::string_view::npos ? text.size() : close;
        const void* quote = std::memchr(text.data() + i, '"', end - i);
        if (!quote)
            return close == std::string_view::npos ? text.size() : close + 1;
        const std::size_t closing = text.find('"', std::size_t(static_cast<const char*>(quote) - text.data()) + 1);
        if (closing == std::string_view::npos)
            return text.size();
        i = closing + 1;
    }
}

}  // namespace

std::optional<std::string_view> nextMqoToken(std::string_view& rest) {
    std::size_t i = 0;
    while (i < rest.size() && (rest[i] == ' ' || rest[i] == '\t'))
        ++i;
    if (i >= rest.size() || rest[i] == '\r' || rest[i] == '\n') {
        rest = {};
        return std::nullopt;
    }
    if (rest[i] == '"') {
        const std::size_t quote = rest.find('"', i + 1);
        if (quote == std::string_view::npos) {
            const std::string_view token = rest.substr(i + 1);
            rest = {};
            return token;
        }
        const std::string_view token = rest.substr(i + 1, quote - i - 1);
        rest.remove_prefix(quote + 1);
        return token;
    }
    const std::size_t start = i;
    while (i < rest.size() && !isSeparator(rest[i]))
        i = rest[i] == '(' ? closeParen(rest, i) : i + 1;
    const std::string_view token = rest.substr(start, i - start);
    rest.remove_prefix(i);
    return token;
}

std::string_view mqoArguments(std::string_view token) {
    const std::size_t open = token.find('(');
    if (open == std::string_view::npos)
        return {};
    const std::size_t end = closeParen(token, open);
    const std::size_t last = (end > open + 1 && token[end - 1] == ')') ? end - 1 : end;
    return token.substr(open + 1, last - open - 1);
}

}  // namespace rv
