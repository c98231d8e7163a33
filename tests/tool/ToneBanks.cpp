#include "ToneBanks.h"

#include <gtest/gtest.h>

namespace oxtest {

std::string writeBank(const TempDir& dir, const std::string& name, bool kit,
                      const std::vector<std::pair<int, double>>& notes) {
    const std::string path = dir.file("banks/" + name);
    std::string samples;
    for (const auto& [midi, frequency] : notes) {
        const std::string file = name + std::to_string(midi) + ".wav";
        samples += "<Sample midi=\"" + std::to_string(midi) + "\" dynamic=\"F\"><Wave file=\"" +
                   file + "\"/></Sample>";
        EXPECT_TRUE(writeTone(path + "/Samples/" + file, AudioFormat::Wav16,
                              Tone{.frames = 44100,
                                   .frequency = frequency,
                                   .loopStart = kit ? -1 : 4200,
                                   .loopEnd = kit ? -1 : 42000}));
    }
    const std::string nodes = kit ? "<Node class=\"stick\"><Node class=\"hit\"><Node class=\"hit\">"
                                  : "<Node class=\"pick\"><Node class=\"sustain\"><Node "
                                    "class=\"down\">";
    writeFile(path + "/Samples.xml", "<Bank id=\"" + name + "\" type=\"" +
                                         (kit ? "drum" : "guitar") + "\"><SamplesTree>" + nodes +
                                         "<Samples>" + samples +
                                         "</Samples></Node></Node></Node></SamplesTree></Bank>");
    return path;
}

} // namespace oxtest
