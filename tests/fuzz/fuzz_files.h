// What the fuzz targets share: writing an input into a file of the device tree.
#pragma once

#include <stdio.h>
#include <sys/stat.h>

#include <string>

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

}  // namespace korvfuzz
