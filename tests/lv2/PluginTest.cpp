// The oxsf.lv2 plugin in a host made of lilv: the bundle loads and describes
// itself, a bank set through patch:Set plays a song as `oxsf render` does, the
// state carries the bank to a fresh instance, and bad banks or odd MIDI leave
// it silent and running.

#include "Lv2Host.h"

#include "synth/SynthTestSupport.h"
#include "tool/ToolRunner.h"

#include "demo/MidiWriter.h"

#include <lv2/patch/patch.h>
#include <lv2/state/state.h>
#include <lv2/worker/worker.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace oxtest;

namespace {

constexpr int kRate = 44100;
constexpr uint32_t kBlock = 256;

struct Timed {
    uint32_t tick;
    uint8_t status, data1, data2;
};

// Channels 1 and 2 at program 0, which the plugin prepares up front: pan,
// volume, pedal, bend, and notes overlapping; every note ends before the song.
const std::vector<Timed> kSong = {{0, 0xB0, 10, 20},    {0, 0x90, 69, 100},   {120, 0xB1, 7, 90},
                                  {240, 0xB1, 64, 127}, {240, 0x91, 57, 80},  {480, 0x81, 57, 0},
                                  {600, 0x90, 81, 60},  {700, 0xE0, 0, 0x50}, {900, 0x80, 81, 0},
                                  {960, 0x80, 69, 0},   {1000, 0xB1, 64, 0},  {1200, 0x91, 69, 127},
                                  {1300, 0x90, 57, 90}, {1440, 0x81, 69, 0},  {1500, 0x80, 57, 0}};

// As oxsf render times them: 480 ticks a beat at 120 beats a minute.
int64_t frameOf(uint32_t tick) {
    return std::llround(tick / 960.0 * kRate);
}

std::string writeSong(const TempDir& dir) {
    oxsf::demo::MidiWriter midi;
    for (const Timed& e : kSong) {
        midi.event(e.tick, {e.status, e.data1, e.data2});
    }
    const std::string path = dir.file("song.mid");
    writeFile(path, midi.bytes());
    return path;
}

/// The song through the plugin in runs of kBlock frames, `frames` of it.
std::vector<float> play(Lv2Instance& plugin, size_t frames) {
    std::vector<float> out;
    size_t next = 0;
    for (int64_t frame = 0; out.size() < frames * 2; frame += kBlock) {
        std::vector<TimedMidi> block;
        for (; next < kSong.size() && frameOf(kSong[next].tick) < frame + kBlock; ++next) {
            const Timed& e = kSong[next];
            block.push_back({uint32_t(frameOf(e.tick) - frame), {e.status, e.data1, e.data2}});
        }
        const std::vector<float> run = plugin.run(kBlock, block);
        out.insert(out.end(), run.begin(), run.end());
    }
    return out;
}

std::vector<float> render(const std::vector<std::string>& bankArgs, const TempDir& dir) {
    const std::string out = dir.file("render.wav");
    std::vector<std::string> args{"render"};
    args.insert(args.end(), bankArgs.begin(), bankArgs.end());
    args.insert(args.end(), {"-o", out, "--float", "-q"});
    const ToolResult result = runTool(args);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    return readSound(out).samples;
}

float largestDifference(const std::vector<float>& a, const std::vector<float>& b) {
    float most = 0.0f;
    for (size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
        most =
            std::max(most, std::fabs((i < a.size() ? a[i] : 0.0f) - (i < b.size() ? b[i] : 0.0f)));
    }
    return most;
}

float peak(const std::vector<float>& samples) {
    float most = 0.0f;
    for (float s : samples) {
        most = std::max(most, std::fabs(s));
    }
    return most;
}

/// Sets the bank through patch:Set, and runs once for the worker to load it.
void setBank(Lv2Instance& plugin, const std::string& path) {
    plugin.setBank(path);
    plugin.run(kBlock);
}

} // namespace

