#pragma once

// The private record of SoundFont, shared by the parts of the library that
// fill or read it (description reader, sample tree).

#include <soundfont/SampleTree.h>
#include <soundfont/SoundFont.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace rapidxml {
template <class Ch> class xml_document;
}

namespace ox::soundfont {

// Members are destroyed in reverse order: the tree first, then the parsed
// document, the text it points into, and the rest.
struct SoundFont::Impl {
    // Out of line: the parsed document's type is complete only where it is read.
    explicit Impl(SoundFont* owner);
    ~Impl();

    std::string id;
    std::string description;
    Layer layer;
    std::string name;
    std::string type;
    std::vector<int> tuning;
    std::atomic<float> velocity{0.72f};
    float gain = 1.0f;
    std::vector<char> xmlText;
    std::unique_ptr<rapidxml::xml_document<char>> document;
    std::unique_ptr<SampleTree> tree;
    SoundFont* owner;
};

} // namespace ox::soundfont
