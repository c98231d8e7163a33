#include "Sfz.h"

#include "AudioFiles.h"
#include "Text.h"

#include <ox/import/Import.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace ox::import {

namespace {

constexpr int kMaxIncludeDepth = 8;
// Includes may repeat at every depth, and defines may expand into each other:
// both grow exponentially, so the text read in all and a line's expansion are capped.
constexpr size_t kMaxTotalText = size_t(32) << 20;
constexpr int kMaxIncludes = 4096;
constexpr size_t kMaxLineText = size_t(1) << 20;

using Opcodes = std::map<std::string, std::string>;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

bool isNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$';
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

/// True when an opcode ("name=") starts at `at`.
bool opcodeAt(std::string_view line, size_t at) {
    size_t end = at;
    while (end < line.size() && isNameChar(line[end])) {
        ++end;
    }
    return end > at && end < line.size() && line[end] == '=';
}

class Parser {
public:
    explicit Parser(const SfzInclude& include) : m_include(include) {}

    void parse(std::string_view text, int depth) {
        std::string plain(text);
        // Block comments may span lines; blank them out, keeping the line breaks.
        for (size_t at = plain.find("/*"); at != std::string::npos; at = plain.find("/*", at)) {
            const size_t end = plain.find("*/", at + 2);
            const size_t stop = end == std::string::npos ? plain.size() : end + 2;
            for (size_t i = at; i < stop; ++i) {
                if (plain[i] != '\n') {
                    plain[i] = ' ';
                }
            }
            at = stop;
        }
        std::istringstream lines(plain);
        std::string line;
        for (int number = 1; std::getline(lines, line); ++number) {
            m_line = number;
            const size_t comment = line.find("//");
            const std::string_view code = trim(std::string_view(line).substr(
                0, comment == std::string::npos ? line.size() : comment));
            if (code.rfind("#define", 0) == 0) {
                define(code.substr(7));
            } else if (code.rfind("#include", 0) == 0) {
                includeFile(substitute(std::string(code.substr(8))), depth);
            } else {
                tokens(substitute(std::string(code)));
            }
        }
    }

    SfzDocument finish() {
        finishRegion();
        return std::move(m_document);
    }

private:
    enum class Level { None, Control, Global, Master, Group, Region, Other };

    void define(std::string_view rest) {
        rest = trim(rest);
        size_t end = 0;
        while (end < rest.size() && !isBlank(rest[end])) {
            ++end;
        }
        const std::string name(rest.substr(0, end));
        if (name.size() < 2 || name[0] != '$') {
            m_document.ignored["malformed #define"]++;
            return;
        }
        const std::string value(trim(rest.substr(end)));
        auto found = std::find_if(m_defines.begin(), m_defines.end(),
                                  [&](const auto& entry) { return entry.first == name; });
        if (found != m_defines.end()) {
            found->second = value;
        } else {
            m_defines.emplace_back(name, value);
        }
        // Longest names first, so that $NOTE does not eat the start of $NOTES.
        std::stable_sort(m_defines.begin(), m_defines.end(), [](const auto& a, const auto& b) {
            return a.first.size() > b.first.size();
        });
    }

