#include "Sf2.h"

#include "Sf2Check.h"
#include "Sf3.h"

#include <ox/import/Import.h>

#include <libinstpatch/libinstpatch.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <optional>

namespace ox::import {

namespace {

// libinstpatch reports the quirks of many real soundfonts through GLib's log;
// an import says what matters in its own report instead. The handlers stay
// only while a soundfont is open.
void dropMessage(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

class QuietLog {
public:
    QuietLog() {
        const auto levels = GLogLevelFlags(G_LOG_LEVEL_MASK | G_LOG_FLAG_RECURSION);
        for (const char* domain : kDomains) {
            m_handlers.push_back(g_log_set_handler(domain, levels, dropMessage, nullptr));
        }
    }
    ~QuietLog() {
        for (size_t i = 0; i < m_handlers.size(); ++i) {
            g_log_remove_handler(kDomains[i], m_handlers[i]);
        }
    }
    QuietLog(const QuietLog&) = delete;
    QuietLog& operator=(const QuietLog&) = delete;

private:
    // libinstpatch logs without a domain of its own.
    static constexpr const char* kDomains[] = {nullptr, "libInstPatch", "GLib-GObject", "GLib"};
    std::vector<guint> m_handlers;
};

void initialiseLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { ipatch_init(); });
}

/// A name from the file: SF2 names are ASCII; anything else (control bytes,
/// another encoding) becomes '?', so that reports and descriptions stay text.
std::string trimmed(const char* text) {
    std::string out = text ? text : "";
    for (char& c : out) {
        if (c < ' ' || c > '~') {
            c = '?';
        }
    }
    const size_t first = out.find_first_not_of(' ');
    const size_t last = out.find_last_not_of(' ');
    return first == std::string::npos ? std::string() : out.substr(first, last - first + 1);
}

/// The generators of one voice: an instrument zone (values, or its
/// instrument's global zone's, or the defaults) plus a preset zone's offsets.
class Voice {
public:
    Voice(const IpatchSF2GenArray& izone, const IpatchSF2GenArray& iglobal,
          const IpatchSF2GenArray& pzone, const IpatchSF2GenArray& pglobal)
        : m_izone(izone), m_iglobal(iglobal), m_pzone(pzone), m_pglobal(pglobal) {}

    /// Generators only an instrument may set (sample offsets, root key, modes).
    int instrument(int gen) const { return amount(m_izone, m_iglobal, gen, false).sword; }
    /// Instrument value plus preset offset (where a preset may set one),
    /// clamped to the generator's range.
    int value(int gen) const {
        int total = instrument(gen);
        if (ipatch_sf2_gen_is_valid(guint(gen), IPATCH_SF2_GEN_PROPS_PRESET)) {
            total += amount(m_pzone, m_pglobal, gen, true).sword;
        }
        ipatch_sf2_gen_clamp(gen, &total, FALSE);
        return total;
    }
    /// A key or velocity range: the instrument's within the preset's.
    std::pair<int, int> range(int gen) const {
        const auto a = amount(m_izone, m_iglobal, gen, false).range;
        const auto b = amount(m_pzone, m_pglobal, gen, true).range;
        return {std::max(a.low, b.low), std::min(a.high, b.high)};
    }

private:
    static IpatchSF2GenAmount amount(const IpatchSF2GenArray& zone, const IpatchSF2GenArray& global,
                                     int gen, bool preset) {
        if (IPATCH_SF2_GEN_ARRAY_TEST_FLAG(&zone, gen)) {
            return zone.values[gen];
        }
        if (IPATCH_SF2_GEN_ARRAY_TEST_FLAG(&global, gen)) {
            return global.values[gen];
        }
        IpatchSF2GenAmount fallback;
        ipatch_sf2_gen_default_value(guint(gen), preset, &fallback);
        return fallback;
    }

