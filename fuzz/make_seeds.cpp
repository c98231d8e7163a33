// Writes the seed corpora of the fuzz targets: bank descriptions (ours and the
// demo banks'), tiny encoded tones, archives packed by our archive writer and
// catalogue path names, all made here. Usage: fuzz_make_seeds <output folder>;
// one folder per target is created below it.
#include <demo/DemoBanks.h>
#include <write/ArchiveWriter.h>
#include <write/LoopWriter.h>

#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

void writeFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// ---------------------------------------------------------------- descriptions

const char* const kGuitar = R"(<?xml version="1.0" encoding="UTF-8"?>
<SoundBank id="Seed-Guitar" type="guitar" name="Seed Guitar" description="six strings" velocity="0.8" tuning="64 59 55 50 45 40">
  <SamplesTree class="guitar">
    <Node class="pick">
      <Node class="sustain">
        <Node class="down"><Samples>
          <Sample midi="40" string="5" dynamic="MF"><Wave file="a.wav" peak="0.5" pickup="neck" repitch="0.1" velocity="64" ratio="1.0" gain="-3"/></Sample>
          <Sample midi="45" string="4" dynamic="F" option="slow"><Wave file="b.flac" pickup="bridge"/><Wave file="b2.flac" pickup="neck"/></Sample>
          <Sample midi="64" string="0" dynamic="pp"><Wave file="c.ogg"/></Sample>
        </Samples></Node>
        <Node class="up"><Samples><Sample midi="52" string="3"><Wave file="d.wav"/></Sample></Samples></Node>
      </Node>
      <Node class="pizzicato"><Node class="index"><Samples><Sample midi="300" string="-1" dynamic="FFFFFFF"><Wave file="e.wav"/></Sample></Samples></Node></Node>
    </Node>
    <Node class="harmonic">
      <Node class="natural">
        <Node class="7th"><Samples><Sample midi="52" string="5"><Wave file="h7.wav"/></Sample></Samples></Node>
        <Node class="12th"><Samples><Sample midi="59" string="4"><Wave file="h12.wav"/></Sample></Samples></Node>
        <Node class="4:5"><Samples><Sample midi="71" string="2"><Wave file="h45.wav"/></Sample></Samples></Node>
      </Node>
    </Node>
    <Node class="finger"><Node class="sustain"><Node class="thumb"><Samples>
      <Sample midi="41" string="5" dynamic="P" option="lnf"><Wave file="f.wav"/></Sample>
    </Samples></Node></Node></Node>
  </SamplesTree>
</SoundBank>
)";

const char* const kDrums = R"(<?xml version="1.0"?>
<SoundBank id="Seed-Drums" type="drum" name="Seed Drums" velocity="0.6">
  <SamplesTree class="drum">
    <Node class="stick">
      <Node class="hit">
        <Node class="hit"><Samples>
          <Sample midi="36" dynamic="F"><Wave file="kick.wav"/></Sample>
          <Sample midi="38" dynamic="MP"><Wave file="snare.flac"/></Sample>
        </Samples></Node>
        <Node class="rimshot"><Samples><Sample midi="40"><Wave file="rim.wav"/></Sample></Samples></Node>
        <Node class="closed"><Samples><Sample midi="42"><Wave file="hat.ogg"/></Sample></Samples></Node>
      </Node>
      <Node class="scrape"><Node class="edge"><Samples><Sample midi="49"><Wave file="crash.wav"/></Sample></Samples></Node></Node>
    </Node>
    <Node class="hand"><Node class="hit"><Node class="slap"><Samples>
      <Sample midi="64" dynamic="MF"><Wave file="slap.wav"/></Sample>
    </Samples></Node></Node></Node>
  </SamplesTree>
</SoundBank>
)";

// Byte-order mark, declaration, comment, processing instruction, doctype and
// entity references, a repeated attribute, two Samples elements in one layer.
const char* const kSyntax = "\xEF\xBB\xBF<?xml version=\"1.0\"?><!-- c --><?pi x?>"
                            "<!DOCTYPE bank><Bank id=\"Amp&amp;Co+\" velocity=\"1\" "
                            "velocity=\"0.25\" type=\"unpitched\"><SamplesTree class=\"x\">"
                            "<Node class=\"pedal\"><Node class=\"hit\"><Node class=\"none\">"
                            "<Samples><Sample midi=\"1\"/></Samples><Samples><Sample midi=\"44\" "
                            "midi=\"9\"><Wave file=\"&lt;a&gt;.wav\" repitch=\"12.5\"/></Sample>"
                            "</Samples></Node></Node></Node></SamplesTree></Bank>";