    std::string substitute(std::string text) {
        if (text.find('$') == std::string::npos) {
            return text;
        }
        for (const auto& [name, value] : m_defines) {
            // Rebuilt in one pass: replacing in place would move the tail once per use.
            std::string out;
            size_t from = 0;
            for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, from)) {
                out.append(text, from, at - from).append(value);
                from = at + name.size();
                if (out.size() > kMaxLineText) {
                    m_document.ignored["line past 1 MB once #define values are put in"]++;
                    return {};
                }
            }
            if (from > 0) {
                out.append(text, from);
                text.swap(out);
            }
        }
        return text;
    }

    void includeFile(const std::string& rest, int depth) {
        const size_t open = rest.find('"');
        const size_t close = open == std::string::npos ? open : rest.find('"', open + 1);
        if (close == std::string::npos) {
            m_document.ignored["malformed #include"]++;
            return;
        }
        const std::string name = rest.substr(open + 1, close - open - 1);
        if (depth >= kMaxIncludeDepth) {
            m_document.ignored["#include nested too deeply"]++;
            return;
        }
        const auto text = m_include ? m_include(name) : std::nullopt;
        if (!text) {
            m_document.ignored["#include \"" + name + "\" (not found)"]++;
            return;
        }
        if (m_includes == kMaxIncludes) {
            m_document.ignored["#include past 4096 files in all"]++;
            return;
        }
        if (text->size() > kMaxTotalText - m_textRead) {
            m_document.ignored["#include past 32 MB of text in all"]++;
            return;
        }
        ++m_includes;
        m_textRead += text->size();
        const int line = m_line;
        parse(*text, depth + 1);
        m_line = line;
    }

    void tokens(std::string_view line) {
        size_t at = 0;
        while (at < line.size()) {
            if (isBlank(line[at])) {
                ++at;
            } else if (line[at] == '<') {
                const size_t close = line.find('>', at);
                if (close == std::string_view::npos) {
                    m_document.ignored["unclosed header"]++;
                    return;
                }
                header(std::string(line.substr(at + 1, close - at - 1)));
                at = close + 1;
            } else if (opcodeAt(line, at)) {
                const size_t equals = line.find('=', at);
                // A value runs to the next header or opcode, so that it may hold blanks.
                size_t end = equals + 1;
                while (end < line.size() && line[end] != '<') {
                    if (isBlank(line[end])) {
                        size_t next = end;
                        while (next < line.size() && isBlank(line[next])) {
                            ++next;
                        }
                        if (next == line.size() || opcodeAt(line, next)) {
                            break;
                        }
                        end = next;
                    } else {
                        ++end;
                    }
                }
                opcode(std::string(line.substr(at, equals - at)),
                       std::string(trim(line.substr(equals + 1, end - equals - 1))));
                at = end;
            } else {
                size_t end = at;
                while (end < line.size() && !isBlank(line[end])) {
                    ++end;
                }
                m_document.ignored["text that is no opcode"]++;
                at = end;
            }
        }
    }

    void header(const std::string& name) {
        finishRegion();
        if (name == "control") {
            m_level = Level::Control;
            m_control.clear();
        } else if (name == "global") {
            m_level = Level::Global;
            m_global.clear();
            m_master.clear();
            m_group.clear();
        } else if (name == "master") {
            m_level = Level::Master;
            m_master.clear();
            m_group.clear();
        } else if (name == "group") {
            m_level = Level::Group;
            m_group.clear();
        } else if (name == "region") {
            m_level = Level::Region;
            m_region = SfzRegion{};
            m_region->line = m_line;
            for (const Opcodes* level : {&m_control, &m_global, &m_master, &m_group}) {
                for (const auto& [key, value] : *level) {
                    m_region->opcodes[key] = value;
                }
            }
        } else {
            m_level = Level::Other;
            m_document.ignored["header <" + name + ">"]++;
        }
    }

    void opcode(const std::string& name, const std::string& value) {
        switch (m_level) {
        case Level::Control:
            m_control[name] = value;
            break;
        case Level::Global:
            m_global[name] = value;
            break;
        case Level::Master:
            m_master[name] = value;
            break;
        case Level::Group:
            m_group[name] = value;
            break;
        case Level::Region:
            m_region->opcodes[name] = value;
            break;
        case Level::None:
            m_document.ignored["opcodes before the first header"]++;
            break;
        case Level::Other:
            break;
        }
    }

    void finishRegion() {
        if (m_region) {
            m_document.regions.push_back(std::move(*m_region));
        }
        m_region.reset();
    }

    const SfzInclude& m_include;
    SfzDocument m_document;
    std::vector<std::pair<std::string, std::string>> m_defines;
    Level m_level = Level::None;
    Opcodes m_control, m_global, m_master, m_group;
    std::optional<SfzRegion> m_region;
    int m_line = 0;
    size_t m_textRead = 0;
    int m_includes = 0;
};

