// The tokenizer of Metasequoia text files: one line in, one token at a time out.
#pragma once

#include <optional>
#include <string_view>

namespace rv {

// The next token of `rest`, advancing `rest` past it; nullopt when only blanks are left.
// A token that starts with '"' runs to the next '"' and comes without its quotes. Any other token
// runs to the next space or tab, except that a '(' takes everything up to its ')' along, blanks
// and quoted text included, so V(0 1 2) and tex("a b.png") are single tokens.
std::optional<std::string_view> nextMqoToken(std::string_view& rest);

// The text between a token's first '(' and the ')' that closes it (or the end of the token);
// empty when the token has no '('.
std::string_view mqoArguments(std::string_view token);

}  // namespace rv
