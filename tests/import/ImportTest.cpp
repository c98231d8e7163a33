// Imported banks, checked through the library's own search: every note plays
// the sample its source assigns at every dynamic, loops hold to the frame,
// stereo pairs join, and no two banks share a sample file name.

#include "support/TestSupport.h"

#include "Sfz.h"
#include "ToolRunner.h"

#include <demo/SoundFontWriter.h>

#include <ox/audio/Decoders.h>
#include <ox/import/Import.h>
#include <ox/stream/FileStream.h>
#include <soundfont/SampleTree.h>
#include <soundfont/SoundFontManager.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <regex>
#include <set>

#include <unistd.h>

namespace fs = std::filesystem;
using namespace oxtest;
using namespace ox::soundfont;
using ox::import::importSource;

namespace {

const SampleTreeNodeSample* lookUp(const SoundFont& bank, int key, int dynamic) {
    return bank.sampleTree().findSampleByMidi(key, dynamic);
}

/// The file a note plays, "" for none.
std::string served(const SoundFont& bank, int key, int dynamic) {
    const SampleTreeNodeSample* sample = lookUp(bank, key, dynamic);
    return sample && !sample->files.empty() ? sample->files.begin()->second : "";
}

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

int velocityOf(int dynamic) {
    return std::max(1, velocityFromDynamic(dynamic));
}

/// The level a player sounds at: its own gain times its decoded stream's.
float levelOf(const VelocityPlayer& p) {
    return p.player.gain() * p.player.stream()->gain();
}

/// Imports `source`, which must come out as one bank `folder` with nothing
/// dropped, and opens that bank; null (the failure recorded) otherwise.
std::shared_ptr<SoundFont> importWhole(const std::string& source, const std::string& out,
                                       const std::string& folder) {
    const auto result = importSource(source, out);
    if (result.banks.size() != 1u) {
        ADD_FAILURE() << result.banks.size() << " banks from " << source;
        return nullptr;
    }
    EXPECT_TRUE(result.banks[0].dropped.empty()) << result.banks[0].dropped.front();
    SoundFontManager manager;
    auto bank = manager.addDirectory(out + "/" + folder);
    EXPECT_TRUE(bank) << folder;
    return bank;
}

using Loop = std::pair<int64_t, int64_t>;

/// The loop our own decoder reads from a written FLAC file; {-1, -1} for none.
Loop loopOf(const fs::path& file) {
    const auto decoder = ox::audio::FlacDecoder::make(ox::stream::FileStream::open(file, "rb"), 1);
    ox::audio::IDecoder::Loop loop{-1, -1};
    if (!decoder || !decoder->loop(loop)) {
        return {-1, -1};
    }
    return {loop.start, loop.end};
}

std::vector<fs::path> sampleFiles(const std::string& bank) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(bank + "/Samples")) {
        files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

nlohmann::json listing(const std::string& outDir) {
    return nlohmann::json::parse(readFile(outDir + "/instruments.json"))["banks"];
}

std::string demoFont(const TempDir& dir, const oxsf::demo::Sf2Font& font) {
    const std::string path = dir.file("demo.sf2");
    writeFile(path, oxsf::demo::sf2Bytes(font));
    return path;
}

} // namespace

TEST(ImportSf2, EveryNoteAtEveryDynamicPlaysTheSampleTheSourceAssigns) {
    TempDir dir;
    const auto result = importSource(demoFont(dir, oxsf::demo::demoSoundFont(2)), dir.file("out"));
    ASSERT_EQ(result.banks.size(), 3u);
    SoundFontManager manager;
    const auto pluck = manager.addDirectory(dir.file("out/000-000-Pluck-0"));
    const auto kit = manager.addDirectory(dir.file("out/128-000-Demo-Kit"));
    ASSERT_TRUE(pluck && kit);

    static const char* roots[] = {"E2", "E3", "E4", "E5"};
    for (int key = 0; key < 128; ++key) {
        for (int dynamic = 0; dynamic < kDynamicCount; ++dynamic) {
            const int zone = key <= 46 ? 0 : key <= 58 ? 1 : key <= 70 ? 2 : 3;
            const std::string expected = std::string("Pluck-") + roots[zone] +
                                         (velocityOf(dynamic) >= 80 ? "-loud" : "-soft");
            EXPECT_TRUE(has(served(*pluck, key, dynamic), expected)) << key << " " << dynamic;
        }
    }

    // Each key of the kit is its own piece at every dynamic, even where only one
    // piece has layers; the toms share a sample and carry their pitch as repitch.
    const std::vector<int> toms{41, 43, 45, 47, 48, 50};
    for (int key : {35, 36, 37, 38, 40, 41, 42, 43, 44, 45, 46, 47, 48, 49, 50}) {
        for (int dynamic = 0; dynamic < kDynamicCount; ++dynamic) {
            const SampleTreeNodeSample* sample = lookUp(*kit, key, dynamic);
            ASSERT_TRUE(sample);
            EXPECT_EQ((*sample)[1], key) << dynamic;
            if (key == 38) {
                EXPECT_TRUE(has(served(*kit, key, dynamic),
                                velocityOf(dynamic) <= 90 ? "Snare-soft" : "Snare-loud"));
            }
            const auto tom = std::find(toms.begin(), toms.end(), key);
            float semitones = 0;
            if (tom != toms.end()) {
                ASSERT_TRUE(
                    sample->tryGetCorrection(ox::audio::SoundCorrection::Repitch, semitones));
                EXPECT_NEAR(semitones * 100, 7 * (tom - toms.begin() + 1) + (key - 55) * 100, 1e-3);
            }
        }
    }
    // The hi-hats' exclusive class is their choke group.
    EXPECT_FALSE(has(nlohmann::json(result.banks[2].dropped).dump(), "exclusive class"));
    for (const int key : {42, 44, 46}) {
        const auto* hat = kit->sampleTree().findSampleForVelocity(key, 100);
        ASSERT_TRUE(hat) << key;
        EXPECT_EQ(hat->trigger.chokeGroup, 1) << key;
    }
    EXPECT_EQ(kit->sampleTree().findSampleForVelocity(49, 100)->trigger.chokeGroup, 0);

    const auto banks = listing(dir.file("out"));
    ASSERT_EQ(banks.size(), 3u);
    EXPECT_EQ(banks[1]["path"], "000-001-Stereo-Pluck-1");
    EXPECT_EQ(banks[1]["program"], 1);
    EXPECT_EQ(banks[2]["kind"], "unpitched");
    EXPECT_EQ(banks[2]["bank"], 128);
    EXPECT_EQ(banks[2]["source"], "demo.sf2");
}