/// The voice attributes of a region: pan, the low-pass and its envelope and
/// oscillator, the tremolo and the vibrato; what has no place is dropped.
template <class Reader>
std::vector<std::pair<std::string, double>> voiceOf(Reader& opcodes, BankPlan& plan) {
    std::vector<std::pair<std::string, double>> out;
    const auto add = [&](const char* name, std::optional<double> value) {
        if (value) {
            out.emplace_back(name, *value);
        }
    };
    if (const auto pan = opcodes.number("pan"); pan && *pan != 0) {
        add("pan", std::clamp(*pan, -100.0, 100.0) / 100.0);
    }
    const std::string* type = opcodes.text("fil_type", "filtype");
    const auto cutoff = opcodes.number("cutoff");
    const bool lowPass = !type || *type == "lpf_2p" || *type == "lpf_1p";
    if (cutoff && !lowPass) {
        plan.drop("fil_type=" + *type);
    }
    if (cutoff && lowPass) {
        if (type && *type == "lpf_1p") {
            plan.drop("one-pole filters (played with two poles)");
        }
        // The cutoff reached at velocity 127; below, it falls by the track.
        const double track = opcodes.number("fil_veltrack").value_or(0);
        add("cutoff", *cutoff * std::pow(2.0, track / 1200.0));
        add("resonance", opcodes.number("resonance"));
        if (track != 0) {
            add("velToCutoff", -track);
        }
        if (const auto depth = opcodes.number("fileg_depth"); depth && *depth != 0) {
            add("modDelay", opcodes.number("fileg_delay"));
            add("modAttack", opcodes.number("fileg_attack"));
            add("modHold", opcodes.number("fileg_hold"));
            add("modDecay", opcodes.number("fileg_decay"));
            if (const auto sustain = opcodes.number("fileg_sustain")) {
                add("modSustain", std::clamp(*sustain, 0.0, 100.0) / 100.0);
            }
            add("modRelease", opcodes.number("fileg_release"));
            add("modEnvToCutoff", depth);
        }
    }
    // One modulation oscillator: the tremolo's, or the filter's when there is no tremolo.
    const auto ampFreq = opcodes.number("amplfo_freq");
    const auto ampDepth = opcodes.number("amplfo_depth");
    const auto filFreq = opcodes.number("fillfo_freq");
    const auto filDepth = opcodes.number("fillfo_depth");
    const auto ampDelay = opcodes.number("amplfo_delay");
    const auto filDelay = opcodes.number("fillfo_delay");
    const bool tremolo = ampFreq && ampDepth && *ampDepth != 0;
    const bool sweep = cutoff && lowPass && filFreq && filDepth && *filDepth != 0;
    if (tremolo || sweep) {
        add("modLfoDelay", tremolo ? ampDelay : filDelay);
        add("modLfoFreq", tremolo ? ampFreq : filFreq);
        if (tremolo) {
            add("modLfoToVolume", ampDepth);
        }
        if (sweep && (!tremolo || (*filFreq == *ampFreq && filDelay == ampDelay))) {
            add("modLfoToCutoff", filDepth);
        } else if (sweep) {
            plan.drop("a filter LFO apart from the amplitude LFO");
        }
    }
    if (const auto depth = opcodes.number("pitchlfo_depth"); depth && *depth != 0) {
        if (const auto freq = opcodes.number("pitchlfo_freq")) {
            add("vibLfoDelay", opcodes.number("pitchlfo_delay"));
            add("vibLfoFreq", freq);
            add("vibLfoToPitch", depth);
        }
    }
    return out;
}

/// A path as an SFZ writes it (either slash), relative to `dir`.
fs::path resolve(const fs::path& dir, std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    const fs::path path(name);
    return path.is_absolute() ? path : dir / path;
}

/// The opcodes of a region, read with their aliases and defaults.
class RegionReader {
public:
    explicit RegionReader(const Opcodes& opcodes) : m_opcodes(opcodes) {}

    const std::string* text(const char* name, const char* alias = nullptr) {
        m_used.insert(name);
        auto found = m_opcodes.find(name);
        if (found == m_opcodes.end() && alias) {
            m_used.insert(alias);
            found = m_opcodes.find(alias);
        }
        return found == m_opcodes.end() ? nullptr : &found->second;
    }
    std::optional<double> number(const char* name, const char* alias = nullptr) {
        const std::string* value = text(name, alias);
        if (!value) {
            return std::nullopt;
        }
        char* end = nullptr;
        const double parsed = std::strtod(value->c_str(), &end);
        if (end == value->c_str() || !std::isfinite(parsed)) {
            return std::nullopt;
        }
        return parsed;
    }
    std::optional<int> key(const char* name) {
        const std::string* value = text(name);
        return value ? sfzKey(*value) : std::nullopt;
    }
    /// The opcodes of the region that nothing asked for.
    std::vector<std::string> unused() const {
        std::vector<std::string> names;
        for (const auto& [name, value] : m_opcodes) {
            if (!m_used.count(name)) {
                names.push_back(name);
            }
        }
        return names;
    }

private:
    const Opcodes& m_opcodes;
    std::set<std::string> m_used;
};