    const IpatchSF2GenArray& m_izone;
    const IpatchSF2GenArray& m_iglobal;
    const IpatchSF2GenArray& m_pzone;
    const IpatchSF2GenArray& m_pglobal;
};

/// The frames of a sample that a voice plays, in the sample's own frames.
struct Region {
    int64_t start = 0, end = 0;
    int64_t loopStart = -1, loopEnd = -1; ///< [start, end), -1 without loop
    bool continuous = false;              ///< loops on through the release too (mode 1)
};

std::optional<double> seconds(int timecents) {
    if (timecents <= -12000) { // the default, a millisecond: nothing to write
        return std::nullopt;
    }
    return std::pow(2.0, timecents / 1200.0);
}

Envelope envelopeOf(const Voice& voice) {
    Envelope envelope;
    envelope.delay = seconds(voice.value(IPATCH_SF2_GEN_VOL_ENV_DELAY));
    envelope.attack = seconds(voice.value(IPATCH_SF2_GEN_VOL_ENV_ATTACK));
    envelope.hold = seconds(voice.value(IPATCH_SF2_GEN_VOL_ENV_HOLD));
    const double sustain = -std::clamp(voice.value(IPATCH_SF2_GEN_VOL_ENV_SUSTAIN), 0, 1000) / 10.0;
    if (sustain < 0) {
        envelope.sustain = sustain;
    }
    // SF2 decay and release times are for a fall of the whole 100 dB.
    const auto decay = seconds(voice.value(IPATCH_SF2_GEN_VOL_ENV_DECAY));
    if (decay && sustain < 0) {
        envelope.decay = *decay * -sustain / 100.0;
    }
    // So is the release: from wherever the note is released, at the same rate.
    envelope.release = seconds(voice.value(IPATCH_SF2_GEN_VOL_ENV_RELEASE));
    envelope.releaseFromFull = true;
    return envelope;
}

/// Decibels of attenuation per unit of the attenuation generator.
constexpr double kAttenuationDbPerUnit = 0.04;

/// What a voice's modulators come to in the voice model. The model holds one
/// modulator, velocity to cutoff; everything else a font's modulators do is
/// named, to be reported as dropped.
struct Modulation {
    /// Cents the cutoff moves at the softest velocity, linearly to none at the
    /// loudest: the soundfont default until a font's modulator says otherwise.
    double velToCutoff = -2400.0;
    std::vector<std::string> dropped;
};

constexpr uint16_t kVelocity = IPATCH_SF2_MOD_CONTROL_NOTE_ON_VELOCITY;
constexpr uint16_t kNegative = IPATCH_SF2_MOD_DIRECTION_NEGATIVE;

/// Two modulators are the same one, whose later instance replaces the
/// earlier, when all but their amounts agree.
bool sameModulator(const IpatchSF2Mod& a, const IpatchSF2Mod& b) {
    return a.src == b.src && a.dest == b.dest && a.amtsrc == b.amtsrc && a.trans == b.trans;
}

/// A zone's modulators with those of its global zone that it does not replace.
std::vector<IpatchSF2Mod> modulatorsOf(const GSList* zone, const GSList* global) {
    std::vector<IpatchSF2Mod> out;
    for (const GSList* m = zone; m; m = m->next) {
        out.push_back(*static_cast<const IpatchSF2Mod*>(m->data));
    }
    const size_t own = out.size();
    for (const GSList* m = global; m; m = m->next) {
        const auto& mod = *static_cast<const IpatchSF2Mod*>(m->data);
        if (std::none_of(out.begin(), out.begin() + long(own),
                         [&](const IpatchSF2Mod& o) { return sameModulator(o, mod); })) {
            out.push_back(mod);
        }
    }
    return out;
}

/// The default velocity-to-cutoff modulator: negative linear velocity to the
/// cutoff, with no amount source, or with the velocity switch that the
/// soundfont 2.01 default names as its amount source (fonts that switch the
/// default off repeat it with an amount of 0).
bool isVelocityToCutoff(const IpatchSF2Mod& m) {
    const uint16_t velocitySwitch = kVelocity | kNegative | IPATCH_SF2_MOD_TYPE_SWITCH;
    return m.src == (kVelocity | kNegative) && m.dest == IPATCH_SF2_GEN_FILTER_CUTOFF &&
           m.trans == 0 &&
           (m.amtsrc == 0 || m.amtsrc == velocitySwitch ||
            m.amtsrc == (kVelocity | kNegative | IPATCH_SF2_MOD_TYPE_CONCAVE));
}

std::string sourceName(uint16_t source) {
    const int index = source & IPATCH_SF2_MOD_MASK_CONTROL;
    if (source & IPATCH_SF2_MOD_MASK_CC) {
        return "controller " + std::to_string(index);
    }
    switch (index) {
    case IPATCH_SF2_MOD_CONTROL_NONE:
        return "a constant";
    case IPATCH_SF2_MOD_CONTROL_NOTE_ON_VELOCITY:
        return "velocity";
    case IPATCH_SF2_MOD_CONTROL_NOTE_NUMBER:
        return "key";
    case IPATCH_SF2_MOD_CONTROL_POLY_PRESSURE:
        return "key pressure";
    case IPATCH_SF2_MOD_CONTROL_CHAN_PRESSURE:
        return "channel pressure";
    case IPATCH_SF2_MOD_CONTROL_PITCH_WHEEL:
        return "pitch wheel";
    case IPATCH_SF2_MOD_CONTROL_BEND_RANGE:
        return "pitch wheel range";
    default:
        return "source " + std::to_string(index);
    }
}

std::string destinationName(uint16_t destination) {
    switch (destination) {
    case IPATCH_SF2_GEN_FILTER_CUTOFF:
        return "filter cutoff";
    case IPATCH_SF2_GEN_FILTER_Q:
        return "filter resonance";
    case IPATCH_SF2_GEN_ATTENUATION:
        return "attenuation";
    case IPATCH_SF2_GEN_PAN:
        return "pan";
    case IPATCH_SF2_GEN_VIB_LFO_TO_PITCH:
        return "vibrato depth";
    case IPATCH_SF2_GEN_MOD_LFO_TO_PITCH:
        return "modulation LFO to pitch";
    case IPATCH_SF2_GEN_CHORUS:
        return "chorus send";
    case IPATCH_SF2_GEN_REVERB:
        return "reverb send";
    case IPATCH_SF2_GEN_COARSE_TUNE:
    case IPATCH_SF2_GEN_FINE_TUNE_OVERRIDE:
        return "tuning";
    default:
        return "generator " + std::to_string(destination);
    }
}

/// The instrument zone's modulators (its global zone's where it has no same
/// one) set the voice's; the preset zone's (likewise) add to them.
Modulation modulationOf(const IpatchSF2Zone* izone, const IpatchSF2Inst* instrument,
                        const IpatchSF2Zone* pzone, const IpatchSF2Preset* preset) {
    Modulation out;
    // Returns the amounts of the level's velocity-to-cutoff modulators; none
    // when it has none.
    const auto apply = [&](const std::vector<IpatchSF2Mod>& mods) {
        std::optional<double> velToCutoff;
        for (const IpatchSF2Mod& m : mods) {
            if (isVelocityToCutoff(m)) {
                velToCutoff = velToCutoff.value_or(0.0) + m.amount;
                if (m.amtsrc != 0 && m.amount != 0) {
                    out.dropped.push_back("the velocity switch of velocity to filter cutoff");
                }
            } else if (m.amount != 0) {
                out.dropped.push_back("modulator from " + sourceName(m.src) + " to " +
                                      destinationName(m.dest));
            }
        }
        return velToCutoff;
    };
    // An instrument's own velocity-to-cutoff modulators stand in for the
    // default; a preset's add to what the instrument gives.
    if (const auto own = apply(modulatorsOf(izone->mods, instrument->mods))) {
        out.velToCutoff = *own;
    }
    out.velToCutoff += apply(modulatorsOf(pzone->mods, preset->mods)).value_or(0.0);
    return out;
}

/// The voice attributes a zone's generators give: pan, the filter with its
/// velocity-to-cutoff modulator, the modulation envelope and both LFOs.
std::vector<std::pair<std::string, double>> voiceOf(const Voice& voice, bool stereo,
                                                    double velToCutoff) {
    std::vector<std::pair<std::string, double>> out;
    const auto add = [&](const char* name, double value) { out.emplace_back(name, value); };
    const auto hz = [](int cents) { return 8.176 * std::pow(2.0, cents / 1200.0); };
    const auto time = [&](const char* name, int gen) {
        if (const auto s = seconds(voice.value(gen))) {
            add(name, *s);
        }
    };
    if (!stereo && voice.value(IPATCH_SF2_GEN_PAN) != 0) {
        add("pan", voice.value(IPATCH_SF2_GEN_PAN) / 500.0);
    }
    const bool modEnvToCutoff = voice.value(IPATCH_SF2_GEN_MOD_ENV_TO_FILTER_CUTOFF) != 0;
    const bool lfoToCutoff = voice.value(IPATCH_SF2_GEN_MOD_LFO_TO_FILTER_CUTOFF) != 0;
    const int cutoff = voice.value(IPATCH_SF2_GEN_FILTER_CUTOFF);
    const int q = voice.value(IPATCH_SF2_GEN_FILTER_Q);
    if (cutoff < 13500 || q > 0 || modEnvToCutoff || lfoToCutoff) {
        add("cutoff", hz(cutoff));
        if (q > 0) {
            add("resonance", q / 10.0);
        }
        if (velToCutoff != 0) {
            add("velToCutoff", velToCutoff);
        }
    }
    const bool modEnv = voice.value(IPATCH_SF2_GEN_MOD_ENV_TO_PITCH) != 0 || modEnvToCutoff;
    if (modEnv) {
        time("modDelay", IPATCH_SF2_GEN_MOD_ENV_DELAY);
        time("modAttack", IPATCH_SF2_GEN_MOD_ENV_ATTACK);
        // Soundfont players raise the modulation envelope's attack on a convex
        // curve: a filter opening over a long attack is bright well before its end.
        if (voice.value(IPATCH_SF2_GEN_MOD_ENV_ATTACK) > -12000) {
            add("modAttackConvex", 1);
        }
        time("modHold", IPATCH_SF2_GEN_MOD_ENV_HOLD);
        time("modDecay", IPATCH_SF2_GEN_MOD_ENV_DECAY);
        add("modSustain",
            1.0 - std::clamp(voice.value(IPATCH_SF2_GEN_MOD_ENV_SUSTAIN), 0, 1000) / 1000.0);
        time("modRelease", IPATCH_SF2_GEN_MOD_ENV_RELEASE);
        add("modEnvToPitch", voice.value(IPATCH_SF2_GEN_MOD_ENV_TO_PITCH));
        add("modEnvToCutoff", voice.value(IPATCH_SF2_GEN_MOD_ENV_TO_FILTER_CUTOFF));
    }
    const int lfoPitch = voice.value(IPATCH_SF2_GEN_MOD_LFO_TO_PITCH);
    const int lfoVolume = voice.value(IPATCH_SF2_GEN_MOD_LFO_TO_VOLUME);
    if (lfoPitch != 0 || lfoToCutoff || lfoVolume != 0) {
        time("modLfoDelay", IPATCH_SF2_GEN_MOD_LFO_DELAY);
        add("modLfoFreq", hz(voice.value(IPATCH_SF2_GEN_MOD_LFO_FREQ)));
        add("modLfoToPitch", lfoPitch);
        add("modLfoToCutoff", voice.value(IPATCH_SF2_GEN_MOD_LFO_TO_FILTER_CUTOFF));
        // Centibels the oscillator's positive peak adds to the volume.
        add("modLfoToVolume", lfoVolume / 10.0);
    }
    if (const int vibrato = voice.value(IPATCH_SF2_GEN_VIB_LFO_TO_PITCH); vibrato != 0) {
        time("vibLfoDelay", IPATCH_SF2_GEN_VIB_LFO_DELAY);
        add("vibLfoFreq", hz(voice.value(IPATCH_SF2_GEN_VIB_LFO_FREQ)));
        add("vibLfoToPitch", vibrato);
    }
    return out;
}

/// Names what a voice asks for that a bank cannot hold.
void dropUnsupported(const Voice& voice, bool stereo, BankPlan& plan) {
    struct Check {
        int gen;
        int neutral;
        const char* what;
    };
    static const Check checks[] = {
        {IPATCH_SF2_GEN_CHORUS, 0, "chorus send"},
        {IPATCH_SF2_GEN_REVERB, 0, "reverb send"},
        {IPATCH_SF2_GEN_NOTE_TO_VOL_ENV_HOLD, 0, "key-tracked envelope"},
        {IPATCH_SF2_GEN_NOTE_TO_VOL_ENV_DECAY, 0, "key-tracked envelope"},
        {IPATCH_SF2_GEN_FIXED_NOTE, -1, "fixed key"},
        {IPATCH_SF2_GEN_FIXED_VELOCITY, -1, "fixed velocity"},
    };
    std::vector<std::string> found;
    for (const Check& check : checks) {
        if (voice.value(check.gen) != check.neutral) {
            found.push_back(check.what);
        }
    }
    if (stereo && voice.value(IPATCH_SF2_GEN_PAN) != 0) {
        found.push_back("pan of stereo pairs");
    }
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    for (const std::string& what : found) {
        plan.drop(what);
    }
}

/// Mono frames of `sample` at full 32-bit scale; sets `deep` for sources of
/// more than 16 bits.
std::vector<int32_t> readFrames(IpatchSF2Sample* sample, const Region& region, bool& deep,
                                const std::string& path) {
    const int width =
        IPATCH_SAMPLE_FORMAT_GET_WIDTH(ipatch_sample_get_format(IPATCH_SAMPLE(sample)));
    deep = width != IPATCH_SAMPLE_8BIT && width != IPATCH_SAMPLE_16BIT;
    const int format = int(deep ? IPATCH_SAMPLE_32BIT : IPATCH_SAMPLE_16BIT) |
                       int(IPATCH_SAMPLE_MONO) | int(IPATCH_SAMPLE_SIGNED) |
                       int(IPATCH_SAMPLE_ENDIAN_HOST);
    const auto frames = guint(region.end - region.start);
    std::vector<int32_t> out(frames);
    GError* error = nullptr;
    bool ok = false;
    if (deep) {
        ok = ipatch_sample_read_transform(IPATCH_SAMPLE(sample), guint(region.start), frames,
                                          out.data(), format, IPATCH_SAMPLE_UNITY_CHANNEL_MAP,
                                          &error);
    } else {
        std::vector<int16_t> shorts(frames);
        ok = ipatch_sample_read_transform(IPATCH_SAMPLE(sample), guint(region.start), frames,
                                          shorts.data(), format, IPATCH_SAMPLE_UNITY_CHANNEL_MAP,
                                          &error);
        for (size_t i = 0; i < shorts.size(); ++i) {
            out[i] = int32_t(uint32_t(uint16_t(shorts[i])) << 16);
        }
    }
    if (!ok) {
        const std::string message = error ? error->message : "unknown error";
        g_clear_error(&error);
        throw ImportError(path, "sample \"" + trimmed(sample->name) +
                                    "\": cannot read its data: " + message);
    }
    return out;
}

} // namespace