TEST(ImportSf2, LoopsHoldToTheFrameStereoPairsJoinAndBadZonesAreSkipped) {
    TempDir dir;
    oxsf::demo::Sf2Font font = oxsf::demo::demoSoundFont(2);
    using oxsf::demo::sf2Range;
    using oxsf::demo::sf2Value;
    font.instruments[0].zones.push_back(
        {{sf2Range(oxsf::demo::KeyRange, 0, 127), sf2Value(oxsf::demo::StartOffset, -5)}, 0});
    ox::import::ImportOptions options;
    options.presets = {{0, 0}, {0, 1}};
    const auto result = importSource(demoFont(dir, font), dir.file("out"), options);
    ASSERT_EQ(result.banks.size(), 2u);
    EXPECT_TRUE(has(nlohmann::json(result.banks[0].warnings).dump(), "zone skipped"));

    // SF2 loop ends are exclusive; what our decoder reads back must be the same frames.
    const std::string pluck = dir.file("out/000-000-Pluck-0");
    int checked = 0;
    for (const fs::path& file : sampleFiles(pluck)) {
        for (const auto& sample : font.samples) {
            std::string name = sample.name;
            std::replace(name.begin(), name.end(), ' ', '-');
            if (!has(file.filename().string(), name + ".flac")) {
                continue;
            }
            EXPECT_EQ(loopOf(file), Loop(sample.loopStart, sample.loopEnd));
            ++checked;
        }
    }
    EXPECT_EQ(checked, 8);
    // Sample mode 1 loops through the release: the players keep looping after note-off.
    {
        SoundFontManager manager;
        const auto bank = manager.addDirectory(pluck);
        ASSERT_TRUE(bank);
        const auto played = bank->samplePlayersForVelocity(64, 100);
        ASSERT_FALSE(played.empty());
        EXPECT_TRUE(played[0].player.loopsThroughRelease());
        // The release is the soundfont's, timed from full level.
        ASSERT_TRUE(played[0].player.envelope());
        EXPECT_TRUE(played[0].player.envelope()->releaseFromFull);
    }
    const std::string xml = readFile(pluck + "/Samples.xml");
    for (const char* envelope : {"ampDecay=\"0.12\"", "ampSustain=\"-12\"", "ampRelease=\"0.5\"",
                                 "releaseFromFull=\"1\""}) {
        EXPECT_TRUE(has(xml, envelope)) << envelope;
    }
    EXPECT_TRUE(has(nlohmann::json(result.banks[0].dropped).dump(), "reverb send"));

    // The left and right samples loop at their own frames: each keeps its file
    // and its loop, the right one as the left one's layer, each hard on its side.
    const std::string pair = dir.file("out/000-001-Stereo-Pluck-1");
    const auto stereo = sampleFiles(pair);
    ASSERT_EQ(stereo.size(), 2u);
    const auto& left = font.samples[8];
    const auto& right = font.samples[9];
    ASSERT_NE(left.loopStart, right.loopStart);
    std::set<std::pair<int64_t, int64_t>> loops;
    for (const fs::path& file : stereo) {
        const SoundFile side = readSound(file.string());
        ASSERT_EQ(side.channels, 1);
        const auto& source = side.samples[97] == left.frames[97] / 32768.0f ? left : right;
        for (size_t i = 0; i < source.frames.size(); i += 97) {
            ASSERT_EQ(side.samples[i], source.frames[i] / 32768.0f) << file;
        }
        EXPECT_EQ(loopOf(file), Loop(source.loopStart, source.loopEnd)) << file;
        loops.insert(loopOf(file));
    }
    EXPECT_EQ(loops.size(), 2u);
    EXPECT_FALSE(has(nlohmann::json(result.banks[1].dropped).dump(), "loop"));
    SoundFontManager manager;
    const auto bank = manager.addDirectory(pair);
    ASSERT_TRUE(bank);
    const auto played = bank->samplePlayersForVelocity(60, 100);
    ASSERT_EQ(played.size(), 2u);
    ASSERT_TRUE(played[0].player.shape() && played[1].player.shape());
    EXPECT_EQ(played[0].player.shape()->pan, -1.0f);
    EXPECT_EQ(played[1].player.shape()->pan, 1.0f);
    EXPECT_NE(played[0].player.stream(), played[1].player.stream());
    // The right side sounds as the left does, but for its pan: the same
    // attributes on its Layer as on the Wave, file and pan aside (its loop
    // through the release is the Sample's on the Wave's side).
    EXPECT_TRUE(played[0].player.loopsThroughRelease() && played[1].player.loopsThroughRelease());
    const std::string description = readFile(pair + "/Samples.xml");
    const auto attributes = [&](const std::string& element) {
        const size_t at = description.find("<" + element + " ");
        std::string text = description.substr(at, description.find("/>", at) - at);
        text = std::regex_replace(text, std::regex(" (file|pan|loopRelease)=\"[^\"]*\""), "");
        return text.substr(text.find(' '));
    };
    EXPECT_EQ(attributes("Wave"), attributes("Layer"));
    // The Wave's gain is its stream's; a Layer's, its player's.
    EXPECT_FLOAT_EQ(levelOf(played[0]), levelOf(played[1]));
}

