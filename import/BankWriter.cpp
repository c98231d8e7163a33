#include "BankWriter.h"

#include "AudioFiles.h"
#include "Text.h"

#include <write/ArchiveWriter.h>
#include <write/XmlText.h>

#include <soundfont/SampleCoordinate.h>
#include <soundfont/SampleTree.h>
#include <soundfont/SoundFontManager.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

namespace fs = std::filesystem;

namespace ox::import {

using oxsf::escapeXml;
using soundfont::dynamicName;
using soundfont::SampleCoordinate;
using soundfont::velocityFromDynamic;

namespace {

constexpr int kForte = 10;
constexpr int kLoudest = 12; // FFF: the louder dynamics share its velocity, 127

/// The velocity a request at `dynamic` stands for (NONE counts as the softest).
int velocityOf(int dynamic) {
    return std::clamp(velocityFromDynamic(dynamic), 1, 127);
}

/// The zone the source plays at `key` and `velocity`: the first whose ranges
/// hold both, else the zone holding the key whose velocity range is nearest
/// (earlier wins ties); -1 when no zone holds the key.
int zoneFor(const std::vector<Zone>& zones, int key, int velocity) {
    int best = -1;
    int bestDistance = INT_MAX;
    for (size_t i = 0; i < zones.size() && bestDistance > 0; ++i) {
        const Zone& zone = zones[i];
        if (key < zone.keyLo || key > zone.keyHi) {
            continue;
        }
        const int distance = velocity < zone.velLo   ? zone.velLo - velocity
                             : velocity > zone.velHi ? velocity - zone.velHi
                                                     : 0;
        if (distance < bestDistance) {
            best = int(i);
            bestDistance = distance;
        }
    }
    return best;
}

using Assignment = std::array<int, 128>; // zone per key, -1 for none

Assignment assignmentAt(const std::vector<Zone>& zones, int velocity) {
    Assignment keys;
    for (int key = 0; key < 128; ++key) {
        keys[size_t(key)] = zoneFor(zones, key, velocity);
    }
    return keys;
}

/// The dynamics a bank is filed at. Neighbouring dynamics whose velocities get
/// the same zone at every key form one layer, filed at its first and last
/// dynamic: every requested dynamic then lies nearest to a level of its own
/// layer. A bank without velocity layers needs "F" alone.
std::vector<int> fileLevels(const std::vector<Zone>& zones) {
    std::vector<std::pair<int, int>> runs;
    Assignment previous{};
    for (int dynamic = 1; dynamic <= kLoudest; ++dynamic) {
        const Assignment keys = assignmentAt(zones, velocityOf(dynamic));
        if (runs.empty() || keys != previous) {
            runs.emplace_back(dynamic, dynamic);
        } else {
            runs.back().second = dynamic;
        }
        previous = keys;
    }
    if (runs.size() == 1) {
        return {kForte};
    }
    std::vector<int> levels;
    for (const auto& [first, last] : runs) {
        levels.push_back(first);
        if (last != first) {
            levels.push_back(last);
        }
    }
    return levels;
}

/// The filed levels nearest to a requested dynamic (two on a tie).
std::vector<int> nearestLevels(const std::vector<int>& levels, int dynamic) {
    int best = INT_MAX;
    for (const int level : levels) {
        best = std::min(best, std::abs(level - dynamic));
    }
    std::vector<int> nearest;
    for (const int level : levels) {
        if (std::abs(level - dynamic) == best) {
            nearest.push_back(level);
        }
    }
    return nearest;
}

bool sameSound(const Zone& a, const Zone& b) {
    return a.gainDb == b.gainDb && a.cents == b.cents && a.voice == b.voice &&
           a.layers == b.layers && a.chokeGroup == b.chokeGroup && a.turn == b.turn &&
           a.envelope == b.envelope;
}

/// One Sample element to write.
struct Filed {
    int midi;
    int dynamic;
    int zone;
    double repitch;
    /// Zones that sound with the zone at this key (and their own layers), as
    /// the zone's own layers are: relative to the zone's repitch.
    std::vector<ZoneLayer> overlaps = {};
};

struct Layout {
    std::vector<int> levels;
    std::vector<Filed> samples;
    std::vector<bool> zoneFiled;            // somewhere
    std::set<std::pair<int, int>> shadowed; // zone and level where another zone hides it
    // Audio source and the level its file decodes at -> file name. The library
    // applies a Wave's gain when it decodes the file, once per file name, so
    // one source at two levels needs two files; a layer's gain is its player's.
    std::map<std::pair<size_t, double>, std::string> files;
};

/// The zone whose root is nearest `key` among `roots`; -1 when two are as near.
int nearestRoot(const std::map<int, int>& roots, int key) {
    const auto above = roots.lower_bound(key);
    if (above == roots.begin()) {
        return above == roots.end() ? -1 : above->second;
    }
    const auto below = std::prev(above);
    if (above == roots.end() || key - below->first < above->first - key) {
        return below->second;
    }
    return above->first - key < key - below->first ? above->second : -1;
}

/// Whether filing each zone at its root lets every key find its own zone's
/// sound: the library plays a key on the nearest sample, and a source may
/// place a zone's root beyond its keys, nearer to other zones' keys, or give
/// one sample different settings in different key ranges.
bool rootsServeEveryKey(const BankPlan& plan, const std::vector<int>& levels) {
    for (const int level : levels) {
        const Assignment keys = assignmentAt(plan.zones, velocityOf(level));
        std::map<int, int> roots; // the first zone at each root, as they are filed
        for (const int z : std::set<int>(keys.begin(), keys.end())) {
            if (z >= 0) {
                roots.emplace(plan.zones[size_t(z)].root, z);
            }
        }
        for (int key = 0; key < 128; ++key) {
            const int z = keys[size_t(key)];
            if (z < 0) {
                continue;
            }
            const int served = nearestRoot(roots, key);
            if (served < 0) {
                return false;
            }
            const Zone& own = plan.zones[size_t(z)];
            const Zone& found = plan.zones[size_t(served)];
            if (served != z &&
                (own.audio != found.audio || own.root != found.root || !sameSound(own, found))) {
                return false;
            }
        }
    }
    return true;
}

/// Whether two zones a note of the source plays together overlap only in part
/// (zones stacked in whole are layers already).
bool partlyOverlapping(const std::vector<Zone>& zones) {
    for (size_t a = 0; a < zones.size(); ++a) {
        for (size_t b = a + 1; b < zones.size(); ++b) {
            const Zone& x = zones[a];
            const Zone& y = zones[b];
            if (!x.layered && !y.layered && x.keyLo <= y.keyHi && y.keyLo <= x.keyHi &&
                x.velLo <= y.velHi && y.velLo <= x.velHi) {
                return true;
            }
        }
    }
    return false;
}

/// The zones other than `host` that sound at `key` at some velocity `host`
/// sounds at, as layers of the host's sample filed at `key` with `repitch`.
/// Marks them filed.
std::vector<ZoneLayer> overlapsAt(const std::vector<Zone>& zones, int host, int key, double repitch,
                                  std::vector<bool>& filed) {
    std::vector<ZoneLayer> out;
    const Zone& h = zones[size_t(host)];
    for (size_t e = 0; e < zones.size(); ++e) {
        const Zone& x = zones[e];
        if (int(e) == host || x.layered || key < x.keyLo || key > x.keyHi || x.velHi < h.velLo ||
            x.velLo > h.velHi) {
            continue;
        }
        ZoneLayer layer{x.audio, x.gainDb, x.voice, x.envelope};
        layer.loopRelease = x.loopRelease;
        layer.repitch = x.cents + (key - x.root) * x.keyTrack - repitch;
        layer.velLo = x.velLo;
        layer.velHi = x.velHi;
        layer.turn = x.turn;
        out.push_back(layer);
        for (ZoneLayer side : x.layers) {
            side.repitch += layer.repitch;
            side.velLo = x.velLo;
            side.velHi = x.velHi;
            out.push_back(std::move(side));
        }
        filed[e] = true;
    }
    return out;
}

Layout lay(const BankPlan& plan, std::map<std::string, int>& dropped) {
    Layout layout;
    layout.levels = fileLevels(plan.zones);
    layout.zoneFiled.assign(plan.zones.size(), false);
    std::set<int> varied;
    // Where filing zones at their roots would play a key on another zone's
    // sound, a pitch does not follow the keys by semitones (a sound effect at
    // one pitch everywhere), or zones sound together over part of their keys,
    // every key is filed with the sounds and pitch it plays at, as a kit's are.
    const bool everyKey = plan.unpitched ||
                          std::any_of(plan.zones.begin(), plan.zones.end(),
                                      [](const Zone& z) { return z.keyTrack != 100; }) ||
                          partlyOverlapping(plan.zones) || !rootsServeEveryKey(plan, layout.levels);
    for (const int level : layout.levels) {
        const Assignment keys = assignmentAt(plan.zones, velocityOf(level));
        if (everyKey) {
            // Every key its own piece, transposition 0; the source's pitch shift is repitch.
            for (int key = 0; key < 128; ++key) {
                const int z = keys[size_t(key)];
                if (z < 0) {
                    continue;
                }
                const Zone& zone = plan.zones[size_t(z)];
                const double repitch = zone.cents + (key - zone.root) * zone.keyTrack;
                layout.samples.push_back(
                    {key, level, z, repitch,
                     overlapsAt(plan.zones, z, key, repitch, layout.zoneFiled)});
                layout.zoneFiled[size_t(z)] = true;
            }
            continue;
        }
        // Pitched: each zone at its root. A later zone at a root already
        // filed at this level could never be found: when it plays the same
        // sample it is served all the same, otherwise it is lost.
        std::map<int, int> roots;
        for (const int z : std::set<int>(keys.begin(), keys.end())) {
            if (z < 0) {
                continue;
            }
            const Zone& zone = plan.zones[size_t(z)];
            const auto [filed, isNew] = roots.emplace(zone.root, z);
            if (!isNew) {
                const Zone& first = plan.zones[size_t(filed->second)];
                if (first.audio != zone.audio) {
                    layout.shadowed.emplace(z, level);
                    continue;
                }
                if (!sameSound(first, zone)) {
                    varied.insert(z);
                }
            } else {
                layout.samples.push_back({zone.root, level, z, zone.cents});
            }
            layout.zoneFiled[size_t(z)] = true;
        }
    }
    if (!varied.empty()) {
        dropped["gain, tuning or envelope varying by key within one sample"] += int(varied.size());
    }
    for (size_t z = 0; z < plan.zones.size(); ++z) {
        const Zone& zone = plan.zones[z];
        if (layout.zoneFiled[z] || zone.layered) {
            continue;
        }
        bool reachable = false;
        for (int dynamic = 1; dynamic <= kLoudest; ++dynamic) {
            reachable = reachable ||
                        (velocityOf(dynamic) >= zone.velLo && velocityOf(dynamic) <= zone.velHi);
        }
        const bool hidden = std::any_of(layout.shadowed.begin(), layout.shadowed.end(),
                                        [&](const auto& entry) { return entry.first == int(z); });
        dropped[hidden      ? "zones sharing their root key with another zone"
                : reachable ? "layered zones (only one sample plays per note)"
                            : "velocity layers narrower than a step of the dynamics scale"]++;
    }
    const auto name = [&](size_t audio, double gainDb) {
        if (!layout.files.count({audio, gainDb})) {
            const size_t n = layout.files.size() + 1;
            char index[16];
            std::snprintf(index, sizeof index, "%03zu", n);
            layout.files[{audio, gainDb}] =
                plan.filePrefix + "-" + index + "-" + safeName(plan.audio[audio].name) + ".flac";
        }
    };
    for (const Filed& sample : layout.samples) {
        const Zone& zone = plan.zones[size_t(sample.zone)];
        name(zone.audio, zone.gainDb);
        for (const ZoneLayer& layer : zone.layers) {
            name(layer.audio, 0.0);
        }
        for (const ZoneLayer& layer : sample.overlaps) {
            name(layer.audio, 0.0);
        }
    }
    return layout;
}

void attribute(std::string& out, const char* name, const std::optional<double>& value) {
    if (value) {
        out += std::string(" ") + name + "=\"" + number(*value) + "\"";
    }
}

void envelopeAttributes(std::string& xml, const Envelope& envelope) {
    attribute(xml, "ampDelay", envelope.delay);
    attribute(xml, "ampAttack", envelope.attack);
    attribute(xml, "ampHold", envelope.hold);
    attribute(xml, "ampDecay", envelope.decay);
    attribute(xml, "ampSustain", envelope.sustain);
    attribute(xml, "ampRelease", envelope.release);
}

/// Whether the Sample or Layer says its release is timed from full level;
/// only a release that is written needs it.
bool releasedFromFull(const Envelope& envelope) {
    return envelope.releaseFromFull && envelope.release;
}

void turnAttributes(std::string& xml, const Turn& turn) {
    if (turn.seqLength > 1) {
        xml += " seqLength=\"" + std::to_string(turn.seqLength) + "\" seqPosition=\"" +
               std::to_string(turn.seqPosition) + "\"";
    }
    if (turn.randLo > 0) {
        attribute(xml, "randLo", turn.randLo);
    }
    if (turn.randHi < 1) {
        attribute(xml, "randHi", turn.randHi);
    }
}

std::string description(const BankPlan& plan, const Layout& layout) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    xml += "<Bank id=\"" + escapeXml(plan.id) + "\" type=\"" +
           (plan.unpitched ? "drum" : "pitched") + "\" name=\"" + escapeXml(plan.name) +
           "\" description=\"" + escapeXml(plan.description) + "\">\n";
    // A request by MIDI pitch alone searches these nodes.
    xml += plan.unpitched ? "  <SamplesTree>\n    <Node class=\"stick\"><Node class=\"hit\">"
                            "<Node class=\"hit\">\n"
                          : "  <SamplesTree>\n    <Node class=\"pick\"><Node class=\"sustain\">"
                            "<Node class=\"down\">\n";
    xml += "      <Samples>\n";
    for (const Filed& sample : layout.samples) {
        const Zone& zone = plan.zones[size_t(sample.zone)];
        xml += "        <Sample midi=\"" + std::to_string(sample.midi) + "\" dynamic=\"" +
               dynamicName(sample.dynamic) + "\"" +
               (zone.chokeGroup > 0 ? " chokeGroup=\"" + std::to_string(zone.chokeGroup) + "\""
                                    : std::string()) +
               (zone.loopRelease ? " loopRelease=\"1\"" : "") +
               (releasedFromFull(zone.envelope) ? " releaseFromFull=\"1\"" : "");
        turnAttributes(xml, zone.turn);
        xml += "><Wave file=\"" + escapeXml(layout.files.at({zone.audio, zone.gainDb})) + "\"";
        if (std::abs(zone.gainDb) > 1e-9) {
            attribute(xml, "gain", zone.gainDb);
        }
        if (std::abs(sample.repitch) > 1e-9) {
            attribute(xml, "repitch", sample.repitch);
        }
        envelopeAttributes(xml, zone.envelope);
        for (const auto& [name, value] : zone.voice) {
            attribute(xml, name.c_str(), value);
        }
        xml += "/>";
        std::vector<ZoneLayer> layers = zone.layers;
        layers.insert(layers.end(), sample.overlaps.begin(), sample.overlaps.end());
        for (const ZoneLayer& layer : layers) {
            xml += "<Layer file=\"" + escapeXml(layout.files.at({layer.audio, 0.0})) + "\"";
            if (layer.velLo > 1) {
                xml += " velLo=\"" + std::to_string(layer.velLo) + "\"";
            }
            if (layer.velHi < 127) {
                xml += " velHi=\"" + std::to_string(layer.velHi) + "\"";
            }
            if (layer.loopRelease) {
                xml += " loopRelease=\"1\"";
            }
            if (releasedFromFull(layer.envelope)) {
                xml += " releaseFromFull=\"1\"";
            }
            turnAttributes(xml, layer.turn);
            if (std::abs(layer.gainDb) > 1e-9) {
                attribute(xml, "gain", layer.gainDb);
            }
            // A layer's player transposes by its own repitch alone, from the
            // sample's key: what the zone's sample shifts by comes first.
            if (const double repitch = sample.repitch + layer.repitch; std::abs(repitch) > 1e-9) {
                attribute(xml, "repitch", repitch);
            }
            envelopeAttributes(xml, layer.envelope);
            for (const auto& [name, value] : layer.voice) {
                attribute(xml, name.c_str(), value);
            }
            xml += "/>";
        }
        xml += "</Sample>\n";
    }
    xml += "      </Samples>\n    </Node></Node></Node>\n  </SamplesTree>\n</Bank>\n";
    return xml;
}

std::string keyName(int key) {
    static const char* names[] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    return std::to_string(key) + " (" + names[key % 12] + std::to_string(key / 12 - 1) + ")";
}

/// Asks the written bank, through the library's own search, for every key the
/// source plays at every dynamic, and describes the notes that the sample the
/// source assigns does not serve (a pitched key may go to the zone whose root
/// is nearest). Empty when all are right.
std::string verify(const std::string& dir, const BankPlan& plan, const Layout& layout) {
    soundfont::SoundFontManager manager;
    std::shared_ptr<soundfont::SoundFont> bank;
    try {
        bank = manager.addDirectory(dir);
    } catch (const std::exception& e) {
        const auto problem = soundfont::describeDescriptionProblem(dir);
        throw ImportError(dir, "the description just written does not read: " +
                                   (problem ? problem->text() : std::string(e.what())));
    }
    if (!bank) {
        throw ImportError(dir, "the bank just written does not open");
    }
    const soundfont::SampleTree& tree = bank->sampleTree();
    int checked = 0;
    int wrong = 0;
    std::string example;
    for (int key = 0; key < 128; ++key) {
        for (int dynamic = 0; dynamic < soundfont::kDynamicCount; ++dynamic) {
            const int z = zoneFor(plan.zones, key, velocityOf(dynamic));
            const auto levels = nearestLevels(layout.levels, dynamic);
            if (z < 0 || !layout.zoneFiled[size_t(z)] ||
                std::any_of(levels.begin(), levels.end(), [&](int level) {
                    return layout.shadowed.count({z, level}) > 0;
                })) {
                continue; // a loss the report names already
            }
            ++checked;
            const Zone& zone = plan.zones[size_t(z)];
            const std::string& expected = layout.files.at({zone.audio, zone.gainDb});
            const soundfont::SampleTreeNodeSample* found = tree.findSampleByMidi(key, dynamic);
            const std::string file =
                found && !found->files.empty() ? found->files.begin()->second : std::string();
            bool right =
                file == expected && (!plan.unpitched || (*found)[SampleCoordinate::Midi] == key);
            if (!right && found && !plan.unpitched) {
                const int distance = std::abs((*found)[SampleCoordinate::Midi] - key);
                right = std::count(levels.begin(), levels.end(),
                                   (*found)[SampleCoordinate::Dynamic]) > 0 &&
                        (*found)[SampleCoordinate::Midi] != zone.root &&
                        distance <= std::abs(zone.root - key);
            }
            if (right) {
                continue;
            }
            if (wrong++ == 0) {
                example = "key " + keyName(key) + " at " + dynamicName(dynamic) + " plays " +
                          (file.empty() ? std::string("nothing") : file) + " instead of " +
                          expected;
            }
        }
    }
    if (wrong == 0) {
        return {};
    }
    return std::to_string(wrong) + " of " + std::to_string(checked) +
           " notes (key and dynamic) are not served by the sample the source assigns, e.g. " +
           example;
}

/// A staging folder beside the final bank, removed unless committed.
class Staging {
public:
    Staging(const fs::path& outDir, const std::string& folder) {
        std::string pattern = (outDir / ("." + folder + ".tmp-XXXXXX")).string();
        if (!::mkdtemp(pattern.data())) {
            throw ImportError(outDir.string(),
                              std::string("cannot create a folder: ") + std::strerror(errno));
        }
        m_path = pattern;
    }
    ~Staging() {
        if (!m_path.empty()) {
            std::error_code ignored;
            fs::remove_all(m_path, ignored);
        }
    }
    Staging(const Staging&) = delete;
    Staging& operator=(const Staging&) = delete;

