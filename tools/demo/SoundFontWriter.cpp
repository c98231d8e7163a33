#include "demo/SoundFontWriter.h"

#include "demo/Synth.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace oxsf::demo {

namespace {

void put(std::string& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out += char((value >> (8 * i)) & 0xff);
    }
}

/// A name field: `size` bytes, zero-padded, always zero-terminated.
void putName(std::string& out, const std::string& name, size_t size = 20) {
    std::string field = name.substr(0, size - 1);
    field.resize(size, '\0');
    out += field;
}

std::string chunk(const char* id, const std::string& data) {
    std::string out(id, 4);
    put(out, uint32_t(data.size()), 4);
    out += data;
    if (data.size() % 2) {
        out += '\0';
    }
    return out;
}

std::string list(const char* type, const std::string& chunks) {
    return chunk("LIST", std::string(type, 4) + chunks);
}

/// The bag, modulator and generator chunks of preset or instrument zones, and
/// the bag index at which each owner's zones start.
struct Zones {
    std::string bags, mods, gens;
    int bagCount = 0;
    int genCount = 0;
    int modCount = 0;

    int add(const std::vector<Sf2Zone>& zones, Sf2Gen link) {
        const int first = bagCount;
        for (const Sf2Zone& zone : zones) {
            put(bags, uint32_t(genCount), 2);
            put(bags, uint32_t(modCount), 2);
            ++bagCount;
            for (const Sf2Modulator& m : zone.modulators) {
                put(mods, m.source, 2);
                put(mods, m.destination, 2);
                put(mods, uint16_t(m.amount), 2);
                put(mods, m.amountSource, 2);
                put(mods, m.transform, 2);
                ++modCount;
            }
            // Ranges first, the link last.
            std::vector<Sf2Generator> ordered;
            for (const Sf2Gen range : {KeyRange, VelRange}) {
                for (const Sf2Generator& g : zone.generators) {
                    if (g.op == range) {
                        ordered.push_back(g);
                    }
                }
            }
            for (const Sf2Generator& g : zone.generators) {
                if (g.op != KeyRange && g.op != VelRange) {
                    ordered.push_back(g);
                }
            }
            if (zone.link >= 0) {
                ordered.push_back({link, uint16_t(zone.link)});
            }
            for (const Sf2Generator& g : ordered) {
                put(gens, g.op, 2);
                put(gens, g.amount, 2);
                ++genCount;
            }
        }
        return first;
    }
    void terminate() {
        put(bags, uint32_t(genCount), 2);
        put(bags, uint32_t(modCount), 2);
        mods.append(10, '\0');
        gens.append(4, '\0');
    }
};

std::vector<int16_t> pcm(const Audio& audio) {
    std::vector<int16_t> out(size_t(audio.frames()));
    for (size_t i = 0; i < out.size(); ++i) {
        const float s = audio.samples[i * size_t(audio.channels)]; // first channel
        out[i] = int16_t(std::lround(std::clamp(s, -1.0f, 1.0f) * 32767.0f));
    }
    return out;
}

Sf2Sample pluckSample(const std::string& name, int root, bool loud, uint32_t seed) {
    PluckSettings settings;
    settings.frequency = 440.0 * std::pow(2.0, (root - 69) / 12.0);
    settings.seconds = 1.0;
    settings.brightness = loud ? 0.9 : 0.35;
    settings.amplitude = loud ? 0.9 : 0.5;
    settings.seed = seed;
    Sf2Sample sample{name, pcm(pluck(settings)), 44100, root};
    // Loop whole periods late in the tone, where it is steady.
    sample.loopStart = uint32_t(sample.frames.size() * 6 / 10);
    sample.loopEnd = sample.loopStart + uint32_t(loopLengthFor(settings.frequency, 4410));
    return sample;
}

Sf2Sample drumSample(const std::string& name, Drum kind, double amplitude, uint32_t seed) {
    return Sf2Sample{name, pcm(drum(kind, amplitude, 0.7, seed)), 44100, 60};
}

Sf2Zone zone(int sample, std::vector<Sf2Generator> generators) {
    return Sf2Zone{std::move(generators), sample};
}

} // namespace

Sf2Generator sf2Value(Sf2Gen op, int value) {
    return {op, uint16_t(int16_t(value))};
}

Sf2Generator sf2Range(Sf2Gen op, int low, int high) {
    return {op, uint16_t(low | high << 8)};
}