struct Slice {
    int64_t start = 0, end = 0;           ///< frames of the file, [start, end)
    int64_t loopStart = -1, loopEnd = -1; ///< in the file's frames
};

/// Converts one region into a zone of `plan`, or records why it plays
/// nothing the bank can hold.
void addRegion(const SfzRegion& region, const fs::path& dir, const std::string& path,
               BankPlan& plan) {
    RegionReader opcodes(region.opcodes);
    const std::string where = "line " + std::to_string(region.line);
    const std::string* trigger = opcodes.text("trigger");
    if (trigger && *trigger != "attack") {
        plan.drop("regions played on trigger=" + *trigger);
        return;
    }
    const std::string* sample = opcodes.text("sample");
    if (!sample || sample->empty()) {
        plan.drop("regions without a sample");
        return;
    }
    if ((*sample)[0] == '*') {
        plan.drop("generated sample " + *sample);
        return;
    }
    const std::string* base = opcodes.text("default_path");
    const fs::path file = resolve(dir, (base ? *base : std::string()) + *sample);
    SoundFileInfo info;
    try {
        info = probeSoundFile(file.string());
    } catch (const ImportError& e) {
        throw ImportError(path, where + ": " + e.what());
    }

    Zone zone;
    const std::optional<int> key = opcodes.key("key");
    zone.keyLo = opcodes.key("lokey").value_or(key.value_or(0));
    zone.keyHi = opcodes.key("hikey").value_or(key.value_or(127));
    const std::string* center = opcodes.text("pitch_keycenter");
    zone.root = center && *center == "sample"
                    ? (info.rootKey >= 0 ? info.rootKey : 60)
                    : opcodes.key("pitch_keycenter").value_or(key.value_or(60));
    zone.velLo = int(opcodes.number("lovel").value_or(0));
    zone.velHi = int(opcodes.number("hivel").value_or(127));
    zone.keyLo = std::clamp(zone.keyLo, 0, 127);
    zone.keyHi = std::clamp(zone.keyHi, 0, 127);
    zone.velLo = std::clamp(zone.velLo, 1, 127);
    zone.velHi = std::clamp(zone.velHi, 0, 127);
    if (zone.keyLo > zone.keyHi || zone.velLo > zone.velHi) {
        plan.drop("regions no key or velocity plays");
        return;
    }
    if (zone.root < 0 || zone.root > 127) {
        plan.warnings.push_back(where + ": pitch_keycenter out of range; 60 used");
        zone.root = 60;
    }
    zone.cents = opcodes.number("tune").value_or(0) + 100 * opcodes.number("transpose").value_or(0);
    zone.keyTrack = opcodes.number("pitch_keytrack").value_or(100);
    zone.gainDb = opcodes.number("volume").value_or(0);
    // Alternates: successive strikes of a key take them in turn, or by a draw.
    zone.turn.seqLength = std::max(1, int(opcodes.number("seq_length").value_or(1)));
    zone.turn.seqPosition = int(opcodes.number("seq_position").value_or(1));
    zone.turn.randLo = std::clamp(opcodes.number("lorand").value_or(0), 0.0, 1.0);
    zone.turn.randHi = std::clamp(opcodes.number("hirand").value_or(1), 0.0, 1.0);
    if (zone.turn.seqPosition < 1 || zone.turn.seqPosition > zone.turn.seqLength ||
        zone.turn.randLo >= zone.turn.randHi) {
        plan.drop("alternates no strike plays (seq_position, lorand, hirand)");
        return;
    }
    Envelope& envelope = zone.envelope;
    envelope.delay = opcodes.number("ampeg_delay");
    envelope.attack = opcodes.number("ampeg_attack");
    envelope.hold = opcodes.number("ampeg_hold");
    envelope.decay = opcodes.number("ampeg_decay");
    envelope.release = opcodes.number("ampeg_release");
    if (const auto percent = opcodes.number("ampeg_sustain")) {
        envelope.sustain =
            *percent <= 0 ? -100.0 : 20.0 * std::log10(std::min(*percent, 100.0) / 100.0);
    }

    // Sample and loop ends are inclusive in SFZ; ours are not.
    Slice slice;
    slice.start = std::max<int64_t>(0, int64_t(opcodes.number("offset").value_or(0)));
    const auto last = opcodes.number("end");
    slice.end = last ? std::min<int64_t>(info.frames, int64_t(*last) + 1) : info.frames;
    if (slice.start >= slice.end) {
        plan.warnings.push_back(where + ": offset and end leave no frame to play; region skipped");
        return;
    }
    const std::string* modeText = opcodes.text("loop_mode", "loopmode");
    const std::string mode = modeText              ? *modeText
                             : info.loopStart >= 0 ? "loop_continuous"
                                                   : "no_loop";
    const auto loopStart = opcodes.number("loop_start", "loopstart");
    const auto loopEnd = opcodes.number("loop_end", "loopend");
    if (mode == "loop_continuous" || mode == "loop_sustain") {
        slice.loopStart = loopStart ? int64_t(*loopStart) : std::max<int64_t>(info.loopStart, 0);
        slice.loopEnd = loopEnd             ? int64_t(*loopEnd) + 1
                        : info.loopEnd >= 0 ? info.loopEnd
                                            : slice.end;
        if (slice.loopStart < slice.start || slice.loopEnd > slice.end ||
            slice.loopStart >= slice.loopEnd) {
            plan.warnings.push_back(where +
                                    ": loop outside the frames played; imported without loop");
            slice.loopStart = slice.loopEnd = -1;
        }
        zone.loopRelease = mode == "loop_continuous" && slice.loopStart >= 0;
    } else if (mode != "no_loop" && mode != "one_shot") {
        plan.drop("loop_mode=" + mode);
    }

    zone.voice = voiceOf(opcodes, plan);
    // A group that cuts itself is a choke group; cutting another group is not held.
    const auto group = opcodes.number("group");
    const auto offBy = opcodes.number("off_by");
    if (group && offBy && *group == *offBy && *group > 0) {
        zone.chokeGroup = int(*group);
    } else if (offBy) {
        plan.drop("off_by naming another group");
    }

    for (const std::string& name : opcodes.unused()) {
        plan.drop("opcode " + name);
    }

    zone.audio = plan.addAudio(
        fileSource(file.string(), slice.start, slice.end, slice.loopStart, slice.loopEnd));
    plan.zones.push_back(zone);
}

} // namespace