TEST(ImportSf3, OggVorbisSamplesDecodeToTheFramesAndLoopsOfTheirSf2) {
    TempDir dir;
    const oxsf::demo::Sf2Font font = oxsf::demo::demoSoundFont(2);
    writeFile(dir.file("demo.sf3"), oxsf::demo::sf3Bytes(font));
    const auto plain = importSource(demoFont(dir, font), dir.file("sf2"));
    const auto compressed = importSource(dir.file("demo.sf3"), dir.file("sf3"));
    ASSERT_EQ(plain.banks.size(), compressed.banks.size());
    int compared = 0;
    for (size_t b = 0; b < plain.banks.size(); ++b) {
        const auto ours = sampleFiles(dir.file("sf3/" + compressed.banks[b].path));
        const auto theirs = sampleFiles(dir.file("sf2/" + plain.banks[b].path));
        ASSERT_EQ(ours.size(), theirs.size()) << plain.banks[b].path;
        for (size_t i = 0; i < ours.size(); ++i) {
            // Same frames, same loop; the sound within what Vorbis keeps.
            EXPECT_EQ(loopOf(ours[i]), loopOf(theirs[i])) << ours[i];
            const SoundFile a = readSound(ours[i].string());
            const SoundFile b = readSound(theirs[i].string());
            ASSERT_EQ(a.samples.size(), b.samples.size()) << ours[i];
            double ab = 0, aa = 0, bb = 0;
            for (size_t j = 0; j < a.samples.size(); ++j) {
                ab += a.samples[j] * b.samples[j];
                aa += a.samples[j] * a.samples[j];
                bb += b.samples[j] * b.samples[j];
            }
            EXPECT_GT(ab / std::sqrt(aa * bb), 0.99) << ours[i];
            ++compared;
        }
    }
    EXPECT_GT(compared, 10);

    // A sample whose stream is not Ogg is refused by name, and nothing is left behind.
    std::string broken = oxsf::demo::sf3Bytes(font);
    broken.replace(broken.find("OggS"), 4, "Junk");
    writeFile(dir.file("broken.sf3"), broken);
    try {
        importSource(dir.file("broken.sf3"), dir.file("broken"));
        ADD_FAILURE() << "not refused";
    } catch (const ox::import::ImportError& e) {
        EXPECT_TRUE(has(e.what(), "sample 0: its Ogg Vorbis data does not decode")) << e.what();
    }
    for (const auto& entry : fs::directory_iterator(fs::temp_directory_path())) {
        EXPECT_FALSE(
            has(entry.path().filename().string(), "oxsf-sf3-" + std::to_string(getpid()) + "-"))
            << entry.path();
    }
}

TEST(ImportSfz, RegionsStackedOverOthersSoundWithThemAsLayers) {
    // A hammer over the whole keyboard, struck only from velocity 64, stacked
    // over two string regions; a bell over the keys around where they meet.
    TempDir dir;
    ASSERT_TRUE(writeTone(dir.file("low.wav"), AudioFormat::Wav16, Tone{.frames = 2000}));
    ASSERT_TRUE(writeTone(dir.file("high.wav"), AudioFormat::Wav16, Tone{.frames = 2100}));
    ASSERT_TRUE(writeTone(dir.file("hammer.wav"), AudioFormat::Wav16, Tone{.frames = 900}));
    ASSERT_TRUE(writeTone(dir.file("bell.wav"), AudioFormat::Wav16, Tone{.frames = 800}));
    writeFile(dir.file("stack.sfz"), R"(
<region> sample=low.wav lokey=0 hikey=59 pitch_keycenter=48
<region> sample=high.wav lokey=60 hikey=127 pitch_keycenter=72 ampeg_release=0.3 tune=-20
<region> sample=hammer.wav lokey=0 hikey=127 pitch_keycenter=66 tune=10 volume=-6
         lovel=64 ampeg_release=0.05 pan=-50
<region> sample=bell.wav lokey=50 hikey=70 pitch_keycenter=60
)");
    const auto bank = importWhole(dir.file("stack.sfz"), dir.file("out"), "stack");
    ASSERT_TRUE(bank);
    for (const auto& [key, string] : {std::pair{40, "-low.flac"}, {90, "-high.flac"}}) {
        const auto loud = bank->samplePlayersForVelocity(key, 100);
        ASSERT_EQ(loud.size(), 2u) << key;
        EXPECT_TRUE(has(loud[0].sample->files.begin()->second, string));
        EXPECT_TRUE(has(loud[1].sample->files.begin()->second, "-hammer.flac"));
        // At its own pitch, level, envelope and pan, whatever it is stacked on
        // (the high string's tuning included).
        EXPECT_NEAR(loud[0].transposition, key < 60 ? key - 48 : key - 72 - 0.2, 1e-5) << key;
        EXPECT_NEAR(loud[1].transposition, key - 66 + 0.1, 1e-5) << key;
        EXPECT_NEAR(levelOf(loud[1]) / levelOf(loud[0]), std::pow(10.0, -6.0 / 20.0), 1e-4);
        ASSERT_TRUE(loud[1].player.envelope() && loud[1].player.shape());
        EXPECT_FLOAT_EQ(loud[1].player.envelope()->release, 0.05f);
        EXPECT_FLOAT_EQ(*loud[1].player.shape()->pan, -0.5f);
        // Below its velocity the hammer is silent; by dynamic, as before.
        EXPECT_EQ(bank->samplePlayersForVelocity(key, 63).size(), 1u) << key;
    }
    // The bell sounds over its own keys alone, on either string, at its own pitch.
    for (const int key : {49, 50, 59, 60, 70, 71}) {
        const auto played = bank->samplePlayersForVelocity(key, 30);
        const bool bell = key >= 50 && key <= 70;
        ASSERT_EQ(played.size(), bell ? 2u : 1u) << key;
        EXPECT_TRUE(has(played[0].sample->files.begin()->second, key < 60 ? "-low" : "-high"));
        if (bell) {
            EXPECT_TRUE(has(played[1].sample->files.begin()->second, "-bell.flac")) << key;
            EXPECT_NEAR(played[1].transposition, key - 60, 1e-5) << key;
        }
    }
}