namespace {

/// A sound file being written into memory through libsndfile.
struct Written {
    std::string bytes;
    sf_count_t at = 0;
};

sf_count_t writtenLength(void* user) {
    return sf_count_t(static_cast<Written*>(user)->bytes.size());
}

sf_count_t writtenSeek(sf_count_t offset, int whence, void* user) {
    auto* w = static_cast<Written*>(user);
    const sf_count_t base = whence == SEEK_CUR ? w->at : whence == SEEK_END ? writtenLength(w) : 0;
    w->at = std::max<sf_count_t>(0, base + offset);
    return w->at;
}

sf_count_t writtenRead(void* out, sf_count_t count, void* user) {
    auto* w = static_cast<Written*>(user);
    const sf_count_t n = std::clamp<sf_count_t>(writtenLength(w) - w->at, 0, count);
    std::memcpy(out, w->bytes.data() + w->at, size_t(n));
    w->at += n;
    return n;
}

sf_count_t writtenWrite(const void* data, sf_count_t count, void* user) {
    auto* w = static_cast<Written*>(user);
    if (size_t(w->at + count) > w->bytes.size()) {
        w->bytes.resize(size_t(w->at + count));
    }
    std::memcpy(w->bytes.data() + w->at, data, size_t(count));
    w->at += count;
    return count;
}

sf_count_t writtenTell(void* user) {
    return static_cast<Written*>(user)->at;
}

/// `sample` as a mono Ogg Vorbis stream.
std::string vorbisOf(const Sf2Sample& sample) {
    SF_VIRTUAL_IO io{writtenLength, writtenSeek, writtenRead, writtenWrite, writtenTell};
    Written written;
    SF_INFO info{};
    info.samplerate = sample.rate;
    info.channels = 1;
    info.format = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    SNDFILE* file = sf_open_virtual(&io, SFM_WRITE, &info, &written);
    if (!file) {
        throw std::runtime_error("cannot encode Ogg Vorbis: " + std::string(sf_strerror(nullptr)));
    }
    double quality = 0.9; // near transparent: the tests compare it with the source
    sf_command(file, SFC_SET_VBR_ENCODING_QUALITY, &quality, sizeof quality);
    sf_writef_short(file, sample.frames.data(), sf_count_t(sample.frames.size()));
    sf_close(file);
    return written.bytes;
}

std::string soundFontBytes(const Sf2Font& font, bool vorbis) {
    std::string info;
    std::string version;
    put(version, vorbis ? 3 : 2, 2);
    put(version, 1, 2);
    info += chunk("ifil", version);
    info += chunk("isng", std::string("EMU8000", 8));
    std::string name = font.name;
    name += '\0';
    info += chunk("INAM", name);

    // Every sample is followed by 46 zero frames, and the header counts from
    // the start of the sample data.
    std::string data;
    std::string headers;
    // An SF3 sample is an Ogg Vorbis stream: its start and end count bytes,
    // its loop frames from its own start.
    for (const Sf2Sample& sample : font.samples) {
        uint32_t start = 0, end = 0, loopBase = 0;
        if (vorbis) {
            start = uint32_t(data.size());
            data += vorbisOf(sample);
            end = uint32_t(data.size());
        } else {
            start = loopBase = uint32_t(data.size() / 2);
            for (const int16_t frame : sample.frames) {
                put(data, uint16_t(frame), 2);
            }
            data.append(46 * 2, '\0');
            end = start + uint32_t(sample.frames.size());
        }
        putName(headers, sample.name);
        put(headers, start, 4);
        put(headers, end, 4);
        put(headers, loopBase + sample.loopStart, 4);
        put(headers, loopBase + sample.loopEnd, 4);
        put(headers, uint32_t(sample.rate), 4);
        put(headers, uint32_t(sample.root), 1);
        put(headers, uint32_t(uint8_t(int8_t(sample.correction))), 1);
        put(headers, uint32_t(sample.link), 2);
        put(headers, uint32_t(sample.type | (vorbis ? 0x10 : 0)), 2);
    }
    putName(headers, "EOS");
    headers.append(46 - 20, '\0');

    Zones presetZones;
    std::string presets;
    for (const Sf2Preset& preset : font.presets) {
        putName(presets, preset.name);
        put(presets, uint32_t(preset.program), 2);
        put(presets, uint32_t(preset.bank), 2);
        put(presets, uint32_t(presetZones.add(preset.zones, Instrument)), 2);
        presets.append(12, '\0');
    }
    putName(presets, "EOP");
    presets.append(4, '\0');
    put(presets, uint32_t(presetZones.bagCount), 2);
    presets.append(12, '\0');
    presetZones.terminate();

    Zones instrumentZones;
    std::string instruments;
    for (const Sf2Instrument& instrument : font.instruments) {
        putName(instruments, instrument.name);
        put(instruments, uint32_t(instrumentZones.add(instrument.zones, SampleId)), 2);
    }
    putName(instruments, "EOI");
    put(instruments, uint32_t(instrumentZones.bagCount), 2);
    instrumentZones.terminate();

    const std::string pdta = chunk("phdr", presets) + chunk("pbag", presetZones.bags) +
                             chunk("pmod", presetZones.mods) + chunk("pgen", presetZones.gens) +
                             chunk("inst", instruments) + chunk("ibag", instrumentZones.bags) +
                             chunk("imod", instrumentZones.mods) +
                             chunk("igen", instrumentZones.gens) + chunk("shdr", headers);
    const std::string body =
        "sfbk" + list("INFO", info) + list("sdta", chunk("smpl", data)) + list("pdta", pdta);
    return chunk("RIFF", body);
}

} // namespace