TEST(Lv2Bundle, LilvFindsItsPortsFeaturesAndBankParameter) {
    Lv2World world;
    const LilvPlugin* plugin = world.plugin();
    ASSERT_NE(plugin, nullptr) << "no " << OXSF_LV2_URI << " under " << OXSF_LV2_BUNDLE_PARENT;
    EXPECT_TRUE(lilv_plugin_verify(plugin));
    EXPECT_EQ(lilv_plugin_get_num_ports(plugin), 6u);
    EXPECT_STREQ(lilv_node_as_uri(lilv_plugin_class_get_uri(lilv_plugin_get_class(plugin))),
                 LV2_CORE__InstrumentPlugin);

    LilvWorld* w = world.world();
    const auto has = [w](const LilvNodes* nodes, const char* uri) {
        LilvNode* node = lilv_new_uri(w, uri);
        const bool found = nodes && lilv_nodes_contains(nodes, node);
        lilv_node_free(node);
        return found;
    };
    LilvNodes* required = lilv_plugin_get_required_features(plugin);
    EXPECT_TRUE(has(required, LV2_URID__map));
    EXPECT_TRUE(has(required, LV2_WORKER__schedule));
    lilv_nodes_free(required);
    LilvNodes* extensions = lilv_plugin_get_extension_data(plugin);
    EXPECT_TRUE(has(extensions, LV2_STATE__interface));
    EXPECT_TRUE(has(extensions, LV2_WORKER__interface));
    lilv_nodes_free(extensions);

    LilvNode* writable = lilv_new_uri(w, LV2_PATCH__writable);
    LilvNodes* parameters = lilv_plugin_get_value(plugin, writable);
    EXPECT_TRUE(has(parameters, OXSF_LV2_URI "#bank"));
    LilvNode* bank = lilv_new_uri(w, OXSF_LV2_URI "#bank");
    LilvNode* range = lilv_new_uri(w, "http://www.w3.org/2000/01/rdf-schema#range");
    LilvNode* path = lilv_new_uri(w, LV2_ATOM__Path);
    EXPECT_TRUE(lilv_world_ask(w, bank, range, path));
    for (LilvNode* node : {writable, bank, range, path}) {
        lilv_node_free(node);
    }
    lilv_nodes_free(parameters);

    // Without the worker it cannot load banks, and says so by not instantiating.
    const LV2_Feature map{LV2_URID__map, world.uridMap()};
    const LV2_Feature* mapOnly[] = {&map, nullptr};
    EXPECT_EQ(lilv_plugin_instantiate(plugin, kRate, mapOnly), nullptr);
}

TEST(Lv2Plugin, PlaysTheSongAsRenderDoesAndAnswersWithItsBank) {
    TempDir dir;
    writeInstruments(dir, {"LvPiano", "LvOrgan"});
    const std::string folder = dir.path().string();
    TempDir scratch;
    const std::vector<float> tool = render({writeSong(scratch), "--instruments", folder}, scratch);
    ASSERT_GT(tool.size(), size_t(frameOf(kSong.back().tick)) * 2);

    Lv2World world;
    Lv2Instance plugin(world, kRate);
    ASSERT_TRUE(plugin.ok());
    // Silent before a bank is set, and while it loads.
    EXPECT_EQ(peak(plugin.run(kBlock, {{0, {0x90, 69, 100}}})), 0.0f);
    setBank(plugin, folder);

    // A block after the song, where the tool's output has ended.
    const std::vector<float> out = play(plugin, tool.size() / 2 + kBlock);
    EXPECT_LT(largestDifference(out, tool), 1e-5f);
    EXPECT_GT(peak(out), 0.1f);
    EXPECT_EQ(plugin.announcedBank(), folder);
    EXPECT_EQ(plugin.missed(), 0.0f);

    // The voices port counts what sounds.
    plugin.run(kBlock, {{0, {0x90, 57, 100}}, {0, {0x91, 81, 100}}});
    EXPECT_EQ(plugin.voices(), 2.0f);
    // Activated again, the host's transport restarted: held notes fade out.
    lilv_instance_deactivate(plugin.instance());
    lilv_instance_activate(plugin.instance());
    plugin.run(8192);
    EXPECT_EQ(plugin.voices(), 0.0f);
    // Program 1 is not prepared with the bank: its first note asks the loader, and is missed.
    plugin.run(kBlock, {{0, {0xC2, 1}}, {1, {0x92, 69, 100}}});
    EXPECT_EQ(plugin.missed(), 1.0f);
}