TEST(ImportSfz, RoundRobinAndRandomAlternatesTakeTheirTurns) {
    // Three strikes in turn over a thump that sounds at every strike; above
    // them, two alternates split the random draw.
    TempDir dir;
    for (const auto& [name, frequency] :
         {std::pair{"one", 300.0}, {"two", 450.0}, {"three", 675.0}, {"thump", 100.0}}) {
        ASSERT_TRUE(writeTone(dir.file(std::string(name) + ".wav"), AudioFormat::Wav16,
                              Tone{.frames = 22050, .frequency = frequency}));
    }
    for (const char* name : {"heads", "tails"}) {
        ASSERT_TRUE(writeTone(dir.file(std::string(name) + ".wav"), AudioFormat::Wav16,
                              Tone{.frames = 1000}));
    }
    writeFile(dir.file("turns.sfz"), R"(
<group> seq_length=3 lokey=0 hikey=63 pitch_keycenter=60
<region> sample=one.wav seq_position=1
<region> sample=two.wav seq_position=2
<region> sample=three.wav seq_position=3
<group> lokey=0 hikey=63 pitch_keycenter=60
<region> sample=thump.wav volume=-12
<group>
<region> sample=heads.wav lokey=64 hikey=127 hirand=0.4
<region> sample=tails.wav lokey=64 hikey=127 lorand=0.4
<region> sample=tails.wav key=100 seq_length=2 seq_position=3
)");
    const auto result = importSource(dir.file("turns.sfz"), dir.file("out"));
    ASSERT_EQ(result.banks.size(), 1u);
    ASSERT_EQ(result.banks[0].dropped.size(), 1u);
    EXPECT_TRUE(has(result.banks[0].dropped[0], "alternates no strike plays"))
        << result.banks[0].dropped[0];
    SoundFontManager manager;
    const auto bank = manager.addDirectory(dir.file("out/turns"));
    ASSERT_TRUE(bank);
    const auto files = [&](int key, const Strike& strike) {
        std::string names;
        for (const VelocityPlayer& p : bank->samplePlayersForVelocity(key, 100, strike)) {
            const std::string file = p.sample->files.begin()->second;
            names += file.substr(file.rfind('-') + 1) + " ";
        }
        return names;
    };
    for (const int key : {40, 60, 63}) {
        EXPECT_EQ(files(key, {0}), "one.flac thump.flac ") << key;
        EXPECT_EQ(files(key, {1}), "two.flac thump.flac ") << key;
        EXPECT_EQ(files(key, {2}), "three.flac thump.flac ") << key;
        EXPECT_EQ(files(key, {3}), "one.flac thump.flac ") << key;
        EXPECT_EQ(files(key, kEveryAlternate), "one.flac two.flac three.flac thump.flac ");
    }
    // Without a strike, the first: what a host that counts no strikes hears.
    EXPECT_EQ(bank->samplePlayersForVelocity(60, 100).size(), 2u);
    EXPECT_EQ(files(90, {0, 0.0f}), "heads.flac ");
    EXPECT_EQ(files(90, {5, 0.39f}), "heads.flac ");
    EXPECT_EQ(files(90, {0, 0.4f}), "tails.flac ");
    EXPECT_EQ(files(90, {0, 0.99f}), "tails.flac ");

    // oxsf play counts the strikes of each key: four strikes, three alternates.
    const std::string wav = dir.file("turns.wav");
    const ToolResult played = runTool({"play", dir.file("out/turns"), "C4@0:0.4", "C4@0.5:0.4",
                                       "C4@1:0.4", "C4@1.5:0.4", "-o", wav, "--release", "0.01"});
    ASSERT_EQ(played.exitCode, 0) << played.err;
    const SoundFile sound = readSound(wav);
    const double expected[] = {300.0, 450.0, 675.0, 300.0};
    for (int note = 0; note < 4; ++note) {
        // The thump sits a decade lower and 12 dB down: the crossings follow the alternate.
        int crossings = 0;
        const size_t from = size_t((0.5 * note + 0.05) * sound.sampleRate);
        const size_t to = size_t((0.5 * note + 0.35) * sound.sampleRate);
        for (size_t f = from; f < to; ++f) {
            const size_t c = size_t(sound.channels);
            crossings += sound.samples[f * c] < 0.0f && sound.samples[(f + 1) * c] >= 0.0f;
        }
        EXPECT_NEAR(crossings / 0.3, expected[note], 12.0) << "strike " << note;
    }
}

TEST(ImportSfz, RootsBeyondTheirKeysStillServeTheirOwnKeys) {
    // Each region's root lies above its keys, nearer to the next region's, and
    // the last two share a sample at different levels: every key must still
    // sound its own region, at its own pitch and level.
    TempDir dir;
    for (const char* name : {"a.wav", "b.wav", "c.wav"}) {
        ASSERT_TRUE(writeTone(dir.file(name), AudioFormat::Wav16, Tone{.frames = 1000}));
    }
    writeFile(dir.file("far.sfz"), R"(
<region> sample=a.wav lokey=0 hikey=55 pitch_keycenter=65
<region> sample=b.wav lokey=56 hikey=59 pitch_keycenter=70 tune=-7
<region> sample=c.wav lokey=60 hikey=67 pitch_keycenter=75
<region> sample=c.wav lokey=68 hikey=127 pitch_keycenter=75 volume=-6
)");
    const auto bank = importWhole(dir.file("far.sfz"), dir.file("out"), "far");
    ASSERT_TRUE(bank);
    const float full = levelOf(bank->samplePlayersForVelocity(60, 100).at(0));
    for (int key = 0; key < 128; ++key) {
        const auto played = bank->samplePlayersForVelocity(key, 100);
        ASSERT_EQ(played.size(), 1u) << key;
        const std::string file = played[0].sample->files.begin()->second;
        const auto [part, root] = key <= 55   ? std::pair{"-a.flac", 65.0}
                                  : key <= 59 ? std::pair{"-b.flac", 70.07}
                                              : std::pair{"-c.flac", 75.0};
        EXPECT_TRUE(has(file, part)) << key << " " << file;
        EXPECT_NEAR(played[0].transposition, key - root, 1e-4) << key;
        EXPECT_NEAR(levelOf(played[0]) / full, key >= 68 ? std::pow(10.0, -6.0 / 20.0) : 1.0, 1e-4)
            << key;
    }
}

