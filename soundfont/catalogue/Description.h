#pragma once

// Reading of the bank description document into the bank's private record.

// The parser's exception must keep default visibility: the host catches it by
// type across the library boundary, and the library is built with hidden
// visibility.
#pragma GCC visibility push(default)
#include <rapidxml/rapidxml.hpp>
#pragma GCC visibility pop

#include "catalogue/SoundFontImpl.h"

namespace ox::soundfont::description {

using Element = rapidxml::xml_node<char>;

/// Parses the zero-terminated description `text` in place into `document`, after
/// refusing one past the description limits. Throws rapidxml::parse_error.
void parse(rapidxml::xml_document<char>& document, std::vector<char>& text);

/// Applies the root element's attributes (id, type, name, description,
/// velocity, tuning) in document order. A malformed "tuning" throws
/// std::invalid_argument or std::out_of_range, leaving later attributes unread.
void applyRootAttributes(SoundFont::Impl& bank, const Element& root);

/// Reads a "SamplesTree" or "Node" element and everything beneath it. `bankId`
/// decides the repitch sign and the excluded samples.
Layer readLayer(const Element& element, const std::string& bankId);

} // namespace ox::soundfont::description