const char* const kExcluded =
    R"(<Bank id="Hillside-Piano" type="piano" tuning="40"><SamplesTree><Node class="key"><Node class="sustain"><Node class="down"><Samples>
<Sample midi="60"><Wave file="x.ogg"/><Wave file="HillsideGrand9-Key-Sus-none-07-none-081-none.ogg"/></Sample>
<Sample midi="62"><Wave file="HillsideGrand9-Key-Sus-none-03-none-081-none.ogg"/></Sample>
</Samples></Node></Node></Node></SamplesTree></Bank>)";

const std::vector<std::pair<std::string, std::string>> kDescriptions = {
    {"guitar.xml", kGuitar},
    {"drums.xml", kDrums},
    {"syntax.xml", kSyntax},
    {"excluded.xml", kExcluded},
    {"tuning-bad.xml", "<Bank type=\"bass\" tuning=\"43 38 x\"/>"},
    {"tuning-range.xml", "<Bank tuning=\"99999999999 1\"/>"},
    {"root-only.xml", "<Bank id=\"r\" name=\"n\"/>"},
    {"deep.xml", "<B><SamplesTree><Node><Node><Node><Node class=\"down\"><Samples><Sample "
                 "midi=\"60\"/></Samples></Node></Node></Node></Node></SamplesTree></B>"},
    {"empty.xml", " \n"},
    {"unclosed.xml", "<Bank><SamplesTree>"},
};

// ---------------------------------------------------------------- audio

struct Tone {
    int format;
    int channels = 1;
    int frames = 64;
    int loopStart = -1;
    int loopEnd = -1;
};

// Encodes a short sine through libsndfile (to a file, which it needs for Ogg).
std::string encode(const Tone& tone, const fs::path& scratch) {
    const fs::path path = scratch / "tone.bin";
    SF_INFO info{};
    info.samplerate = 8000;
    info.channels = tone.channels;
    info.format = tone.format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) {
        throw std::runtime_error(std::string("cannot encode: ") + sf_strerror(nullptr));
    }
    // Any region, also an empty or reversed one: the readers must cope.
    if (tone.loopStart >= 0) {
        oxsf::write::writeLoop(file, (tone.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV,
                               tone.loopStart, tone.loopEnd);
    }
    std::vector<float> samples(static_cast<size_t>(tone.frames * tone.channels));
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = 0.5f * static_cast<float>(std::sin(0.3 * double(i / tone.channels)));
    }
    sf_writef_float(file, samples.data(), tone.frames);
    sf_close(file);
    return readFile(path);
}

struct NamedTone {
    std::string name;
    Tone tone;
};

const std::vector<NamedTone> kTones = {
    {"mono16.wav", {SF_FORMAT_WAV | SF_FORMAT_PCM_16}},
    {"stereo24.wav", {SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, 48}},
    {"float.wav", {SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, 32}},
    {"u8.wav", {SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1, 32}},
    {"loop16.wav", {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 64, 8, 40}},
    {"mono16.flac", {SF_FORMAT_FLAC | SF_FORMAT_PCM_16}},
    {"stereo24.flac", {SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 2, 48}},
    {"loop.flac", {SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, 64, 8, 40}},
    {"mono.ogg", {SF_FORMAT_OGG | SF_FORMAT_VORBIS, 1, 64}},
};

// ---------------------------------------------------------------- archives

std::string packed(const fs::path& scratch,
                   const std::vector<oxsf::archive::ArchiveInput>& entries) {
    const fs::path target = scratch / "seed.tq7bank";
    oxsf::archive::writeArchive(target.string(), entries);
    return readFile(target);
}

const char* const kArchiveXml =
    R"(<Bank id="Arch" type="guitar" tuning="64 59"><SamplesTree><Node class="pick"><Node class="sustain"><Node class="down"><Samples>
<Sample midi="60" string="0"><Wave file="a.wav"/></Sample>
<Sample midi="62" string="1"><Wave file="b.flac" gain="6"/></Sample>
<Sample midi="64"><Wave file="HillsideGrand9-Key-Sus-none-05-none-093-none.ogg"/></Sample>
<Sample midi="65"><Wave file="missing.wav"/></Sample>
</Samples></Node></Node></Node></SamplesTree></Bank>)";