SfzDocument parseSfz(std::string_view text, const SfzInclude& include) {
    Parser parser(include);
    parser.parse(text, 0);
    return parser.finish();
}

std::optional<int> sfzKey(const std::string& value) {
    const std::string_view text = trim(value);
    if (text.empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    const std::string owned(text);
    const long number = std::strtol(owned.c_str(), &end, 10);
    if (end != owned.c_str() && *end == '\0') {
        return int(std::clamp(number, -1000L, 1000L));
    }
    static const int semitones[] = {9, 11, 0, 2, 4, 5, 7}; // a to g
    const char letter = char(std::tolower(static_cast<unsigned char>(text[0])));
    if (letter < 'a' || letter > 'g') {
        return std::nullopt;
    }
    int key = semitones[letter - 'a'];
    size_t at = 1;
    if (at < text.size() && (text[at] == '#' || text[at] == 'b')) {
        key += text[at] == '#' ? 1 : -1;
        ++at;
    }
    const std::string octave(text.substr(at));
    const long octaveNumber = std::strtol(octave.c_str(), &end, 10);
    if (octave.empty() || *end != '\0') {
        return std::nullopt;
    }
    return int(std::clamp(octaveNumber, -10L, 20L) + 1) * 12 + key;
}

BankPlan planSfz(const std::string& path, bool drums) {
    const std::string text = readText(path);
    const fs::path dir = fs::path(path).parent_path();
    const SfzInclude include = [&](const std::string& name) -> std::optional<std::string> {
        const fs::path file = resolve(dir, name);
        std::error_code error;
        if (!fs::is_regular_file(file, error)) {
            throw ImportError(path, "#include \"" + name + "\": no such file");
        }
        return readText(file.string());
    };
    const SfzDocument document = parseSfz(text, include);

    BankPlan plan;
    plan.name = fs::path(path).stem().string();
    plan.unpitched = drums;
    plan.zoneWord = "region";
    for (const auto& [what, count] : document.ignored) {
        plan.drop(what, count);
    }
    for (const SfzRegion& region : document.regions) {
        addRegion(region, dir, path, plan);
    }
    return plan;
}

} // namespace ox::import
