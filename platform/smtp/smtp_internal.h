// Helpers shared by the plug-in's functions.
#pragma once

#include <string>

#define KORVSMTP_EXPORT extern "C" __attribute__((visibility("default")))

namespace korvsmtp {

// Base64 of n bytes, without line breaks.
std::string Base64(const void *data, size_t n);

}  // namespace korvsmtp