TEST(ImportSfz, InheritanceDefinesLayersAndLoops) {
    TempDir dir;
    Tone tone{.frames = 2000, .frequency = 261.6};
    ASSERT_TRUE(writeTone(dir.file("samples/soft c.wav"), AudioFormat::Wav16, tone));
    tone.amplitude = 0.9;
    ASSERT_TRUE(writeTone(dir.file("samples/loud c.wav"), AudioFormat::Wav24, tone));
    tone.loopStart = 500; // the file's own loop, stored inclusive in its smpl chunk
    tone.loopEnd = 1500;
    ASSERT_TRUE(writeTone(dir.file("samples/high.wav"), AudioFormat::Wav16, tone));
    writeFile(dir.file("piano.sfz"), R"(// layered piano
#define $SPLIT 100
<control> default_path=samples/
<global> volume=-3 ampeg_release=0.4
<group> lovel=1 hivel=$SPLIT
<region> sample=soft c.wav lokey=0 hikey=66 pitch_keycenter=c4
         loop_mode=loop_continuous loop_start=100 loop_end=299 pan=20
<group> lovel=101 /* the loud layer */ hivel=127
<region> sample=loud c.wav lokey=0 hikey=66 pitch_keycenter=60 tune=-12
         cutoff=1000 resonance=3 fil_veltrack=1200 fileg_depth=600 fileg_attack=0.1
         fileg_sustain=50 amplfo_freq=5 amplfo_depth=2 pitchlfo_freq=6 pitchlfo_depth=20
         group=2 off_by=2
<group>
<region> sample=high.wav lokey=g4 hikey=127 pitch_keycenter=72 fil_type=hpf_2p cutoff=300
)");
    const auto result = importSource(dir.file("piano.sfz"), dir.file("out"));
    ASSERT_EQ(result.banks.size(), 1u);
    EXPECT_EQ(result.banks[0].dropped, std::vector<std::string>{"fil_type=hpf_2p (1 region)"});
    SoundFontManager manager;
    const auto bank = manager.addDirectory(dir.file("out/piano"));
    ASSERT_TRUE(bank);
    for (int key = 0; key < 128; ++key) {
        for (int dynamic = 0; dynamic < kDynamicCount; ++dynamic) {
            const std::string file = served(*bank, key, dynamic);
            EXPECT_TRUE(has(file, key >= 67                    ? "-high.flac"
                                  : velocityOf(dynamic) <= 100 ? "-soft-c.flac"
                                                               : "-loud-c.flac"))
                << key << " " << dynamic << " " << file;
        }
    }
    // SFZ loop ends are inclusive, smpl chunks' too; ours are exclusive.
    for (const fs::path& file : sampleFiles(dir.file("out/piano"))) {
        EXPECT_EQ(loopOf(file), has(file.string(), "soft")   ? Loop(100, 300)
                                : has(file.string(), "high") ? Loop(500, 1500)
                                                             : Loop(-1, -1));
    }
    const Wav* loud = nullptr;
    for (const fs::path& file : sampleFiles(dir.file("out/piano"))) {
        if (has(file.string(), "loud")) {
            loud = bank->layer().findWav(file.filename().string());
        }
    }
    ASSERT_TRUE(loud);
    for (const int key : {50, 60, 66}) {
        const auto played = bank->samplePlayersForVelocity(key, 120);
        ASSERT_FALSE(played.empty());
        EXPECT_NEAR(played[0].transposition, key - 60 - 0.12, 1e-5) << key;
    }
    // The voice: the cutoff reached at velocity 127, falling by the track below it.
    ASSERT_TRUE(loud->shape);
    EXPECT_FLOAT_EQ(loud->shape->cutoff, 2000.0f);
    EXPECT_FLOAT_EQ(loud->shape->velocityToCutoff, -1200.0f);
    EXPECT_FLOAT_EQ(loud->shape->resonance, 3.0f);
    EXPECT_FLOAT_EQ(loud->shape->modEnvelopeToCutoff, 600.0f);
    EXPECT_FLOAT_EQ(loud->shape->modEnvelope.sustain, 0.5f);
    EXPECT_FLOAT_EQ(loud->shape->modEnvelope.attack, 0.1f);
    EXPECT_FLOAT_EQ(loud->shape->modLfoToVolume, 2.0f);
    EXPECT_FLOAT_EQ(loud->shape->vibratoToPitch, 20.0f);
    EXPECT_EQ(bank->samplePlayersForVelocity(60, 120).at(0).chokeGroup, 2);
    const auto soft = bank->samplePlayersForVelocity(60, 50);
    ASSERT_TRUE(soft.at(0).player.shape());
    EXPECT_FLOAT_EQ(*soft.at(0).player.shape()->pan, 0.2f);
    EXPECT_NEAR(loud->gain, 0.7079, 1e-3); // -3 dB
    EXPECT_TRUE(has(readFile(dir.file("out/piano/Samples.xml")), "ampRelease=\"0.4\""));
}

