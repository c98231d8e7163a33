#include "BankCheck.h"

#include "Coverage.h"
#include "Report.h"
#include "Search.h"
#include "Vocabulary.h"

#include <ox/utils/filesystem.h>
#include <soundfont/SampleTree.h>
#include <soundfont/SoundFont.h>

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <map>
#include <tuple>

namespace oxsf {

using namespace ox::soundfont;

namespace {

using Severity = Finding::Severity;

Finding finding(Severity severity, std::string check, std::string subject, std::string message,
                nlohmann::json details = nlohmann::json::object()) {
    return Finding{severity, std::move(check), std::move(subject), std::move(message),
                   std::move(details)};
}

double decibels(float gain) {
    return 20.0 * std::log10(double(gain));
}

/// "a, b, c and 4 more"
std::string listed(const std::vector<std::string>& names, size_t shown = 3) {
    std::string text;
    for (size_t i = 0; i < names.size() && i < shown; ++i) {
        text += (i == 0 ? "" : ", ") + names[i];
    }
    if (names.size() > shown) {
        text += fmt::format(" and {} more", names.size() - shown);
    }
    return text;
}

std::string plural(size_t count, const char* word) {
    return fmt::format("{} {}{}", count, word, count == 1 ? "" : "s");
}

// --- The description ---------------------------------------------------------

/// One sample file as the description names it, with every Wave that names it.
struct DescribedFile {
    std::string name;
    std::vector<const Wav*> waves;
    std::vector<const Wav*> layers; ///< Layer elements naming it: their gains are their players'
};

struct Description {
    std::vector<DescribedFile> files; ///< in order of first mention
    std::map<std::string, size_t> positions;
    std::vector<Finding> findings;
};

std::string sampleElement(const Sample& sample, const std::string& where) {
    std::string text = fmt::format("Sample midi=\"{}\"", int(sample.midi));
    if (!sample.dynamic.empty()) {
        text += fmt::format(" dynamic=\"{}\"", sample.dynamic);
    }
    return text + " in " + (where.empty() ? "SamplesTree" : where);
}

unsigned samplesBelow(const Layer& layer) {
    unsigned count = static_cast<unsigned>(layer.samples.size());
    for (const Layer& child : layer.layers) {
        count += samplesBelow(child);
    }
    return count;
}

/// The voice attributes of `wav` that a player would clamp, ignore or play badly.
void checkShape(const Wav& wav, const std::string& subject, std::vector<Finding>& out) {
    if (!wav.shape) {
        return;
    }
    const ox::audio::VoiceShape& s = *wav.shape;
    std::vector<std::string> problems;
    if (s.pan && !(*s.pan >= -1.0f && *s.pan <= 1.0f)) {
        problems.push_back(fmt::format("pan {} is outside -1 to 1 (clamped)", *s.pan));
    }
    if (s.filtered() && !(s.cutoff >= 20.0f && s.cutoff <= 20000.0f)) {
        problems.push_back(fmt::format("cutoff {} Hz is outside 20 Hz to 20 kHz", s.cutoff));
    }
    if (!(s.resonance >= 0.0f && s.resonance <= ox::audio::VoiceShape::kMaxResonance)) {
        problems.push_back(fmt::format("resonance {} dB is outside 0 to {} dB (clamped)",
                                       s.resonance, ox::audio::VoiceShape::kMaxResonance));
    }
    const ox::audio::Envelope& e = s.modEnvelope;
    if (std::min({e.delay, e.attack, e.hold, e.decay, e.release}) < 0.0f) {
        problems.push_back("a modulation envelope time is negative");
    }
    if (!(e.sustain >= 0.0f && e.sustain <= 1.0f)) {
        problems.push_back(fmt::format("modSustain {} is outside 0 to 1", e.sustain));
    }
    for (const auto& [name, lfo] : {std::pair{"modLfo", s.modLfo}, {"vibLfo", s.vibratoLfo}}) {
        if (lfo.frequency < 0.0f || lfo.frequency > 100.0f) {
            problems.push_back(
                fmt::format("{}Freq {} Hz is outside 0 to 100 Hz", name, lfo.frequency));
        }
    }
    if (!problems.empty()) {
        out.push_back(finding(Severity::Warning, "voice", subject,
                              fmt::format("Wave \"{}\": {}", wav.file, listed(problems, 9)),
                              {{"problems", problems}}));
    }
}

/// Velocity ranges outside 1..127, reversed, negative groups, and alternates no strike plays.
void checkTrigger(const Trigger& trigger, const std::string& subject, std::vector<Finding>& out) {
    std::vector<std::string> problems;
    if (trigger.velLo < 1 || trigger.velLo > 127 || trigger.velHi < 1 || trigger.velHi > 127) {
        problems.push_back(fmt::format("velocities {} to {} reach outside 1 to 127", trigger.velLo,
                                       trigger.velHi));
    }
    if (trigger.velHi < trigger.velLo) {
        problems.push_back("velHi is below velLo: no velocity finds it");
    }
    if (trigger.chokeGroup < 0) {
        problems.push_back(
            fmt::format("chokeGroup {} is negative: it is in no group", trigger.chokeGroup));
    }
    if (trigger.seqLength > 1 &&
        (trigger.seqPosition < 1 || trigger.seqPosition > trigger.seqLength)) {
        problems.push_back(fmt::format("seqPosition {} lies outside 1 to {}: no strike plays it",
                                       trigger.seqPosition, trigger.seqLength));
    }
    // Written as negations so that a draw bound that is no number is caught too.
    if (!(trigger.randLo < trigger.randHi) || !(trigger.randLo < 1.0f) ||
        !(trigger.randHi > 0.0f)) {
        problems.push_back(fmt::format("random draws {} to {} hold no draw from 0 to 1",
                                       trigger.randLo, trigger.randHi));
    }
    if (!problems.empty()) {
        out.push_back(finding(Severity::Warning, "trigger", subject, listed(problems, 5),
                              {{"velLo", trigger.velLo},
                               {"velHi", trigger.velHi},
                               {"chokeGroup", trigger.chokeGroup},
                               {"seqLength", trigger.seqLength},
                               {"seqPosition", trigger.seqPosition},
                               {"randLo", trigger.randLo},
                               {"randHi", trigger.randHi}}));
    }
}

// Walks the description the way the parser files it: `node` is where the layer
// was filed, null when it was not (nothing below it is filed either). Layers
// nest no deeper than the reader's limit, which bounds the recursion.
void walk(const Layer& layer, const SampleTreeNode* node, int depth, const std::string& where,
          Kind kind, Description& out) {
    for (const Sample& sample : layer.samples) {
        if (sample.wavs.empty()) {
            out.findings.push_back(finding(Severity::Error, "empty-sample",
                                           sampleElement(sample, where),
                                           "has no Wave: a player of it plays silence"));
        }
        const std::string subject = sampleElement(sample, where);
        checkTrigger(sample.trigger, subject, out.findings);
        const auto add = [&](const Wav& wav, bool layer) {
            checkShape(wav, subject, out.findings);
            const auto [at, added] = out.positions.try_emplace(wav.file, out.files.size());
            if (added) {
                out.files.push_back(DescribedFile{wav.file, {}, {}});
            }
            (layer ? out.files[at->second].layers : out.files[at->second].waves).push_back(&wav);
        };
        for (const Wav& wav : sample.wavs) {
            add(wav, false);
        }
        // A layer's file is checked as a Wave's; its gain is its player's, not the file's.
        for (const SampleLayer& layer : sample.layers) {
            checkTrigger(layer.trigger, subject + ", its Layer \"" + layer.wave.file + "\"",
                         out.findings);
            add(layer.wave, true);
        }
    }
    if (depth == 0 && !layer.samples.empty()) {
        out.findings.push_back(finding(Severity::Warning, "unfiled-samples", "SamplesTree",
                                       fmt::format("its own {} are never filed: samples belong "
                                                   "in the Node of their variation",
                                                   plural(layer.samples.size(), "sample"))));
    }
    static const char* levels[] = {"attack", "technique", "variation"};
    for (const Layer& child : layer.layers) {
        const SampleTreeNode* filedAt =
            node && depth < 3 ? node->findNode({levelValue(kind, depth + 1, child.className)})
                              : nullptr;
        const unsigned lost = node && !filedAt ? samplesBelow(child) : 0;
        if (lost > 0) {
            const std::string never = fmt::format(
                "its {} never filed", plural(lost, "sample") + (lost == 1 ? " is" : " are"));
            out.findings.push_back(finding(Severity::Warning, "unfiled-samples",
                                           fmt::format("Node class=\"{}\" in {}", child.className,
                                                       where.empty() ? "SamplesTree" : where),
                                           depth < 3
                                               ? fmt::format("is no {} a {} bank's tree holds: {}",
                                                             levels[depth], kindName(kind), never)
                                               : "lies below the variation level: " + never,
                                           {{"samples", lost}}));
        }
        walk(child, filedAt, depth + 1,
             where.empty() ? child.className : where + "/" + child.className, kind, out);
    }
}

Description describe(const SoundFont& bank) {
    Description description;
    const SampleTree& tree = bank.sampleTree();
    walk(bank.layer(), tree.root(), 0, "", treeKind(tree), description);
    return description;
}

// --- The sample files --------------------------------------------------------

std::string decoderName(const std::string& file) {
    const std::string extension = ox::utils::filesystem::extension(file);
    return extension == "ogg" ? "Ogg Vorbis" : extension == "wav" ? "WAV" : "FLAC";
}

Finding openFailure(const std::string& samplesFolder, const std::string& subject,
                    const std::string& name) {
    if (samplesFolder.empty()) {
        return finding(Severity::Error, "missing-file", subject,
                       "missing: the bank has no entry of that name; it plays silence");
    }
    // The bank joins names as given, so the check does too; status() never
    // opens the file, so a FIFO cannot block it.
    std::error_code ec;
    const auto status = std::filesystem::status(samplesFolder + "/" + name, ec);
    if (!std::filesystem::exists(status)) {
        return finding(Severity::Error, "missing-file", subject, "missing: it plays silence");
    }
    return finding(Severity::Error, "unreadable-file", subject,
                   std::filesystem::is_regular_file(status)
                       ? "unreadable: it plays silence"
                       : "not a regular file (a folder, FIFO or device): it plays silence");
}

/// Decodes all of `audio`; returns its peak with the bank's and the wave's gain applied.
float decodeWhole(const ox::audio::AudioStream& audio) {
    constexpr int64_t kBlock = 65536;
    std::vector<float> block(size_t(kBlock) * size_t(audio.channels()));
    float peak = 0.0f;
    for (int64_t at = 0;;) {
        const int64_t got = audio.readFrames(at, block.data(), kBlock);
        if (got <= 0) {
            return peak;
        }
        for (int64_t i = 0; i < got * audio.channels(); ++i) {
            peak = std::max(peak, std::fabs(block[size_t(i)]));
        }
        at += got;
    }
}

void checkGains(const DescribedFile& file, const std::string& subject, std::vector<Finding>& out) {
    std::vector<float> gains;
    for (const Wav* wav : file.waves) {
        if (std::find(gains.begin(), gains.end(), wav->gain) == gains.end()) {
            gains.push_back(wav->gain);
        }
    }
    if (gains.size() < 2) {
        return;
    }
    std::vector<std::string> levels;
    for (float gain : gains) {
        levels.push_back(fmt::format("{:+.1f} dB", decibels(gain)));
    }
    out.push_back(finding(Severity::Warning, "conflicting-gains", subject,
                          fmt::format("named by {} Wave elements with different gains ({}); "
                                      "every player of it gets the first, {}",
                                      file.waves.size(), listed(levels, levels.size()), levels[0]),
                          {{"gains", levels}}));
}

void checkLoop(const ox::audio::IDecoder& decoder, const std::string& subject,
               std::vector<Finding>& out) {
    ox::audio::IDecoder::Loop loop;
    if (!decoder.declaredLoop(loop)) {
        return;
    }
    const int64_t frames = decoder.frameCount();
    const nlohmann::json details = {{"loop", {loop.start, loop.end}}, {"frames", frames}};
    if (loop.end <= loop.start) {
        out.push_back(finding(Severity::Warning, "loop", subject,
                              fmt::format("empty loop region (frames {} to {}): the sample does "
                                          "not loop",
                                          loop.start, loop.end),
                              details));
    } else if (loop.start < 0 || loop.end > frames) {
        out.push_back(finding(Severity::Warning, "loop", subject,
                              fmt::format("loop region, frames {} to {}, reaches outside the "
                                          "file's {} frames: the sample does not loop",
                                          loop.start, loop.end, frames),
                              details));
    }
}

/// The checks of one file; returns its sample rate, 0 when it does not decode.
int checkFile(const SoundFont& bank, const DescribedFile& file, const std::string& subject,
              const std::string& samplesFolder, const CheckOptions& options,
              std::vector<Finding>& out) {
    checkGains(file, subject, out);
    if (file.name.empty()) {
        out.push_back(finding(Severity::Error, "missing-file", "Wave without file",
                              "names no file: it plays silence"));
        return 0;
    }
    if (!bank.sample(file.name)) {
        out.push_back(openFailure(samplesFolder, subject, file.name));
        return 0;
    }
    std::shared_ptr<ox::audio::AudioStream> audio;
    try {
        audio = bank.audioStream(file.name);
    } catch (const std::exception& e) {
        out.push_back(finding(Severity::Error, "undecodable-file", subject, e.what()));
        return 0;
    }
    const std::shared_ptr<ox::audio::IDecoder> decoder = audio ? audio->decoder() : nullptr;
    if (!decoder) {
        out.push_back(finding(Severity::Error, "undecodable-file", subject,
                              fmt::format("not audio the {} decoder accepts (chosen by the "
                                          "extension): it plays silence",
                                          decoderName(file.name))));
        return 0;
    }
    if (audio->empty()) {
        out.push_back(finding(Severity::Error, "undecodable-file", subject,
                              "holds no audio frames: it plays silence"));
        return 0;
    }
    checkLoop(*decoder, subject, out);

    float level = 0.0f;
    for (const Wav* wav : file.waves) {
        level = std::max(level, wav->peak * decoder->gain());
    }
    if (options.decode) {
        const int64_t announced = decoder->frameCount();
        level = decodeWhole(*audio);
        if (audio->frameCount() < announced) {
            out.push_back(
                finding(Severity::Error, "truncated-file", subject,
                        fmt::format("ends early: {} of the {} frames its header announces decode",
                                    audio->frameCount(), announced),
                        {{"frames", audio->frameCount()}, {"announced", announced}}));
        }
    }
    if (level > 1.0f) {
        out.push_back(finding(
            Severity::Warning, "over-full-scale", subject,
            fmt::format("{} {:.3f} with the bank's and the wave's gain ({:.3f}): {:.1f} dB over "
                        "full scale",
                        options.decode ? "decodes to a peak of" : "its peak reaches", level,
                        decoder->gain(), decibels(level)),
            {{"level", level}, {"gain", decoder->gain()}}));
    }
    return audio->sampleRate();
}

void checkRates(const std::map<int, std::vector<std::string>>& rates, std::vector<Finding>& out) {
    if (rates.size() < 2) {
        return;
    }
    const auto common =
        std::max_element(rates.begin(), rates.end(), [](const auto& a, const auto& b) {
            return a.second.size() < b.second.size();
        });
    for (const auto& [rate, files] : rates) {
        if (rate == common->first) {
            continue;
        }
        out.push_back(finding(Severity::Warning, "sample-rate",
                              fmt::format("{} at {} Hz", plural(files.size(), "file"), rate),
                              fmt::format("where {} play at {} Hz: {}", common->second.size(),
                                          common->first, listed(files)),
                              {{"rate", rate}, {"files", files}, {"commonRate", common->first}}));
    }
}

// --- Samples the search never finds ------------------------------------------

/// A search at a sample's own coordinate finds another sample at distance 0
/// when both have the same pitch and dynamic and, if both have a string and a
/// fret, the same fret (options do not count). The first such sample of a node
/// always wins over the later ones.
class FirstAtCoordinate {
public:
    explicit FirstAtCoordinate(const SampleTreeNode& node) {
        const auto& samples = node.samples();
        for (size_t i = 0; i < samples.size(); ++i) {
            const SampleTreeNodeSample& s = *samples[i];
            m_any.try_emplace({s[SampleCoordinate::Midi], s[SampleCoordinate::Dynamic]}, i);
            if (placed(s)) {
                m_placed.try_emplace({s[SampleCoordinate::Midi], s[SampleCoordinate::Dynamic],
                                      s[SampleCoordinate::Fret]},
                                     i);
            } else {
                m_unplaced.try_emplace({s[SampleCoordinate::Midi], s[SampleCoordinate::Dynamic]},
                                       i);
            }
        }
    }