struct Sf2File::Impl {
    std::unique_ptr<ExpandedFont> expanded; ///< what libinstpatch reads of an SF3
    std::optional<QuietLog> quiet;
    std::string path;
    IpatchSF2File* file = nullptr;
    IpatchSF2* font = nullptr;
    std::vector<IpatchSF2Preset*> handles;
    std::vector<Sf2Preset> presets;

    // Also when the constructor fails half-way.
    ~Impl() {
        if (font) {
            g_object_unref(font);
        }
        if (file) {
            g_object_unref(file);
        }
    }

    /// Where a voice's sample plays from, or a reason why it cannot.
    std::optional<Region> region(IpatchSF2Sample* sample, const Voice& voice,
                                 const std::string& where, BankPlan& plan) const;
    size_t audioFor(IpatchSF2Sample* left, const Region& l, IpatchSF2Sample* right, const Region& r,
                    BankPlan& plan) const;
};

std::optional<Region> Sf2File::Impl::region(IpatchSF2Sample* sample, const Voice& voice,
                                            const std::string& where, BankPlan& plan) const {
    const std::string name = trimmed(sample->name);
    if ((ipatch_item_get_flags(sample) & IPATCH_SF2_SAMPLE_FLAG_ROM) || !sample->sample_data) {
        plan.warnings.push_back(where + ": sample \"" + name + "\" has no data; zone skipped");
        return std::nullopt;
    }
    const int64_t frames = ipatch_sample_get_size(IPATCH_SAMPLE(sample), nullptr);
    const auto offset = [&](int fine, int coarse) {
        return int64_t(voice.instrument(fine)) + 32768 * int64_t(voice.instrument(coarse));
    };
    Region region;
    region.start = offset(IPATCH_SF2_GEN_SAMPLE_START, IPATCH_SF2_GEN_SAMPLE_COARSE_START);
    region.end = frames + offset(IPATCH_SF2_GEN_SAMPLE_END, IPATCH_SF2_GEN_SAMPLE_COARSE_END);
    if (region.start < 0 || region.end > frames || region.start >= region.end ||
        sample->rate <= 0) {
        plan.warnings.push_back(where + ": sample \"" + name +
                                "\" plays frames outside its data; zone skipped");
        return std::nullopt;
    }
    const int mode = voice.instrument(IPATCH_SF2_GEN_SAMPLE_MODES) & 3;
    if (mode != 1 && mode != 3) {
        return region;
    }
    // Loop ends in SF2 are exclusive, as are ours.
    const int64_t loopStart = sample->loop_start + offset(IPATCH_SF2_GEN_SAMPLE_LOOP_START,
                                                          IPATCH_SF2_GEN_SAMPLE_COARSE_LOOP_START);
    const int64_t loopEnd = sample->loop_end + offset(IPATCH_SF2_GEN_SAMPLE_LOOP_END,
                                                      IPATCH_SF2_GEN_SAMPLE_COARSE_LOOP_END);
    if (loopStart < region.start || loopEnd > region.end || loopStart >= loopEnd) {
        plan.warnings.push_back(where + ": sample \"" + name +
                                "\" loops outside the frames it plays; imported without loop");
        return region;
    }
    region.loopStart = loopStart;
    region.loopEnd = loopEnd;
    region.continuous = mode == 1;
    return region;
}

