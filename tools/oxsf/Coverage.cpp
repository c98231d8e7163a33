#include "Coverage.h"

#include "Report.h"
#include "Search.h"

#include <soundfont/SampleTree.h>
#include <soundfont/SoundFont.h>

#include <algorithm>
#include <climits>

namespace oxsf {

using namespace ox::soundfont;

const SampleTreeNodeSample* Coverage::piece(int note) const {
    if (!node || note < 0 || note >= kMidiNotes || !checked[size_t(note)]) {
        return nullptr;
    }
    for (const auto& sample : node->samples()) {
        if ((*sample)[SampleCoordinate::Midi] == note) {
            return sample.get();
        }
    }
    return nullptr;
}

Coverage coverageOf(const SoundFont& bank) {
    Coverage coverage;
    const SampleTree& tree = bank.sampleTree();
    coverage.kind = treeKind(tree);
    for (int note = 0; note < kMidiNotes; ++note) {
        for (int dynamic = 0; dynamic < kDynamicCount; ++dynamic) {
            CoverageCell& cell = coverage.cells[size_t(note)][size_t(dynamic)];
            cell.sample = tree.findSampleByMidi(note, dynamic);
            cell.transposition = cell.sample ? note - (*cell.sample)[SampleCoordinate::Midi] : 0;
        }
    }
    // Every pitch-only request walks the same path, so one answer names the node.
    const SampleTreeNodeSample* any = coverage.cells[60][10].sample;
    coverage.node = any && tree.root() ? holderOf(*tree.root(), any) : nullptr;
    if (!coverage.node) {
        return coverage;
    }
    int low = INT_MAX;
    int high = INT_MIN;
    for (const auto& sample : coverage.node->samples()) {
        const int pitch = (*sample)[SampleCoordinate::Midi];
        if (pitch < 0 || pitch >= kMidiNotes) {
            continue; // no note a host can ask for
        }
        low = std::min(low, pitch);
        high = std::max(high, pitch);
        coverage.checked[size_t(pitch)] = true;
    }
    if (coverage.kind == Kind::Pitched) {
        for (int note = low; note <= high; ++note) {
            coverage.checked[size_t(note)] = true;
        }
    }
    return coverage;
}

std::string sampleLabel(Kind kind, const SampleTreeNodeSample& sample) {
    std::string file = firstFile(sample);
    if (kind == Kind::Pitched || file.empty()) {
        return pitchName(sample[SampleCoordinate::Midi]);
    }
    file = file.substr(file.find_last_of('/') + 1);
    const size_t dot = file.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? file : file.substr(0, dot);
}

} // namespace oxsf