std::string sf2Bytes(const Sf2Font& font) {
    return soundFontBytes(font, false);
}

std::string sf3Bytes(const Sf2Font& font) {
    return soundFontBytes(font, true);
}

Sf2Font demoSoundFont(int programs) {
    Sf2Font font;
    font.name = "OXSoundFont demo";

    // Plucked strings in two velocity layers: 0-7 soft/loud E2..E5.
    Sf2Instrument plucks{"Pluck", {}};
    plucks.zones.push_back(Sf2Zone{
        {sf2Value(VolEnvDecay, 0), sf2Value(VolEnvSustain, 120), sf2Value(VolEnvRelease, -1200)},
        -1});
    static const int roots[] = {40, 52, 64, 76};
    static const int lows[] = {0, 47, 59, 71};
    static const int highs[] = {46, 58, 70, 127};
    static const char* names[] = {"E2", "E3", "E4", "E5"};
    for (int i = 0; i < 4; ++i) {
        for (const bool loud : {false, true}) {
            const int index = int(font.samples.size());
            font.samples.push_back(
                pluckSample(std::string("Pluck ") + names[i] + (loud ? " loud" : " soft"), roots[i],
                            loud, uint32_t(7 + index)));
            plucks.zones.push_back(
                zone(index, {sf2Range(KeyRange, lows[i], highs[i]),
                             loud ? sf2Range(VelRange, 80, 127) : sf2Range(VelRange, 1, 79),
                             sf2Value(SampleModes, 1)}));
        }
    }

    // A stereo pair whose sides loop at different frames.
    const int left = int(font.samples.size());
    font.samples.push_back(pluckSample("Pluck A3 L", 57, true, 101));
    font.samples.push_back(pluckSample("Pluck A3 R", 57, true, 102));
    font.samples[size_t(left)].type = 4;
    font.samples[size_t(left)].link = left + 1;
    font.samples[size_t(left) + 1].type = 2;
    font.samples[size_t(left) + 1].link = left;
    font.samples[size_t(left) + 1].loopStart -= 100;
    Sf2Instrument stereo{"Stereo Pluck",
                         {zone(left, {sf2Value(Pan, -500), sf2Value(SampleModes, 1)}),
                          zone(left + 1, {sf2Value(Pan, 500), sf2Value(SampleModes, 1)})}};

    // The kit: one sample per piece, the toms sharing one.
    struct Piece {
        int key;
        int sample;
        std::vector<Sf2Generator> generators;
    };
    const auto add = [&font](Sf2Sample sample) {
        font.samples.push_back(std::move(sample));
        return int(font.samples.size()) - 1;
    };
    const int kick = add(drumSample("Kick", Drum::Kick, 0.9, 1));
    const int stick = add(drumSample("Side Stick", Drum::Rimshot, 0.7, 2));
    const int soft = add(drumSample("Snare soft", Drum::Snare, 0.5, 3));
    const int loud = add(drumSample("Snare loud", Drum::Snare, 0.9, 4));
    const int closed = add(drumSample("Closed Hat", Drum::ClosedHat, 0.7, 5));
    const int open = add(drumSample("Open Hat", Drum::OpenHat, 0.7, 6));
    const int crash = add(drumSample("Crash", Drum::Crash, 0.8, 7));
    const int tom = add(drumSample("Tom", Drum::HandLow, 0.8, 8));
    std::vector<Piece> pieces = {
        {35, kick, {sf2Value(Attenuation, 30)}},
        {36, kick, {}},
        {37, stick, {}},
        {38, soft, {sf2Range(VelRange, 1, 90)}},
        {38, loud, {sf2Range(VelRange, 91, 127)}},
        {40, loud, {}},
        {42, closed, {sf2Value(ExclusiveClass, 1)}},
        {44, closed, {sf2Value(ExclusiveClass, 1), sf2Value(Attenuation, 60)}},
        {46, open, {sf2Value(ExclusiveClass, 1)}},
        {49, crash, {}},
    };
    int fine = 0;
    for (const int key : {41, 43, 45, 47, 48, 50}) {
        pieces.push_back({key, tom, {sf2Value(RootKey, 55), sf2Value(FineTune, fine += 7)}});
    }
    Sf2Instrument kit{"Kit", {}};
    for (Piece& piece : pieces) {
        piece.generators.push_back(sf2Range(KeyRange, piece.key, piece.key));
        kit.zones.push_back(zone(piece.sample, piece.generators));
    }
    font.instruments = {plucks, stereo, kit};

    for (int program = 0; program < programs; ++program) {
        const bool mono = program % 2 == 0;
        font.presets.push_back({(mono ? "Pluck " : "Stereo Pluck ") + std::to_string(program),
                                0,
                                program,
                                {Sf2Zone{{sf2Value(Reverb, mono ? 200 : 0)}, mono ? 0 : 1}}});
    }
    font.presets.push_back({"Demo Kit", 128, 0, {Sf2Zone{{}, 2}}});
    return font;
}

} // namespace oxsf::demo