    /// The position of the first sample that ties with `sample` at its own
    /// coordinate; SIZE_MAX when none does.
    size_t first(const SampleCoordinate& sample) const {
        if (!placed(sample)) {
            return find(m_any, {sample[SampleCoordinate::Midi], sample[SampleCoordinate::Dynamic]});
        }
        return std::min(
            find(m_unplaced, {sample[SampleCoordinate::Midi], sample[SampleCoordinate::Dynamic]}),
            find(m_placed, {sample[SampleCoordinate::Midi], sample[SampleCoordinate::Dynamic],
                            sample[SampleCoordinate::Fret]}));
    }

private:
    std::map<std::tuple<int, int>, size_t> m_any, m_unplaced;
    std::map<std::tuple<int, int, int>, size_t> m_placed;

    static bool placed(const SampleCoordinate& s) {
        return s[SampleCoordinate::String] >= 0 && s[SampleCoordinate::Fret] >= 0;
    }

    template <class Map> static size_t find(const Map& map, const typename Map::key_type& key) {
        const auto found = map.find(key);
        return found == map.end() ? SIZE_MAX : found->second;
    }
};

std::string sampleSubject(Kind kind, const SampleTreeNodeSample& sample) {
    return fmt::format("Sample midi {} dynamic {} in {} ({})", sample[SampleCoordinate::Midi],
                       dynamicName(sample[SampleCoordinate::Dynamic]),
                       articulationName(kind, sample), filesText(sample));
}

void checkReachable(const SoundFont& bank, std::vector<Finding>& out) {
    SampleTree& tree = bank.sampleTree();
    if (!tree.root()) {
        return;
    }
    const Kind kind = treeKind(tree);
    std::map<const SampleTreeNode*, FirstAtCoordinate> firsts;
    const auto firstOf = [&](const SampleTreeNode* node) -> const FirstAtCoordinate& {
        return firsts.try_emplace(node, *node).first->second;
    };
    // The nodes that answer a search for one articulation, in path order; each
    // is the same for every coordinate of that articulation.
    std::map<std::tuple<int, int, int>, std::vector<const SampleTreeNode*>> answering;
    const auto answersFor = [&](const SampleTreeNodeSample& sample) -> const auto& {
        const auto key = std::tuple(sample.attack(), sample.technique(), sample.variation());
        auto [at, added] = answering.try_emplace(key);
        if (added) {
            for (const std::vector<int>& path : searchedPaths(sample)) {
                const SampleTreeNodeSample* found = tree.root()->findSample(sample, path);
                at->second.push_back(found ? holderOf(*tree.root(), found) : nullptr);
            }
        }
        return at->second;
    };

    std::vector<const SampleTreeNode*> nodes{tree.root()};
    for (size_t n = 0; n < nodes.size(); ++n) {
        for (const auto& child : nodes[n]->children()) {
            nodes.push_back(child.get());
        }
    }
    for (const SampleTreeNode* node : nodes) {
        const auto& samples = node->samples();
        for (size_t i = 0; i < samples.size(); ++i) {
            const SampleTreeNodeSample& sample = *samples[i];
            const auto& answers = answersFor(sample);
            const auto own = std::find(answers.begin(), answers.end(), node);
            if (own == answers.end()) {
                std::vector<std::string> names;
                for (const SampleTreeNode* answer : answers) {
                    if (std::find(names.begin(), names.end(), nodeName(kind, answer)) ==
                        names.end()) {
                        names.push_back(nodeName(kind, answer));
                    }
                }
                out.push_back(finding(
                    Severity::Warning, "unreachable-sample", sampleSubject(kind, sample),
                    fmt::format("never found: a search for {} answers from {}",
                                articulationName(kind, sample), listed(names, names.size()))));
                continue;
            }
            // An earlier path's node, or an earlier sample of this one, wins the tie.
            const SampleTreeNodeSample* winner = nullptr;
            for (auto answer = answers.begin(); answer != own && !winner; ++answer) {
                if (*answer) {
                    const size_t at = firstOf(*answer).first(sample);
                    winner = at == SIZE_MAX ? nullptr : (*answer)->samples()[at].get();
                }
            }
            if (const size_t at = firstOf(node).first(sample); !winner && at < i) {
                winner = samples[at].get();
            }
            if (winner && sample.distance(*winner) == 0.0f) {
                out.push_back(finding(Severity::Warning, "unreachable-sample",
                                      sampleSubject(kind, sample),
                                      fmt::format("never found: {} at the same coordinate comes "
                                                  "first",
                                                  sampleSubject(kind, *winner)),
                                      {{"winner", filesText(*winner)}}));
            }
        }
    }
}

// --- What pitch alone plays --------------------------------------------------

/// "every dynamic", "PP-MF, FF"
std::string dynamicsText(uint32_t mask) {
    if (mask == (1u << kDynamicCount) - 1) {
        return "every dynamic";
    }
    std::string text;
    for (int d = 0; d < kDynamicCount; ++d) {
        if (!(mask >> d & 1u)) {
            continue;
        }
        int last = d;
        while (last + 1 < kDynamicCount && (mask >> (last + 1) & 1u)) {
            ++last;
        }
        text += (text.empty() ? "" : ", ") + dynamicName(d) +
                (last > d ? "-" + dynamicName(last) : std::string());
        d = last;
    }
    return text;
}

nlohmann::json dynamicsJson(uint32_t mask) {
    nlohmann::json names = nlohmann::json::array();
    for (int d = 0; d < kDynamicCount; ++d) {
        if (mask >> d & 1u) {
            names.push_back(dynamicName(d));
        }
    }
    return names;
}

/// The dynamics at which `note` is served badly: transposed too far (pitched),
/// or by another piece (unpitched).
uint32_t badDynamics(const Coverage& coverage, int note, int maxTranspose) {
    uint32_t mask = 0;
    for (int d = 0; d < kDynamicCount; ++d) {
        const CoverageCell& cell = coverage.cells[size_t(note)][size_t(d)];
        const bool bad = coverage.kind == Kind::Pitched
                             ? std::abs(cell.transposition) > maxTranspose
                             : cell.transposition != 0;
        if (cell.sample && bad) {
            mask |= 1u << d;
        }
    }
    return mask;
}

std::string notesText(int first, int last) {
    return first == last
               ? fmt::format("note {} ({})", pitchName(first), first)
               : fmt::format("notes {}-{} ({}-{})", pitchName(first), pitchName(last), first, last);
}

std::string transpositionText(int low, int high) {
    return low == high ? fmt::format("{:+d}", low) : fmt::format("{:+d} to {:+d}", low, high);
}

// Pitched: runs of neighbouring notes that are transposed too far at the same
// dynamics make one finding, so a whole keyboard reads in a few lines.
void checkPitchedCoverage(const Coverage& coverage, int maxTranspose, std::vector<Finding>& out) {
    for (int note = 0; note < kMidiNotes; ++note) {
        const uint32_t mask =
            coverage.checked[size_t(note)] ? badDynamics(coverage, note, maxTranspose) : 0;
        if (!mask) {
            continue;
        }
        int last = note;
        while (last + 1 < kMidiNotes && coverage.checked[size_t(last + 1)] &&
               badDynamics(coverage, last + 1, maxTranspose) == mask) {
            ++last;
        }
        int low = INT32_MAX, high = INT32_MIN;
        std::vector<std::string> files;
        for (int n = note; n <= last; ++n) {
            for (int d = 0; d < kDynamicCount; ++d) {
                const CoverageCell& cell = coverage.cells[size_t(n)][size_t(d)];
                if (!(mask >> d & 1u)) {
                    continue;
                }
                low = std::min(low, cell.transposition);
                high = std::max(high, cell.transposition);
                const std::string file = filesText(*cell.sample);
                if (std::find(files.begin(), files.end(), file) == files.end()) {
                    files.push_back(file);
                }
            }
        }
        out.push_back(
            finding(Severity::Warning, "coverage", notesText(note, last),
                    fmt::format("asked for by pitch alone at {}, plays {} transposed {} semitones",
                                dynamicsText(mask), listed(files), transpositionText(low, high)),
                    {{"notes", {note, last}},
                     {"dynamics", dynamicsJson(mask)},
                     {"transposition", {low, high}},
                     {"files", files}}));
        note = last;
    }
}

// Unpitched: a piece whose own note is answered by another piece.
void checkPieces(const Coverage& coverage, std::vector<Finding>& out) {
    for (int note = 0; note < kMidiNotes; ++note) {
        const uint32_t mask = coverage.checked[size_t(note)] ? badDynamics(coverage, note, 0) : 0;
        if (!mask) {
            continue;
        }
        std::vector<std::string> others;
        for (int d = 0; d < kDynamicCount; ++d) {
            const SampleTreeNodeSample* sample = coverage.cells[size_t(note)][size_t(d)].sample;
            if (!(mask >> d & 1u)) {
                continue;
            }
            const std::string other = fmt::format("note {} ({})", (*sample)[SampleCoordinate::Midi],
                                                  sampleLabel(Kind::Unpitched, *sample));
            if (std::find(others.begin(), others.end(), other) == others.end()) {
                others.push_back(other);
            }
        }
        const SampleTreeNodeSample* piece = coverage.piece(note);
        out.push_back(finding(
            Severity::Warning, "coverage",
            fmt::format("piece at note {} ({})", note,
                        piece ? sampleLabel(Kind::Unpitched, *piece) : pitchName(note)),
            fmt::format("asked for by pitch alone at {}, plays {} instead", dynamicsText(mask),
                        listed(others)),
            {{"notes", {note, note}}, {"dynamics", dynamicsJson(mask)}, {"playedBy", others}}));
    }
}

} // namespace

std::vector<std::string> describedFiles(const SoundFont& bank) {
    std::vector<std::string> names;
    for (const DescribedFile& file : describe(bank).files) {
        names.push_back(file.name);
    }
    return names;
}

std::vector<Finding> checkBank(const SoundFont& bank, const std::string& samplesFolder,
                               const CheckOptions& options) {
    Description description = describe(bank);
    std::vector<Finding> out = std::move(description.findings);
    std::map<int, std::vector<std::string>> rates;
    for (const DescribedFile& file : description.files) {
        const std::string subject = samplesFolder.empty() ? file.name : "Samples/" + file.name;
        if (const int rate = checkFile(bank, file, subject, samplesFolder, options, out)) {
            rates[rate].push_back(subject);
        }
    }
    checkRates(rates, out);
    checkReachable(bank, out);
    const Coverage coverage = coverageOf(bank);
    if (!coverage.node) {
        out.push_back(finding(Severity::Error, "no-samples", "SamplesTree",
                              "no sample is filed in the tree: every note plays silence"));
    } else if (coverage.kind == Kind::Pitched) {
        checkPitchedCoverage(coverage, options.maxTranspose, out);
    } else {
        checkPieces(coverage, out);
    }
    return out;
}

} // namespace oxsf