TEST(Lv2Plugin, StateCarriesTheBankToAFreshInstance) {
    // The bank inside the folder the state is saved to: stored relative to it.
    TempDir dir;
    const std::string project = dir.file("project");
    writeSineBank(dir, "project/LvStateBank", {{57, 220.0}, {69, 441.0}, {81, 882.0}});
    const std::string bank = dir.file("project/LvStateBank");

    Lv2World world;
    std::vector<float> first;
    LilvState* state = nullptr;
    {
        Lv2Instance plugin(world, kRate);
        ASSERT_TRUE(plugin.ok());
        setBank(plugin, bank);
        first = play(plugin, 2 * kRate);
        state = lilv_state_new_from_instance(world.plugin(), plugin.instance(), world.uridMap(),
                                             nullptr, nullptr, nullptr, project.c_str(), nullptr,
                                             nullptr, LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE,
                                             plugin.features());
        ASSERT_NE(state, nullptr);
    }
    ASSERT_GT(peak(first), 0.1f);
    ASSERT_EQ(lilv_state_save(world.world(), world.uridMap(), world.uridUnmap(), state, nullptr,
                              project.c_str(), "state.ttl"),
              0);
    lilv_state_free(state);
    const std::string saved = readFile(project + "/state.ttl");
    EXPECT_NE(saved.find("LvStateBank"), std::string::npos) << saved;
    EXPECT_EQ(saved.find(bank), std::string::npos) << "an absolute path: " << saved;

    LilvState* loaded = lilv_state_new_from_file(world.world(), world.uridMap(), nullptr,
                                                 (project + "/state.ttl").c_str());
    ASSERT_NE(loaded, nullptr);
    Lv2Instance fresh(world, kRate);
    ASSERT_TRUE(fresh.ok());
    lilv_state_restore(loaded, fresh.instance(), nullptr, nullptr, 0, fresh.features());
    lilv_state_free(loaded);
    fresh.getBank();
    // Restored banks load at once: the first run plays.
    const std::vector<float> again = play(fresh, 2 * kRate);
    EXPECT_EQ(fresh.announcedBank(), bank);
    EXPECT_EQ(largestDifference(first, again), 0.0f);
}

TEST(Lv2Plugin, BadBanksAndOddMidiLeaveItSilentAndRunning) {
    TempDir dir;
    writeFile(dir.file("corrupt/Samples.xml"), "<Bank id=\"x\"><SamplesTree><Node");
    writeFile(dir.file("notabank.txt"), "hello");
    writeSineBank(dir, "LvGood", {{69, 441.0}});
    Lv2World world;
    Lv2Instance plugin(world, kRate);
    ASSERT_TRUE(plugin.ok());

    const std::vector<TimedMidi> note = {{0, {0x90, 69, 100}}};
    for (const std::string& path : {dir.file("missing"), dir.file("corrupt"),
                                    dir.file("notabank.txt"), std::string(), std::string("\n")}) {
        setBank(plugin, path);
        EXPECT_EQ(peak(plugin.run(kBlock, note)), 0.0f) << path;
        plugin.getBank();
        plugin.run(kBlock);
        EXPECT_EQ(plugin.announcedBank(), path);
    }
    // Messages it ignores: a value of another type, a path longer than any.
    plugin.setBank(dir.file("LvGood"), LV2_ATOM__URID);
    plugin.run(kBlock);
    plugin.setBank(std::string(5000, 'x'));
    plugin.run(kBlock);
    EXPECT_EQ(peak(plugin.run(kBlock, note)), 0.0f);

    setBank(plugin, dir.file("LvGood"));
    // Broken and unwanted messages among good ones: cut short, system messages,
    // data bytes with the top bit, frames out of order and past the run's end.
    const std::vector<TimedMidi> odd = {{0, {0x90}},
                                        {0, {0x90, 69}},
                                        {1, {0xF0, 0x7E, 0xF7}},
                                        {2, {0xFF}},
                                        {3, {0x90, 0xC5, 1}},
                                        {4, {0x80, 69, 200}},
                                        {100, {0x90, 69, 100}},
                                        {50, {0xC0}},
                                        {9000, {0xB0, 7, 127}},
                                        {10, {}}};
    const std::vector<float> out = plugin.run(kBlock, odd);
    EXPECT_GT(peak(out), 0.05f);
    // The note starts at frame 100, where the one before it placed it.
    EXPECT_EQ(peak({out.begin(), out.begin() + 200}), 0.0f);
    // A run of no frames, and more events in one run than a synth call takes.
    plugin.run(0, note);
    std::vector<TimedMidi> many;
    for (uint32_t i = 0; i < 3000; ++i) {
        many.push_back({i / 4, {uint8_t(i % 2 ? 0x80 : 0x90), 69, 100}});
    }
    plugin.run(1024, many);
    plugin.run(8192);
    EXPECT_EQ(plugin.voices(), 0.0f);
    EXPECT_GT(peak(plugin.run(kBlock, note)), 0.05f);

    // What a file chooser that picks files only gives: the file that names its folder.
    TempDir instruments;
    writeInstruments(instruments, {"LvChosen"});
    for (const std::string& file :
         {dir.file("LvGood/Samples.xml"), instruments.file("instruments.json")}) {
        setBank(plugin, dir.file("missing"));
        setBank(plugin, file);
        EXPECT_GT(peak(plugin.run(kBlock, note)), 0.05f) << file;
    }
}