size_t Sf2File::Impl::audioFor(IpatchSF2Sample* left, const Region& l, IpatchSF2Sample* right,
                               const Region& r, BankPlan& plan) const {
    const auto key = [](IpatchSF2Sample* sample, const Region& region) {
        char text[128];
        std::snprintf(text, sizeof text, "%p:%lld-%lld:%lld-%lld", static_cast<void*>(sample),
                      static_cast<long long>(region.start), static_cast<long long>(region.end),
                      static_cast<long long>(region.loopStart),
                      static_cast<long long>(region.loopEnd));
        return std::string(text);
    };
    AudioSource source;
    source.key = key(left, l) + (right ? "|" + key(right, r) : std::string());
    source.name = trimmed(left->name);
    const std::string file = path;
    source.read = [file, left, l, right, r] {
        Audio audio;
        audio.sampleRate = left->rate;
        bool deep = false;
        std::vector<int32_t> first = readFrames(left, l, deep, file);
        if (l.loopStart >= 0) {
            audio.loopStart = l.loopStart - l.start;
            audio.loopEnd = l.loopEnd - l.start;
        }
        if (!right) {
            audio.samples = std::move(first);
        } else {
            bool deepRight = false;
            const std::vector<int32_t> second = readFrames(right, r, deepRight, file);
            deep = deep || deepRight;
            audio.channels = 2;
            const size_t frames = std::max(first.size(), second.size());
            audio.samples.assign(2 * frames, 0);
            for (size_t i = 0; i < first.size(); ++i) {
                audio.samples[2 * i] = first[i];
            }
            for (size_t i = 0; i < second.size(); ++i) {
                audio.samples[2 * i + 1] = second[i];
            }
        }
        audio.bits = deep ? 24 : 16;
        return audio;
    };
    return plan.addAudio(std::move(source));
}