TEST(ImportSfz, ParserKeepsBlanksInValuesAndExpandsLongerDefinesFirst) {
    const auto more = [](const std::string& name) {
        return name == "more.sfz" ? std::optional<std::string>("<region>sample=d.wav")
                                  : std::nullopt;
    };
    const auto document = ox::import::parseSfz(
        "#define $N 6\n#define $NOTE c$N\n<group>key=$NOTE<region>sample=a b.wav  lovel=3 // x\n"
        "<region> sample=c.wav /* <region> sample=hidden.wav\n */ hivel=9\n"
        "#include \"more.sfz\"\n",
        more);
    ASSERT_EQ(document.regions.size(), 3u);
    EXPECT_EQ(
        document.regions[0].opcodes,
        (std::map<std::string, std::string>{{"key", "c6"}, {"lovel", "3"}, {"sample", "a b.wav"}}));
    EXPECT_EQ(document.regions[1].opcodes.at("hivel"), "9");
    EXPECT_EQ(document.regions[1].opcodes.count("lovel"), 0u);
    EXPECT_EQ(document.regions[2].opcodes.at("sample"), "d.wav");
    EXPECT_EQ(document.regions[2].opcodes.at("key"), "c6");

    // Files that include themselves at every depth, and defines that double
    // each other, would grow without bound: each stops at a cap and says so.
    std::string doubling;
    for (char c = 'a'; c < 'z'; ++c) {
        const std::string next = std::string("$D") + char(c + 1);
        doubling += std::string("#define $D") + c + " " + next + next + "\n";
    }
    for (const size_t blanks : {size_t(0), size_t(64 * 1024)}) {
        const std::string includes = "#include \"self.sfz\"\n#include \"self.sfz\"\n"
                                     "#include \"self.sfz\"\n";
        const auto hostile = ox::import::parseSfz(
            doubling + "<region>sample=$Da\n" + includes, [&](const std::string&) {
                return std::optional<std::string>(std::string(blanks, ' ') + "\n" + includes);
            });
        EXPECT_GT(hostile.ignored.count("line past 1 MB once #define values are put in"), 0u);
        EXPECT_GT(hostile.ignored.count(blanks ? "#include past 32 MB of text in all"
                                               : "#include past 4096 files in all"),
                  0u);
    }

    EXPECT_EQ(ox::import::sfzKey("c#4"), 61);
    EXPECT_EQ(ox::import::sfzKey("eb5"), 75);
    EXPECT_EQ(ox::import::sfzKey("c-1"), 0);
    EXPECT_FALSE(ox::import::sfzKey("h2"));
}

TEST(ImportHydrogen, PiecesByNameLayersAsDynamicsAndNoSharedFileNames) {
    TempDir dir;
    const auto writeKit = [&](const std::string& folder, double frequency) {
        Tone tone{.frames = 800, .frequency = frequency};
        EXPECT_TRUE(writeTone(dir.file(folder + "/kick soft.wav"), AudioFormat::Wav16, tone));
        EXPECT_TRUE(writeTone(dir.file(folder + "/Cowbell-Hard.wav"), AudioFormat::Wav16, tone));
        EXPECT_TRUE(writeTone(dir.file(folder + "/snare.aiff"), AudioFormat::Aiff16, tone));
        writeFile(dir.file(folder + "/drumkit.xml"), R"(<?xml version="1.0"?>
<drumkit_info xmlns="http://www.hydrogen-music.org/drumkit">
  <name>Test Kit</name>
  <instrumentList>
    <instrument><id>0</id><name>Kick</name>
      <filterActive>true</filterActive><filterCutoff>1</filterCutoff><filterResonance>0</filterResonance>
      <layer><filename>kick soft.wav</filename><min>0</min><max>0.5</max></layer>
      <layer><filename>Cowbell-Hard.wav</filename><min>0.5</min><max>1</max><pitch>-1.5</pitch></layer>
    </instrument>
    <instrument><id>1</id><name>Snare</name>
      <filterActive>true</filterActive><filterCutoff>0.5</filterCutoff><filterResonance>0.5</filterResonance>
      <instrumentComponent><gain>0.5</gain>
        <layer><filename>snare.aiff</filename><min>0</min><max>1</max></layer>
      </instrumentComponent>
    </instrument>
    <instrument><id>2</id><name>Mystery Box</name><muteGroup>0</muteGroup><pan>-0.25</pan>
      <filename>Cowbell-Hard.wav</filename></instrument>
    <instrument><id>3</id><name>Open HH</name><pan_L>0.5</pan_L><pan_R>1</pan_R><muteGroup>0</muteGroup>
      <layer><filename>Cowbell-Hard.wav</filename></layer></instrument>
  </instrumentList>
</drumkit_info>
)");
    };
    writeKit("a/kit", 440);
    writeKit("b/kit", 880);
    const auto result = importSource(dir.file("a/kit"), dir.file("out"));
    ASSERT_EQ(result.banks.size(), 1u);
    const auto& report = result.banks[0];
    EXPECT_EQ(report.pieces,
              (std::vector<std::pair<int, std::string>>{
                  {36, "Kick"}, {38, "Snare"}, {39, "Mystery Box"}, {46, "Open HH"}}));
    EXPECT_EQ(report.dropped, std::vector<std::string>{});
    EXPECT_EQ(report.bank, 128);

    SoundFontManager manager;
    const auto kit = manager.addDirectory(dir.file("out/Test-Kit"));
    ASSERT_TRUE(kit);
    for (int dynamic = 0; dynamic < kDynamicCount; ++dynamic) {
        EXPECT_TRUE(has(served(*kit, 36, dynamic),
                        velocityOf(dynamic) <= 63 ? "kick-soft" : "Cowbell-Hard"));
        for (int key : {36, 38, 39, 46}) {
            EXPECT_EQ((*lookUp(*kit, key, dynamic))[1], key);
        }
    }
    // Pans as the kit gives them, old style or new, and a mute group as a choke group.
    const auto hat = kit->samplePlayersForVelocity(46, 100);
    const auto box = kit->samplePlayersForVelocity(39, 100);
    ASSERT_EQ(hat.size(), 1u);
    ASSERT_EQ(box.size(), 1u);
    ASSERT_TRUE(hat[0].player.shape() && box[0].player.shape());
    EXPECT_EQ(hat[0].player.shape()->pan, 0.5f);
    EXPECT_EQ(box[0].player.shape()->pan, -0.25f);
    EXPECT_EQ(hat[0].chokeGroup, 1);
    EXPECT_EQ(box[0].chokeGroup, 1);
    EXPECT_EQ(kit->samplePlayersForVelocity(36, 100).at(0).chokeGroup, 0);
    // The snare's filter, its poles at 4194 Hz and its peak 0.58 dB up; the
    // kick's is on but wide open, which filters nothing.
    const auto snarePlayers = kit->samplePlayersForVelocity(38, 100);
    const auto kickPlayers = kit->samplePlayersForVelocity(36, 100);
    ASSERT_TRUE(snarePlayers.at(0).player.shape());
    EXPECT_NEAR(snarePlayers[0].player.shape()->cutoff, 4193.6, 1.0);
    EXPECT_NEAR(snarePlayers[0].player.shape()->resonance, 0.58, 0.01);
    const ox::audio::VoiceShape* kick = kickPlayers.at(0).player.shape();
    EXPECT_TRUE(!kick || !kick->filtered());
    const Wav* snare = kit->layer().findWav(served(*kit, 38, 10));
    ASSERT_TRUE(snare);
    EXPECT_NEAR(snare->gain, 0.5, 1e-4);
    // The AIFF sample is now FLAC our decoder reads, every frame of it.
    const auto decoder = ox::audio::FlacDecoder::make(
        ox::stream::FileStream::open(dir.file("out/Test-Kit/Samples/" + served(*kit, 38, 10)),
                                     "rb"),
        1);
    ASSERT_TRUE(decoder);
    EXPECT_EQ(decoder->frameCount(), 800);

    // A kit of the same name and sample names from elsewhere: no file name in common,
    // so the process-wide cache never hands one bank's audio to the other.
    importSource(dir.file("b/kit/drumkit.xml"), dir.file("other"));
    std::set<std::string> names;
    for (const std::string& bank : {dir.file("out/Test-Kit"), dir.file("other/Test-Kit")}) {
        for (const fs::path& file : sampleFiles(bank)) {
            EXPECT_TRUE(names.insert(file.filename().string()).second) << file;
        }
    }

    // Importing into the same folder again replaces the kit's entry and keeps the others.
    Tone tone;
    ASSERT_TRUE(writeTone(dir.file("solo/a.wav"), AudioFormat::Wav16, tone));
    writeFile(dir.file("solo/solo.sfz"), "<region> sample=a.wav\n");
    ox::import::ImportOptions options;
    options.program = {0, 5};
    importSource(dir.file("solo/solo.sfz"), dir.file("out"), options);
    importSource(dir.file("a/kit"), dir.file("out"));
    const auto banks = listing(dir.file("out"));
    ASSERT_EQ(banks.size(), 2u);
    EXPECT_EQ(banks[0]["path"], "Test-Kit");
    EXPECT_EQ(banks[1]["path"], "solo");
    EXPECT_EQ(banks[1]["program"], 5);
}

