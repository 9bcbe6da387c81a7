// Shell command lines built whole, with every text argument quoted so that it stays one word of
// data: no argument ever becomes shell syntax.
#include <string.h>

#include "korv_command.h"

namespace korv::proc {

namespace {

bool Ordinary(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || strchr("/._@+-", c);
}

bool AllOrdinary(const std::string &text)
{
    for (unsigned char c : text)
        if (!c || !Ordinary(c))
            return false;
    return true;
}

// Inside double quotes the shell still reads the dollar, the backquote, the backslash and the
// double quote: each gets a backslash, so an ordinary path reads exactly as written and any
// other stays one word of data.
std::string DoubleQuoted(const std::string &text)
{
    std::string out;
    for (char c : text) {
        if (c == '$' || c == '`' || c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out;
}

}  // namespace

std::string ShellQuote(const std::string &text)
{
    if (AllOrdinary(text))
        return text;
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

std::string ShellCommand(const char *format, std::span<const ShellArg> args)
{
    if (!format)
        return "";
    std::string out;
    auto next = args.begin();
    bool inDouble = false;  // between double quotes of the format
    for (const char *p = format; *p; ++p) {
        if (*p != '%') {
            if (*p == '"')
                inDouble = !inDouble;
            out += *p;
            continue;
        }
        char conv = p[1];
        if (conv == '%') {
            out += '%';
            ++p;
            continue;
        }
        if ((conv != 's' && conv != 'd') || next == args.end() || next->number() != (conv == 'd'))
            return "";
        const std::string &text = next->text();
        ++next;
        ++p;
        if (text.find('\0') != std::string::npos)
            return "";  // a command is a C string: a NUL would cut it
        if (conv == 'd')
            out += text;
        else if (inDouble)
            out += DoubleQuoted(text);
        else if (!text.empty())
            out += ShellQuote(text);
    }
    return next == args.end() && !inDouble ? out : "";
}

}  // namespace korv::proc
