#pragma once

// Text for XML attribute values and character data. Header-only, so that the
// coverage map can use it where nothing else of this folder is linked (the fuzz build).

#include <string>

namespace oxsf {

/// `text` with &, <, > and " written as entity references.
inline std::string escapeXml(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

} // namespace oxsf