Sf2File::Sf2File(const std::string& path, bool verbose) : m_impl(std::make_unique<Impl>()) {
    checkSf2Structure(path);
    m_impl->expanded = expandCompressedSamples(path);
    initialiseLibrary();
    if (!verbose) {
        m_impl->quiet.emplace();
    }
    m_impl->path = path;
    m_impl->file = ipatch_sf2_file_new();
    GError* error = nullptr;
    IpatchFileHandle* handle = ipatch_file_open(
        IPATCH_FILE(m_impl->file),
        m_impl->expanded ? m_impl->expanded->path().c_str() : path.c_str(), "r", &error);
    if (handle) {
        // The reader owns the handle and closes it when it goes.
        IpatchSF2Reader* reader = ipatch_sf2_reader_new(handle);
        m_impl->font = ipatch_sf2_reader_load(reader, &error);
        g_object_unref(reader);
    }
    if (!m_impl->font) {
        const std::string message = error ? error->message : "unknown error";
        g_clear_error(&error);
        throw ImportError(path, "not a soundfont libinstpatch reads: " + message);
    }
    for (GSList* item = m_impl->font->presets; item; item = item->next) {
        auto* preset = IPATCH_SF2_PRESET(item->data);
        m_impl->handles.push_back(preset);
        m_impl->presets.push_back({preset->bank, preset->program, trimmed(preset->name)});
    }
}

