#include "Text.h"

#include <ox/import/Import.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace ox::import {

std::string safeName(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '_' || c == '.';
        if (keep) {
            out += c;
        } else if (!out.empty() && out.back() != '-') {
            out += '-';
        }
    }
    while (!out.empty() && (out.back() == '-' || out.back() == '.')) {
        out.pop_back();
    }
    // A leading dot would hide the folder.
    while (!out.empty() && out.front() == '.') {
        out.erase(0, 1);
    }
    return out.empty() ? "bank" : out;
}

std::string pathDigest(const std::string& path) {
    std::error_code error;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(path, error);
    const std::string text = error ? path : canonical.string();
    uint64_t hash = 14695981039346656037ull; // FNV-1a
    for (const unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char digits[8];
    std::snprintf(digits, sizeof digits, "%06x", unsigned((hash ^ (hash >> 32)) & 0xffffff));
    return digits;
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value == 0.0 ? 0.0 : value);
    return text;
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw ImportError(path, "cannot read");
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (!in && !in.eof()) {
        throw ImportError(path, "cannot read");
    }
    return text.str();
}

} // namespace ox::import
