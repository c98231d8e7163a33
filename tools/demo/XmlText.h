#pragma once

// Text escaped for an XML attribute value, for the writers of bank
// descriptions (the demo banks, the importers). Header-only, like LoopWriter.h.

#include <string>

namespace oxsf::demo {

inline std::string escapeXml(const std::string& text) {
    std::string out;
    for (const char c : text) {
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

} // namespace oxsf::demo