void writeArchives(const fs::path& out, const fs::path& scratch,
                   const std::vector<std::pair<std::string, std::string>>& audio) {
    using oxsf::archive::ArchiveInput;
    const auto& wav = audio.at(0).second;
    const auto& flac = audio.at(1).second;
    const auto& ogg = audio.at(2).second;
    writeFile(
        out / "bank.tq7bank",
        packed(scratch,
               {ArchiveInput::fromBytes("Samples.xml", kArchiveXml),
                ArchiveInput::fromBytes("a.wav", wav), ArchiveInput::fromBytes("b.flac", flac),
                ArchiveInput::fromBytes("HillsideGrand9-Key-Sus-none-05-none-093-none.ogg", ogg)}));
    writeFile(out / "fixed-names.tq7bank",
              packed(scratch, {ArchiveInput::fromBytes("Samples.xml", "<Bank id=\"n\"/>"),
                               ArchiveInput::fromBytes("a.wav", wav),
                               ArchiveInput::fromBytes("a.flac", flac),
                               ArchiveInput::fromBytes("a.ogg", ogg)}));
    writeFile(out / "duplicates.tq7bank",
              packed(scratch, {ArchiveInput::fromBytes("Samples.xml", "<A id=\"first\"/>"),
                               ArchiveInput::fromBytes("Samples.xml", "<A id=\"second\"/>")}));
    writeFile(out / "no-description.tq7bank",
              packed(scratch, {ArchiveInput::fromBytes("a.wav", wav)}));
    writeFile(out / "bad-description.tq7bank",
              packed(scratch, {ArchiveInput::fromBytes("Samples.xml", "<A tuning=\"1 x\"/>")}));
    writeFile(out / "empty.tq7bank", packed(scratch, {}));
    writeFile(out / "magic-only.tq7bank", "OXARCHIVE");
}

// ---------------------------------------------------------------- demo banks

// The first `count` names given by the description's file attributes.
std::vector<std::string> waveFiles(const std::string& xml, size_t count) {
    std::vector<std::string> names;
    const std::string key = "file=\"";
    for (size_t at = xml.find(key); at != std::string::npos && names.size() < count;
         at = xml.find(key, at)) {
        at += key.size();
        names.push_back(xml.substr(at, xml.find('"', at) - at));
    }
    return names;
}

// The demo banks' descriptions as they are, and the drum kit's description in
// an archive whose first few samples are tiny tones (the real ones are large).
void writeDemoSeeds(const fs::path& out, const fs::path& scratch, const std::string& tone) {
    using oxsf::archive::ArchiveInput;
    oxsf::demo::writeGuitarBank((scratch / "guitar").string());
    oxsf::demo::writeDrumKit((scratch / "drums").string());
    const std::string guitar = readFile(scratch / "guitar" / "Samples.xml");
    const std::string drums = readFile(scratch / "drums" / "Samples.xml");
    for (const char* target : {"fuzz_description", "fuzz_check"}) {
        writeFile(out / target / "demo-guitar.xml", guitar);
        writeFile(out / target / "demo-drums.xml", drums);
    }
    std::vector<ArchiveInput> entries = {ArchiveInput::fromBytes("Samples.xml", drums)};
    for (const auto& name : waveFiles(drums, 3)) {
        entries.push_back(ArchiveInput::fromBytes(name, tone));
    }
    writeFile(out / "fuzz_archive" / "demo-drums.tq7bank", packed(scratch, entries));
}

// ---------------------------------------------------------------- catalogue

const std::vector<std::string> kPaths = {
    "bank",         "bank/", "file.tq7bank", "dir.tq7bank",   "both.jux", "broken", "missing.jux",
    "bank/Samples", "x.JUX", ".tq7bank",     "file.tq7bank/", "bank//",   "",
};

} // namespace

void writeImportSeeds(const fs::path& out); // import_seeds.cpp

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: fuzz_make_seeds <output folder>\n";
        return 2;
    }
    const fs::path out = argv[1];
    const fs::path scratch = out / ".scratch";
    try {
        fs::create_directories(scratch);
        // The bank check reads what the description reader reads.
        for (const auto& [name, xml] : kDescriptions) {
            for (const char* target : {"fuzz_description", "fuzz_check"}) {
                writeFile(out / target / name, xml);
            }
        }

        std::vector<std::pair<std::string, std::string>> audio;
        for (const auto& [name, tone] : kTones) {
            audio.emplace_back(name, encode(tone, scratch));
            writeFile(out / "fuzz_decoders" / name, audio.back().second);
        }
        // The archives take a WAV, a FLAC and an Ogg file in that order.
        writeArchives(out / "fuzz_archive", scratch, {audio[0], audio[5], audio[8]});
        writeDemoSeeds(out, scratch, audio[0].second);
        writeImportSeeds(out);

        int index = 0;
        for (const auto& path : kPaths) {
            writeFile(out / "fuzz_catalogue" / ("path" + std::to_string(index++)), path);
        }
        fs::remove_all(scratch);
    } catch (const std::exception& error) {
        std::cerr << "fuzz_make_seeds: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