    const fs::path& path() const { return m_path; }
    /// Puts the folder in place of `target` (replacing a bank there).
    void commit(const fs::path& target) {
        std::error_code error;
        fs::path old;
        if (fs::exists(target, error)) {
            old = target;
            old += ".old-" + pathDigest(m_path.string());
            fs::rename(target, old, error);
            if (error) {
                throw ImportError(target.string(), "cannot replace: " + error.message());
            }
        }
        fs::rename(m_path, target, error);
        if (error) {
            if (!old.empty()) {
                fs::rename(old, target, error);
            }
            throw ImportError(target.string(), "cannot rename into place: " + error.message());
        }
        m_path.clear();
        if (!old.empty()) {
            fs::remove_all(old, error);
        }
    }

private:
    fs::path m_path;
};

void writeText(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), std::streamsize(text.size()));
    if (!out.flush()) {
        throw ImportError(path.string(), "cannot write");
    }
}

} // namespace

/// Every key and velocity `zones[z]` holds is held by an earlier zone as well:
/// no note ever picks it, and in the source it sounds together with them.
bool stackedUnderEarlier(const std::vector<Zone>& zones, size_t z) {
    const Zone& zone = zones[z];
    for (int key = zone.keyLo; key <= zone.keyHi; ++key) {
        for (int velocity = zone.velLo; velocity <= zone.velHi; ++velocity) {
            const auto holds = [&](const Zone& e) {
                return key >= e.keyLo && key <= e.keyHi && velocity >= e.velLo &&
                       velocity <= e.velHi;
            };
            if (std::none_of(zones.begin(), zones.begin() + ptrdiff_t(z), holds)) {
                return false;
            }
        }
    }
    return true;
}