Sf2File::~Sf2File() = default;

const std::vector<Sf2Preset>& Sf2File::presets() const {
    return m_impl->presets;
}

BankPlan Sf2File::plan(size_t index) const {
    IpatchSF2Preset* preset = m_impl->handles.at(index);
    BankPlan plan;
    plan.name = m_impl->presets[index].name;
    plan.bank = preset->bank;
    plan.program = preset->program;
    plan.unpitched = preset->bank == 128;

    for (GSList* p = preset->zones; p; p = p->next) {
        IpatchSF2Zone* pzone = IPATCH_SF2_ZONE(p->data);
        if (!pzone->item || !IPATCH_IS_SF2_INST(pzone->item)) {
            continue;
        }
        IpatchSF2Inst* instrument = IPATCH_SF2_INST(pzone->item);
        const std::string where =
            "preset \"" + plan.name + "\", instrument \"" + trimmed(instrument->name) + "\"";
        struct Candidate {
            IpatchSF2Zone* zone;
            IpatchSF2Sample* sample;
            Voice voice;
            Region region;
            bool taken = false;
        };
        std::vector<Candidate> candidates;
        for (GSList* i = instrument->zones; i; i = i->next) {
            IpatchSF2Zone* izone = IPATCH_SF2_ZONE(i->data);
            if (!izone->item || !IPATCH_IS_SF2_SAMPLE(izone->item)) {
                continue;
            }
            auto* sample = IPATCH_SF2_SAMPLE(izone->item);
            const Voice voice(izone->genarray, instrument->genarray, pzone->genarray,
                              preset->genarray);
            const auto keys = voice.range(IPATCH_SF2_GEN_NOTE_RANGE);
            const auto velocities = voice.range(IPATCH_SF2_GEN_VELOCITY_RANGE);
            if (keys.first > keys.second || velocities.first > velocities.second ||
                velocities.second < 1) {
                continue; // this preset zone never plays it
            }
            if (const auto region = m_impl->region(sample, voice, where, plan)) {
                candidates.push_back({izone, sample, voice, *region});
            }
        }

        for (Candidate& c : candidates) {
            if (c.taken) {
                continue;
            }
            c.taken = true;
            // A left or right sample plays together with its linked side in the
            // same key and velocity ranges: one stereo file.
            Candidate* partner = nullptr;
            if (c.sample->channel != IPATCH_SF2_SAMPLE_CHANNEL_MONO) {
                IpatchSF2Sample* linked = ipatch_sf2_sample_peek_linked(c.sample);
                for (Candidate& other : candidates) {
                    if (!other.taken && other.sample == linked &&
                        other.voice.range(IPATCH_SF2_GEN_NOTE_RANGE) ==
                            c.voice.range(IPATCH_SF2_GEN_NOTE_RANGE) &&
                        other.voice.range(IPATCH_SF2_GEN_VELOCITY_RANGE) ==
                            c.voice.range(IPATCH_SF2_GEN_VELOCITY_RANGE)) {
                        partner = &other;
                        break;
                    }
                }
            }
            Candidate* left = &c;
            Candidate* right = partner;
            bool ownLoops = false; // the sides loop at different frames
            if (partner) {
                partner->taken = true;
                if (c.sample->channel == IPATCH_SF2_SAMPLE_CHANNEL_RIGHT) {
                    std::swap(left, right);
                }
                ownLoops = left->region.loopStart - left->region.start !=
                               right->region.loopStart - right->region.start ||
                           left->region.loopEnd - left->region.start !=
                               right->region.loopEnd - right->region.start;
            }
            const Voice& voice = left->voice;
            Zone zone;
            std::tie(zone.keyLo, zone.keyHi) = voice.range(IPATCH_SF2_GEN_NOTE_RANGE);
            std::tie(zone.velLo, zone.velHi) = voice.range(IPATCH_SF2_GEN_VELOCITY_RANGE);
            zone.velLo = std::max(zone.velLo, 1);
            const int overridden = voice.instrument(IPATCH_SF2_GEN_ROOT_NOTE_OVERRIDE);
            zone.root = overridden >= 0 ? overridden : left->sample->root_note;
            if (zone.root > 127) {
                zone.root = 60; // "unpitched" samples
            }
            zone.cents = voice.value(IPATCH_SF2_GEN_COARSE_TUNE) * 100.0 +
                         voice.value(IPATCH_SF2_GEN_FINE_TUNE_OVERRIDE) + left->sample->fine_tune;
            zone.keyTrack = voice.value(IPATCH_SF2_GEN_SCALE_TUNE);
            // Soundfonts are voiced on players that, like the hardware the
            // format was made for, attenuate by 0.4 of the centibels given.
            zone.gainDb = -voice.value(IPATCH_SF2_GEN_ATTENUATION) * kAttenuationDbPerUnit;
            zone.envelope = envelopeOf(voice);
            // A released player leaves its loop for the file's tail, which a
            // source that loops through the release never plays.
            zone.loopRelease = left->region.continuous;
            const Modulation modulation = modulationOf(left->zone, instrument, pzone, preset);
            zone.voice = voiceOf(voice, partner != nullptr, modulation.velToCutoff);
            zone.chokeGroup = voice.value(IPATCH_SF2_GEN_EXCLUSIVE_CLASS);
            if (ownLoops) {
                // Each side keeps its own loop: the left as the sample, hard left, the
                // right as its layer, hard right; 3 dB down each, as the centred
                // stereo file of a pair whose loops agree sounds.
                zone.audio = m_impl->audioFor(left->sample, left->region, nullptr, Region{}, plan);
                zone.voice.insert(zone.voice.begin(), {"pan", -1.0});
                zone.gainDb -= 3.0103;
                ZoneLayer side{
                    m_impl->audioFor(right->sample, right->region, nullptr, Region{}, plan),
                    zone.gainDb, zone.voice, zone.envelope};
                side.voice.front().second = 1.0;
                side.loopRelease = right->region.continuous;
                zone.layers.push_back(std::move(side));
            } else {
                zone.audio =
                    m_impl->audioFor(left->sample, left->region, right ? right->sample : nullptr,
                                     right ? right->region : Region{}, plan);
            }
            dropUnsupported(voice, partner != nullptr, plan);
            for (const std::string& what : modulation.dropped) {
                plan.drop(what);
            }
            plan.zones.push_back(zone);
        }
    }
    return plan;
}

} // namespace ox::import
