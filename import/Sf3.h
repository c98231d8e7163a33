#pragma once

// SF3 soundfonts are SF2 files whose samples are Ogg Vorbis streams: a
// sample's start and end count bytes of the stream, its loop decoded frames
// from its own start. libinstpatch reads SF2 alone, so such a font is
// expanded first into an SF2 of the decoded samples, loops kept to the frame.

#include <memory>
#include <string>

namespace ox::import {

/// A temporary SF2 file, removed when this goes.
class ExpandedFont {
public:
    explicit ExpandedFont(std::string path) : m_path(std::move(path)) {}
    ~ExpandedFont();
    ExpandedFont(const ExpandedFont&) = delete;
    ExpandedFont& operator=(const ExpandedFont&) = delete;
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

/// The SF2 form of the soundfont at `path` when any of its samples is Ogg
/// Vorbis; null when none is (the file is read as it is). Throws ImportError
/// naming `path` when a compressed sample does not decode. Expects a file
/// that checkSf2Structure() accepts.
std::unique_ptr<ExpandedFont> expandCompressedSamples(const std::string& path);

} // namespace ox::import