/// The plan with each stacked zone (see above) as a layer of every other zone
/// whose velocities it meets and whose sample it holds the key of, at its own
/// pitch, level, envelope, voice and velocities. Where the stacked zones split
/// the keys elsewhere than the others, each key then hears the stacked zone
/// of its sample's key, transposed as that sample is. A stacked zone that
/// holds no sample's key is left as it was: the layout still reports it lost.
BankPlan withLayeredZones(const BankPlan& plan) {
    BankPlan stacked = plan;
    // A zone's own layers (its stereo side) take their turns with it.
    for (Zone& zone : stacked.zones) {
        for (ZoneLayer& side : zone.layers) {
            side.turn = zone.turn;
        }
    }
    std::vector<bool> isStacked(plan.zones.size());
    for (size_t z = 0; z < plan.zones.size(); ++z) {
        isStacked[z] = stackedUnderEarlier(plan.zones, z);
    }
    for (size_t z = 0; z < plan.zones.size(); ++z) {
        if (!isStacked[z]) {
            continue;
        }
        const Zone& extra = plan.zones[z];
        for (size_t h = 0; h < plan.zones.size(); ++h) {
            // Where the host is filed: its root, or the nearest key it holds.
            const Zone& host = plan.zones[h];
            const int filedAt = std::clamp(host.root, host.keyLo, host.keyHi);
            if (isStacked[h] || filedAt < extra.keyLo || filedAt > extra.keyHi ||
                host.velHi < extra.velLo || host.velLo > extra.velHi) {
                continue;
            }
            ZoneLayer layer{extra.audio, extra.gainDb, extra.voice, extra.envelope};
            layer.loopRelease = extra.loopRelease;
            layer.repitch = (host.root - extra.root) * 100.0 + extra.cents - host.cents;
            layer.velLo = extra.velLo;
            layer.velHi = extra.velHi;
            layer.turn = extra.turn;
            std::vector<ZoneLayer>& layers = stacked.zones[h].layers;
            layers.push_back(std::move(layer));
            // What sounds with the stacked zone (its stereo side) sounds here too.
            for (ZoneLayer side : extra.layers) {
                side.repitch += layers.back().repitch;
                side.velLo = extra.velLo;
                side.velHi = extra.velHi;
                side.turn = extra.turn;
                layers.push_back(std::move(side));
            }
            stacked.zones[z].layered = true;
        }
    }
    return stacked;
}

