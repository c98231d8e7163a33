#include "CoverageMap.h"

#include "Coverage.h"
#include "Report.h"
#include "Search.h"

#include "write/XmlText.h"

#include <soundfont/SampleTree.h>
#include <soundfont/SoundFont.h>

#include <fmt/format.h>

#include <algorithm>
#include <climits>
#include <iterator>
#include <vector>

namespace oxsf {

using namespace ox::soundfont;

namespace {

constexpr int kCell = 10;  // width of a note
constexpr int kRow = 14;   // height of a dynamic
constexpr int kLeft = 64;  // room for the dynamics' names
constexpr int kTitle = 40; // room for the title
constexpr int kPieceNames = 110;
constexpr int kKeyboard = 26;

struct Band {
    int limit; ///< the largest transposition (either way) in the band
    const char* colour;
    std::string label;
};

/// Colours by how far a cell is transposed: exact, within the limit, a little
/// beyond it, up to an octave, more.
std::vector<Band> bands(int maxTranspose) {
    const int near = maxTranspose + 3;
    const int far = std::max(12, near);
    std::vector<Band> all{{0, "#1a9850", "exact"}};
    if (maxTranspose > 0) {
        all.push_back({maxTranspose, "#a6d96a", fmt::format("1 to {} semitones", maxTranspose)});
    }
    all.push_back({near, "#fee08b", fmt::format("{} to {}", maxTranspose + 1, near)});
    if (far > near) {
        all.push_back({far, "#fc8d59", fmt::format("{} to {}", near + 1, far)});
    }
    all.push_back({INT_MAX, "#d73027", fmt::format("more than {}", far)});
    return all;
}

const char* colourOf(const std::vector<Band>& bands, const CoverageCell& cell) {
    if (!cell.sample) {
        return "#bdbdbd";
    }
    const int distance = std::abs(cell.transposition);
    for (const Band& band : bands) {
        if (distance <= band.limit) {
            return band.colour;
        }
    }
    return bands.back().colour;
}

bool isBlackKey(int note) {
    const int step = note % 12;
    return step == 1 || step == 3 || step == 6 || step == 8 || step == 10;
}

/// Runs of neighbouring notes that one sample serves, outlined, labelled where
/// the label fits, and told in full by a tooltip.
void drawRuns(const Coverage& coverage, int dynamic, int y, std::string& svg) {
    const auto& cells = coverage.cells;
    for (int first = 0; first < kMidiNotes;) {
        const SampleTreeNodeSample* sample = cells[size_t(first)][size_t(dynamic)].sample;
        int last = first;
        while (last + 1 < kMidiNotes && cells[size_t(last + 1)][size_t(dynamic)].sample == sample) {
            ++last;
        }
        if (sample) {
            const int x = kLeft + first * kCell;
            const int width = (last - first + 1) * kCell;
            const int low = cells[size_t(first)][size_t(dynamic)].transposition;
            const int high = cells[size_t(last)][size_t(dynamic)].transposition;
            fmt::format_to(
                std::back_inserter(svg),
                "<rect x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\" class=\"run\">"
                "<title>{} at {}: {}, recorded at {}, transposed {:+d}{}</title></rect>\n",
                x, y, width, kRow,
                first == last ? pitchName(first) : pitchName(first) + " to " + pitchName(last),
                dynamicName(dynamic), escapeXml(filesText(*sample)),
                pitchName((*sample)[SampleCoordinate::Midi]), low,
                low == high ? std::string() : fmt::format(" to {:+d}", high));
            const std::string label = sampleLabel(coverage.kind, *sample);
            if (width >= int(label.size()) * 5 + 4) {
                fmt::format_to(std::back_inserter(svg),
                               "<text x=\"{}\" y=\"{}\" class=\"label\">{}</text>\n", x + width / 2,
                               y + kRow - 4, escapeXml(label));
            }
        }
        first = last + 1;
    }
}

} // namespace

std::string coverageMapSvg(const SoundFont& bank, const Coverage& coverage, int maxTranspose) {
    const std::vector<Band> colours = bands(maxTranspose);
    const bool pieces = coverage.kind == Kind::Unpitched;
    const int gridTop = kTitle + (pieces ? kPieceNames : 0);
    const int gridBottom = gridTop + kDynamicCount * kRow;
    const int keyboardBottom = gridBottom + 4 + kKeyboard;
    const int legendTop = keyboardBottom + 24;
    const int width = kLeft + kMidiNotes * kCell + 12;
    const int height = legendTop + 24;

    std::string svg;
    auto out = std::back_inserter(svg);
    fmt::format_to(out,
                   "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"{0}\" height=\"{1}\" "
                   "viewBox=\"0 0 {0} {1}\" font-family=\"sans-serif\" font-size=\"9\">\n"
                   "<style>.run{{fill:none;stroke:#fff;stroke-width:1}}"
                   ".label{{font-size:8px;text-anchor:middle;fill:#222}}"
                   ".faded{{opacity:.3}}</style>\n"
                   "<rect width=\"{0}\" height=\"{1}\" fill=\"#fff\"/>\n",
                   width, height);
    const std::string name = bank.name().empty() ? bank.id() : bank.name();
    fmt::format_to(out,
                   "<text x=\"{}\" y=\"16\" font-size=\"13\" font-weight=\"bold\">{}</text>\n"
                   "<text x=\"{}\" y=\"31\">What a request by pitch alone plays: notes "
                   "across, dynamics up; answered from {}. Faded: notes the bank {}.</text>\n",
                   kLeft, escapeXml(name), kLeft, nodeName(coverage.kind, coverage.node),
                   pieces ? "has no piece for" : "does not record");

    if (pieces) {
        for (int note = 0; note < kMidiNotes; ++note) {
            if (const SampleTreeNodeSample* piece = coverage.piece(note)) {
                const int x = kLeft + note * kCell + kCell / 2 + 3;
                fmt::format_to(out,
                               "<text transform=\"translate({},{}) rotate(-90)\">{} {}</text>\n", x,
                               gridTop - 4, note, escapeXml(sampleLabel(Kind::Unpitched, *piece)));
            }
        }
    }

    for (int dynamic = kDynamicCount - 1; dynamic >= 0; --dynamic) {
        const int y = gridTop + (kDynamicCount - 1 - dynamic) * kRow;
        fmt::format_to(out, "<text x=\"{}\" y=\"{}\" text-anchor=\"end\">{}</text>\n", kLeft - 6,
                       y + kRow - 4, dynamicName(dynamic));
        // Neighbouring cells of one colour make one rectangle.
        const auto look = [&](int note) {
            return std::pair(colourOf(colours, coverage.cells[size_t(note)][size_t(dynamic)]),
                             coverage.checked[size_t(note)]);
        };
        for (int first = 0; first < kMidiNotes;) {
            int last = first;
            while (last + 1 < kMidiNotes && look(last + 1) == look(first)) {
                ++last;
            }
            fmt::format_to(out,
                           "<rect x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\" fill=\"{}\"{}/>\n",
                           kLeft + first * kCell, y, (last - first + 1) * kCell, kRow,
                           look(first).first, look(first).second ? "" : " class=\"faded\"");
            first = last + 1;
        }
        drawRuns(coverage, dynamic, y, svg);
    }

    // The keyboard, with every C named (C4 is MIDI 60).
    fmt::format_to(out,
                   "<rect x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\" fill=\"#fff\" "
                   "stroke=\"#999\"/>\n",
                   kLeft, gridBottom + 4, kMidiNotes * kCell, kKeyboard);
    for (int note = 0; note < kMidiNotes; ++note) {
        const int x = kLeft + note * kCell;
        if (isBlackKey(note)) {
            fmt::format_to(out,
                           "<rect x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\" fill=\"#333\"/>\n",
                           x, gridBottom + 4, kCell, kKeyboard);
        } else if (note % 12 == 0) {
            fmt::format_to(out, "<text x=\"{}\" y=\"{}\">{}</text>\n", x, keyboardBottom + 11,
                           pitchName(note));
        }
    }

    int x = kLeft;
    for (const Band& band : colours) {
        fmt::format_to(out,
                       "<rect x=\"{}\" y=\"{}\" width=\"12\" height=\"12\" fill=\"{}\"/>"
                       "<text x=\"{}\" y=\"{}\">{}</text>\n",
                       x, legendTop, band.colour, x + 16, legendTop + 10, escapeXml(band.label));
        x += 24 + int(band.label.size()) * 6;
    }
    fmt::format_to(out, "<text x=\"{}\" y=\"{}\">semitones transposed</text>\n</svg>\n", x,
                   legendTop + 10);
    return svg;
}

} // namespace oxsf
