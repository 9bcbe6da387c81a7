// What the fuzz targets share: writing an input into a file of the device tree, reading it back,
// its lines, and the check that ends the run when something that must hold does not.
#pragma once

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>
#include <vector>

namespace korvfuzz {

// Parent folders are made as needed.
inline bool write_file(const char *path, const std::string &data)
{
    std::string p = path;
    for (size_t slash = p.find('/', 1); slash != std::string::npos; slash = p.find('/', slash + 1))
        mkdir(p.substr(0, slash).c_str(), 0755);
    FILE *fp = fopen(path, "we");
    if (!fp)
        return false;
    bool ok = fwrite(data.data(), 1, data.size(), fp) == data.size();
    return fclose(fp) == 0 && ok;
}

// The file's bytes; false when it cannot be read (a missing file included).
inline bool read_file(const char *path, std::string *data)
{
    data->clear();
    FILE *fp = fopen(path, "re");
    if (!fp)
        return false;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, fp)) > 0)
        data->append(buf, n);
    const bool ok = !ferror(fp);
    fclose(fp);
    return ok;
}

inline std::string read_file(const char *path)
{
    std::string data;
    read_file(path, &data);
    return data;
}

// The lines of a text without their newlines, as getline splits them (a last line without a
// newline included, no empty line after a last newline).
inline std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

// The lines of a text that do not hold marker anywhere in their bytes.
inline std::vector<std::string> lines_without(const std::string &text, const char *marker)
{
    std::vector<std::string> out;
    for (const std::string &line : lines_of(text)) {
        if (line.find(marker) == std::string::npos)
            out.push_back(line);
    }
    return out;
}

// Ends the run (a crash to libFuzzer) when something that must hold does not.
inline void require(bool holds, const char *what)
{
    if (holds)
        return;
    fprintf(stderr, "fuzz: does not hold: %s\n", what);
    abort();
}

}  // namespace korvfuzz