BankReport writeBank(const BankPlan& source, const std::string& outDir, bool archive) {
    const BankPlan plan = withLayeredZones(source);
    BankReport report;
    report.id = plan.id;
    report.name = plan.name;
    report.kind = plan.unpitched ? "unpitched" : "pitched";
    report.source = plan.source;
    report.bank = plan.bank;
    report.program = plan.program;
    report.warnings = plan.warnings;
    report.pieces = plan.pieces;

    std::map<std::string, int> dropped = plan.dropped;
    const Layout layout = lay(plan, dropped);
    if (layout.samples.empty()) {
        throw ImportError(plan.source, "\"" + plan.name + "\" has no sample to import");
    }

    const fs::path out(outDir);
    Staging staging(out, plan.folder);
    const fs::path samples = staging.path() / "Samples";
    try {
        fs::create_directories(samples);
        // One source's audio at a time: only the file being written is in memory.
        for (const auto& [source, file] : layout.files) {
            writeFlac((samples / file).string(), plan.audio[source.first].read());
        }
        writeText(staging.path() / "Samples.xml", description(plan, layout));
    } catch (const std::exception& e) {
        // The staging folder goes with the failure: say so, as the folder
        // named in the error no longer exists.
        throw ImportError("", std::string(e.what()) + "; the unfinished bank was removed");
    }

    const std::string problem = verify(staging.path().string(), plan, layout);
    if (!problem.empty()) {
        report.warnings.push_back(problem);
    }

    if (archive) {
        report.path = plan.folder + ".tq7bank";
        std::vector<oxsf::archive::ArchiveInput> entries{oxsf::archive::ArchiveInput::fromFile(
            "Samples.xml", (staging.path() / "Samples.xml").string())};
        for (const auto& [source, file] : layout.files) {
            entries.push_back(
                oxsf::archive::ArchiveInput::fromFile(file, (samples / file).string()));
        }
        try {
            oxsf::archive::writeArchive((out / report.path).string(), entries);
        } catch (const std::runtime_error& e) {
            throw ImportError("", e.what());
        }
    } else {
        report.path = plan.folder;
        staging.commit(out / report.path);
    }

    report.samples = int(layout.samples.size());
    report.files = int(layout.files.size());
    const std::string unit = " " + plan.zoneWord;
    for (const auto& [what, count] : dropped) {
        report.dropped.push_back(what + " (" + std::to_string(count) + unit +
                                 (count == 1 ? "" : "s") + ")");
    }
    return report;
}

} // namespace ox::import