TEST(ImportHydrogen, MissingOrUnreadableSamplesDropTheirLayersAndTheRestOfTheKitPlays) {
    TempDir dir;
    Tone tone{.frames = 800};
    ASSERT_TRUE(writeTone(dir.file("kit/kick hard.wav"), AudioFormat::Wav16, tone));
    ASSERT_TRUE(writeTone(dir.file("kit/hat.wav"), AudioFormat::Wav16, tone));
    writeFile(dir.file("kit/clap.wav"), "RIFF, but no sound in it");
    writeFile(dir.file("kit/drumkit.xml"), R"(<?xml version="1.0"?>
<drumkit_info>
  <name>Holey Kit</name>
  <instrumentList>
    <instrument><name>Kick</name>
      <layer><filename>kick soft.wav</filename><min>0</min><max>0.5</max></layer>
      <layer><filename>kick hard.wav</filename><min>0.5</min><max>1</max></layer>
    </instrument>
    <instrument><name>Snare</name><layer><filename>snare.wav</filename></layer></instrument>
    <instrument><name>Clap</name><layer><filename>clap.wav</filename></layer></instrument>
    <instrument><name>Closed HH</name><layer><filename>hat.wav</filename></layer></instrument>
  </instrumentList>
</drumkit_info>
)");
    const auto result = importSource(dir.file("kit"), dir.file("out"));
    ASSERT_EQ(result.banks.size(), 1u);
    const auto& report = result.banks[0];
    EXPECT_EQ(report.pieces,
              (std::vector<std::pair<int, std::string>>{{36, "Kick"}, {42, "Closed HH"}}));
    const auto warned = [&](const std::string& instrument, const std::string& part) {
        return std::any_of(report.warnings.begin(), report.warnings.end(), [&](const auto& w) {
            return has(w, "\"" + instrument + "\"") && has(w, part);
        });
    };
    EXPECT_TRUE(warned("Kick", "kick soft.wav: no such sample file"));
    EXPECT_TRUE(warned("Snare", "snare.wav: no such sample file"));
    EXPECT_TRUE(warned("Clap", "clap.wav: not a sound file"));
    EXPECT_TRUE(warned("Snare", "instrument skipped"));
    EXPECT_FALSE(warned("Kick", "instrument skipped"));

    SoundFontManager manager;
    const auto kit = manager.addDirectory(dir.file("out/Holey-Kit"));
    ASSERT_TRUE(kit);
    for (int dynamic = 0; dynamic < kDynamicCount; ++dynamic) {
        // The kick's remaining layer answers every velocity.
        EXPECT_TRUE(has(served(*kit, 36, dynamic), "kick-hard"));
        EXPECT_TRUE(has(served(*kit, 42, dynamic), "hat"));
        for (int key : {38, 39}) {
            const SampleTreeNodeSample* sample = lookUp(*kit, key, dynamic);
            EXPECT_TRUE(!sample || (*sample)[1] != key) << key;
        }
    }
}

