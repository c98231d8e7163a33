// Opens a one-sample bank it writes itself, finds the sample for a note,
// renders a few frames, plays a note through the synth and, when the importers are built, imports
// the sample again through an SFZ file: the headers, libraries and package all work.

#ifdef OXSF_CONSUMER_IMPORT
#include <ox/import/Import.h>
#endif
#include <ox/synth/Synth.h>
#include <soundfont/SampleTree.h>
#include <soundfont/SoundFontManager.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

/// `value` as `bytes` little-endian bytes.
std::string le(uint32_t value, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
    return out;
}

/// A mono 16-bit WAV file of a sine tone.
std::string sineWav(double frequency, int frames) {
    std::string data;
    for (int i = 0; i < frames; ++i) {
        const double s = 0.5 * std::sin(2.0 * 3.141592653589793 * frequency * i / 44100.0);
        data += le(static_cast<uint16_t>(static_cast<int16_t>(s * 32767.0)), 2);
    }
    const auto size = static_cast<uint32_t>(data.size());
    return "RIFF" + le(36 + size, 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(1, 2) + le(44100, 4) +
           le(44100 * 2, 4) + le(2, 2) + le(16, 2) + "data" + le(size, 4) + data;
}

int fail(const char* what) {
    std::fprintf(stderr, "consumer: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        return fail("usage: consumer SCRATCH_DIR");
    }
    const std::filesystem::path bankDir = std::filesystem::path(argv[1]) / "Bank";
    std::filesystem::create_directories(bankDir / "Samples");
    std::ofstream(bankDir / "Samples.xml")
        << "<Bank id=\"consumer\" type=\"guitar\" name=\"Consumer\">"
           "<SamplesTree><Node class=\"pick\"><Node class=\"sustain\"><Node class=\"down\">"
           "<Samples><Sample midi=\"60\" dynamic=\"F\"><Wave file=\"c4.wav\"/></Sample>"
           "</Samples></Node></Node></Node></SamplesTree></Bank>";
    std::ofstream(bankDir / "Samples" / "c4.wav", std::ios::binary) << sineWav(261.63, 4410);

    ox::soundfont::SoundFontManager manager;
    auto bank = manager.addDirectory(bankDir.string());
    if (!bank || bank->id() != "consumer") {
        return fail("the bank did not open");
    }
    const auto* sample = bank->sampleTree().findSampleByMidi(62, 10);
    if (!sample || (*sample)[ox::soundfont::SampleCoordinate::Midi] != 60) {
        return fail("no sample found for D4");
    }
    auto [player, transposition] = bank->samplePlayer(62);
    if (transposition != 2) {
        return fail("wrong transposition");
    }
    player.setOutputSampleRate(44100);
    player.setTransposition(transposition);
    std::vector<float> out(2 * 1024);
    const int64_t sounding = player.render(out.data(), 1024, 2);
    float peak = 0.0f;
    for (float s : out) {
        peak = std::max(peak, std::fabs(s));
    }
    if (sounding <= 0 || peak <= 0.01f) {
        return fail("the player rendered silence");
    }
    // A note at a velocity, released: it fades out and finishes.
    auto note = bank->samplePlayerForVelocity(62, 100);
    if (note.transposition != 2.0 || note.player.gain() != ox::soundfont::gainFromVelocity(100)) {
        return fail("wrong note at velocity 100");
    }
    note.player.release(0.01);
    int64_t released = 0;
    while (!note.player.finished() && released < 44100) {
        released += note.player.render(out.data(), 64, 2);
    }
    if (!note.player.finished()) {
        return fail("the released note did not finish");
    }

    // The synth, with the bank on every channel, prepared up front.
    ox::synth::BankRules rules;
    rules.everything = bankDir.string();
    ox::synth::BankChooser chooser(rules);
    ox::synth::Synth synth(chooser, {});
    if (!synth.prepare(0, 0, 0, 0)) {
        return fail("the synth found no bank");
    }
    const ox::synth::MidiEvent noteOn{0, 0x90, 62, 100};
    if (synth.process(out.data(), 1024, &noteOn, 1) != 1024 || synth.missedNotes() != 0) {
        return fail("the synth played nothing");
    }

#ifdef OXSF_CONSUMER_IMPORT
    // The importer, as a host would call it at run time.
    const std::filesystem::path scratch(argv[1]);
    std::ofstream(scratch / "c4.sfz") << "<region> sample=Bank/Samples/c4.wav\n";
    const auto imported =
        ox::import::importSource((scratch / "c4.sfz").string(), (scratch / "imported").string());
    if (imported.banks.size() != 1 ||
        !manager.addDirectory((scratch / "imported" / imported.banks[0].path).string()))
        return fail("the import gave no bank");
#endif
    std::printf("consumer: OK (transposition %d, peak %.3f)\n", transposition, peak);
    return 0;
}
