// Seeds of the import targets: SFZ files of each construct the parser knows,
// and small soundfonts written by our own SF2 writer.
#include <demo/SoundFontWriter.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::vector<std::pair<std::string, std::string>> kSfz = {
    {"layers.sfz", R"(// two layers and a split
#define $SPLIT 64
<control> default_path=s/
<global> volume=-3 ampeg_attack=0.01 ampeg_sustain=50 ampeg_release=0.3
<group> lovel=1 hivel=$SPLIT
<region> sample=b.wav lokey=0 hikey=c4 pitch_keycenter=48 loop_mode=loop_continuous
<group> lovel=65 /* loud */ hivel=127
<region> sample=b.wav lokey=0 hikey=60 tune=-12 transpose=1 pan=30
<region> sample=../a.wav lokey=c#4 hikey=127 pitch_keycenter=sample loop_start=4 loop_end=40
)"},
    {"drums.sfz", "<group> pitch_keytrack=0\n<region> key=36 sample=a.wav\n"
                  "<region> key=38 sample=a.wav offset=4 end=50 trigger=release\n"
                  "<region> key=42 sample=a.wav seq_position=2\n<effect> type=reverb\n"},
    {"include.sfz", "#include \"layers.sfz\"\n<master> loopmode=one_shot\n<region>sample=a.wav\n"},
    {"odd.sfz", "sample=a.wav <region sample=*sine key=z9 lovel=200 <region> sample=a.wav "
                "key=-5 hikey=c-1 loop_mode=loop_sustain loop_end=9999\n"},
};

/// The demo soundfont with every sample cut to a few dozen frames.
std::string smallFont(int programs) {
    oxsf::demo::Sf2Font font = oxsf::demo::demoSoundFont(programs);
    for (auto& sample : font.samples) {
        sample.frames.resize(48);
        sample.loopStart = 8;
        sample.loopEnd = 40;
    }
    return oxsf::demo::sf2Bytes(font);
}

void write(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

} // namespace

void writeImportSeeds(const fs::path& out) {
    for (const auto& [name, text] : kSfz) {
        write(out / "fuzz_sfz" / name, text);
    }
    write(out / "fuzz_sf2" / "demo.sf2", smallFont(2));
    write(out / "fuzz_sf2" / "kit-only.sf2", smallFont(0));
}