TEST(ImportSf2, PanFilterAndOscillatorsReachTheVoice) {
    TempDir dir;
    oxsf::demo::Sf2Font font = oxsf::demo::demoSoundFont(1);
    using namespace oxsf::demo;
    // Every zone of the first instrument: panned left, filtered at 6900 cents
    // (440 Hz) with 6 dB of resonance, vibrato of 30 cents at 8.176 Hz · 2^(1200/1200).
    for (Sf2Zone& zone : font.instruments[0].zones) {
        if (zone.link < 0) {
            continue;
        }
        for (const Sf2Generator g :
             {sf2Value(Pan, -250), sf2Value(FilterCutoff, 6900), sf2Value(FilterQ, 60),
              sf2Value(VibLfoToPitch, 30), sf2Value(VibLfoFreq, 1200),
              sf2Value(ModEnvToFilterFc, 1200), sf2Value(ModEnvAttack, 0)}) {
            zone.generators.insert(zone.generators.begin(), g);
        }
    }
    ox::import::ImportOptions options;
    options.presets = {{0, 0}};
    const auto result = importSource(demoFont(dir, font), dir.file("out"), options);
    ASSERT_EQ(result.banks.size(), 1u);
    const std::string dropped = nlohmann::json(result.banks[0].dropped).dump();
    for (const char* kept : {"pan", "low-pass filter", "filter resonance", "vibrato LFO"}) {
        EXPECT_FALSE(has(dropped, std::string("\"") + kept + "\"")) << dropped;
    }

    ox::soundfont::SoundFontManager manager;
    const auto bank = manager.addDirectory(dir.file("out/000-000-Pluck-0"));
    ASSERT_TRUE(bank);
    const auto played = bank->samplePlayersForVelocity(60, 100);
    ASSERT_FALSE(played.empty());
    const ox::audio::VoiceShape* shape = played[0].player.shape();
    ASSERT_TRUE(shape);
    EXPECT_NEAR(*shape->pan, -0.5f, 1e-6f);
    EXPECT_NEAR(shape->cutoff, 440.0f, 0.5f);
    EXPECT_NEAR(shape->resonance, 6.0f, 1e-6f);
    EXPECT_EQ(shape->velocityToCutoff, -2400.0f);
    EXPECT_NEAR(shape->vibratoLfo.frequency, 16.35f, 0.01f);
    EXPECT_EQ(shape->vibratoToPitch, 30.0f);
    // A second's attack of the modulation envelope, on the convex curve soundfonts rise on.
    EXPECT_NEAR(shape->modEnvelope.attack, 1.0f, 1e-6f);
    EXPECT_EQ(shape->modEnvelopeToCutoff, 1200.0f);
    EXPECT_TRUE(shape->modAttackConvex);
    EXPECT_EQ(played[0].player.velocity(), 100);
}

TEST(ImportSf2, FontModulatorsAndScaleTuningReachTheVoice) {
    TempDir dir;
    oxsf::demo::Sf2Font font = oxsf::demo::demoSoundFont(1);
    using namespace oxsf::demo;
    // Pluck, filtered throughout. Its global zone switches the default
    // velocity-to-cutoff modulator off, as fonts written for the older default
    // do (a velocity switch as amount source, amount 0); the E3 zones move the
    // cutoff by velocity half as far as the default (the same modulator, which
    // replaces the global one); the E2 zones follow the keys at half the usual
    // tuning. The preset zone adds a vibrato depth on the modulation wheel.
    const Sf2Modulator switchedOff{0x0102, FilterCutoff, 0, 0x0D02};
    const Sf2Modulator halfAsFar{0x0102, FilterCutoff, -1200, 0x0D02};
    for (Sf2Zone& zone : font.instruments[0].zones) {
        if (zone.link < 0) {
            zone.modulators = {switchedOff};
            continue;
        }
        zone.generators.insert(zone.generators.begin(), sf2Value(FilterCutoff, 6900));
        const std::string& name = font.samples[size_t(zone.link)].name;
        if (name.find("E3") != std::string::npos) {
            zone.modulators = {halfAsFar};
        } else if (name.find("E2") != std::string::npos) {
            zone.generators.insert(zone.generators.begin(), sf2Value(ScaleTuning, 50));
        }
    }
    font.presets[0].zones[0].modulators = {{0x0081, VibLfoToPitch, 50}};
    ox::import::ImportOptions options;
    options.presets = {{0, 0}};
    const auto result = importSource(demoFont(dir, font), dir.file("out"), options);
    ASSERT_EQ(result.banks.size(), 1u);
    const std::string dropped = nlohmann::json(result.banks[0].dropped).dump();
    EXPECT_TRUE(has(dropped, "modulator from controller 1 to vibrato depth (8 zones)")) << dropped;
    // The switch itself is more than the voice holds: the cutoff moves at every velocity.
    EXPECT_TRUE(has(dropped, "the velocity switch of velocity to filter cutoff (2 zones)"))
        << dropped;
    EXPECT_FALSE(has(dropped, "tuning")) << dropped;

    ox::soundfont::SoundFontManager manager;
    const auto bank = manager.addDirectory(dir.file("out/000-000-Pluck-0"));
    ASSERT_TRUE(bank);
    for (const auto& [key, cents] : {std::pair{64, 0.0f}, {76, 0.0f}, {52, -1200.0f}}) {
        const auto played = bank->samplePlayersForVelocity(key, 100);
        ASSERT_FALSE(played.empty()) << key;
        const ox::audio::VoiceShape* shape = played[0].player.shape();
        ASSERT_TRUE(shape) << key;
        EXPECT_EQ(shape->velocityToCutoff, cents) << key;
        EXPECT_NEAR(shape->cutoff, 440.0f, 0.5f) << key;
    }
    // Half a semitone a key from E2 (40), at every key of the zone, both layers.
    for (const int key : {0, 30, 40, 41, 46}) {
        for (const int velocity : {40, 100}) {
            const auto played = bank->samplePlayersForVelocity(key, velocity);
            ASSERT_EQ(played.size(), 1u) << key;
            EXPECT_NEAR(played[0].transposition, (key - 40) * 0.5, 1e-4) << key << " " << velocity;
        }
    }
    EXPECT_NEAR(bank->samplePlayersForVelocity(47, 100)[0].transposition, 47 - 52, 1e-4);
}
