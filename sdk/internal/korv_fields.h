// Every field of a text between one delimiter, empty ones too, as the account lines and the user
// lists are cut ("a,,b" is three fields; "" is one empty field).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korv {

inline std::vector<std::string> SplitFields(std::string_view text, char delim)
{
    std::vector<std::string> out;
    size_t from = 0;
    for (;;) {
        size_t at = text.find(delim, from);
        out.emplace_back(text.substr(from, at == std::string_view::npos ? std::string_view::npos : at - from));
        if (at == std::string_view::npos)
            return out;
        from = at + 1;
    }
}

}  // namespace korv
