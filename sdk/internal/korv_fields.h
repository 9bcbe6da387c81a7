// The two ways stored texts are cut: an account line (passwd, shadow, group, smbpasswd and the
// unit's own user file: fields between ":") read where it lies, and a list (user lists, group
// members: every field between one delimiter, empty ones too).
#pragma once

#include <stdlib.h>

#include <string>
#include <string_view>
#include <vector>

namespace korv {

enum class FieldCount {
    Exact,   // the line has exactly n fields
    AtLeast  // the first n - 1 fields, and in the last everything after the (n - 1)-th ":"
};

// Up to n fields of an account line in f, viewing the line's own bytes, the n-th holding
// everything after the (n - 1)-th ":": how many the line gave, 1 to n (for lines whose last
// fields may be missing).
inline int AccountFieldsUpTo(std::string_view line, int n, std::string_view *f)
{
    size_t from = 0;
    int i = 0;
    for (; i < n - 1; ++i) {
        size_t at = line.find(':', from);
        if (at == std::string_view::npos)
            break;
        f[i] = line.substr(from, at - from);
        from = at + 1;
    }
    f[i] = line.substr(from);
    return i + 1;
}

// The n fields of an account line in f, viewing the line's own bytes: true, or false when the
// line has too few fields (or, with Exact, too many). Nothing is recorded: the caller knows
// what a short line means.
inline bool AccountFields(std::string_view line, int n, std::string_view *f, FieldCount count = FieldCount::Exact)
{
    if (AccountFieldsUpTo(line, n, f) < n)
        return false;
    return count == FieldCount::AtLeast || f[n - 1].find(':') == std::string_view::npos;
}

// A field of nothing but up to nine digits, as a number; -1 for any other.
inline long FieldDigits(std::string_view field)
{
    if (field.empty() || field.size() > 9)
        return -1;
    long n = 0;
    for (char c : field) {
        if (c < '0' || c > '9')
            return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

// A numeric field of an account line as the entries read it: atoi, and atol with -1 for an
// empty field. The field must end at a ":" or at the line's NUL.
inline int FieldInt(std::string_view field)
{
    long n = FieldDigits(field);
    return n >= 0 ? static_cast<int>(n) : atoi(field.data());
}

inline long FieldNumber(std::string_view field)
{
    if (field.empty())
        return -1;
    long n = FieldDigits(field);
    return n >= 0 ? n : atol(field.data());
}

// Every field of a list ("a,,b" is three fields; "" is one empty field).
inline std::vector<std::string> SplitList(std::string_view text, char delim)
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
