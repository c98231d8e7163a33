// Reading bank descriptions: conversions, structure, failures, and the
// velocity-to-gain curve.
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <rapidxml/rapidxml.hpp>

#include <cmath>
#include <limits>
#include <stdexcept>

using ox::soundfont::Layer;
using oxtest::MemoryBank;

namespace {

MemoryBank& initialized(MemoryBank& bank) {
    bank.initialize();
    return bank;
}

double levelOf(float gain) {
    return 20.0 * std::log10(double(gain));
}

} // namespace

TEST(Description, GainCurveFollowsVelocity) {
    MemoryBank bank("", false);
    EXPECT_FLOAT_EQ(bank.gain(), 1.0f); // not derived before initialize()
    bank.initialize();
    EXPECT_FLOAT_EQ(bank.velocity(), 0.72f);
    EXPECT_NEAR(bank.gain(), 0.8254, 1e-4);

    const struct {
        float velocity;
        double level;
    } points[] = {{1.0f, 10.0},     {1.5f, 10.0},   {0.72f, -1.6667}, {0.52f, -10.0},
                  {0.5f, -11.6667}, {0.16f, -40.0}, {0.04f, -60.0}};
    for (const auto& point : points) {
        bank.setVelocity(point.velocity);
        EXPECT_FLOAT_EQ(bank.velocity(), point.velocity);
        EXPECT_NEAR(levelOf(bank.gain()), point.level, 1e-3) << point.velocity;
    }
    bank.setVelocity(1.0f);
    EXPECT_NEAR(bank.gain(), 3.1623, 1e-4);
    bank.setVelocity(0.5f);
    EXPECT_NEAR(bank.gain(), 0.2610, 1e-4);
    bank.setVelocity(0.0f);
    EXPECT_FLOAT_EQ(bank.gain(), 1e-10f);
    bank.setVelocity(std::numeric_limits<float>::quiet_NaN());
    EXPECT_FLOAT_EQ(bank.gain(), 1e-10f);

    MemoryBank letters(R"(<Bank velocity="loud"/>)");
    initialized(letters);
    EXPECT_FLOAT_EQ(letters.velocity(), 0.0f);
    EXPECT_FLOAT_EQ(letters.gain(), 1e-10f);
}

TEST(Description, ConvertsAttributes) {
    const std::string body = R"(
  <SamplesTree class="top" class="second">
    <Samples>
      <Sample midi="300" midi="12" string=" 2x" dynamic="MF" option="a&amp;b">
        <Wave file="a.wav" peak="0.5dB" pickup="bridge" repitch="12.5" velocity=" 90abc"
              ratio="abc" gain="-6"/>
        <Wave/>
      </Sample>
      <Sample midi="-1" string="383"/>
      <Sample/>
    </Samples>
  </SamplesTree>
</Bank>)";
    MemoryBank bank(
        R"(<Bank id="b" velocity="0.1" name="Name" velocity="0.5" type="Guitar" description="x &lt; y">)" +
        body);
    initialized(bank);
    EXPECT_EQ(bank.id(), "b");
    EXPECT_EQ(bank.name(), "Name");
    EXPECT_EQ(bank.type(), "Guitar");
    EXPECT_EQ(bank.description(), "x < y");
    EXPECT_FLOAT_EQ(bank.velocity(), 0.5f); // the later duplicate wins on the root

    const Layer& top = bank.layer();
    EXPECT_EQ(top.className, "top");
    ASSERT_EQ(top.samples.size(), 3u);
    const auto& first = top.samples[0];
    EXPECT_EQ(first.midi, 44); // 300 keeps its low byte
    EXPECT_EQ(first.string, 2);
    EXPECT_EQ(first.dynamic, "MF");
    EXPECT_EQ(first.option, "a&b");
    ASSERT_EQ(first.wavs.size(), 2u);
    const auto& wav = first.wavs[0];
    EXPECT_EQ(wav.file, "a.wav");
    EXPECT_FLOAT_EQ(wav.peak, 0.5f);
    EXPECT_EQ(wav.pickup, "bridge");
    EXPECT_FLOAT_EQ(wav.repitch, 12.5f);
    EXPECT_EQ(wav.velocity, 90);
    EXPECT_FLOAT_EQ(wav.ratio, 0.0f);
    EXPECT_NEAR(wav.gain, 0.5012, 1e-4);
    const auto& plain = first.wavs[1];
    EXPECT_EQ(plain.file, "");
    EXPECT_FLOAT_EQ(plain.gain, 1.0f);
    EXPECT_FLOAT_EQ(plain.ratio, 1.0f);
    EXPECT_EQ(plain.velocity, -1);
    EXPECT_FLOAT_EQ(plain.repitch, 0.0f);
    EXPECT_FALSE(std::signbit(plain.repitch));
    EXPECT_EQ(top.samples[1].midi, -1);
    EXPECT_EQ(top.samples[1].string, 127);
    EXPECT_EQ(top.samples[2].midi, -1);
    EXPECT_EQ(top.samples[2].string, -1);

    // A trailing "+" on the id flips every repitch, present or not.
    MemoryBank flipped(R"(<Bank id="b+">)" + body);
    initialized(flipped);
    const auto& flippedWavs = flipped.layer().samples[0].wavs;
    EXPECT_FLOAT_EQ(flippedWavs[0].repitch, -12.5f);
    EXPECT_FLOAT_EQ(flippedWavs[1].repitch, 0.0f);
    EXPECT_TRUE(std::signbit(flippedWavs[1].repitch));
}

TEST(Description, Tuning) {
    auto tuning = [](const std::string& value) {
        MemoryBank bank(R"(<Bank tuning=")" + value + R"("/>)");
        bank.initialize();
        return bank.tuning();
    };
    EXPECT_EQ(tuning("64 59 55 50 45 40"), (std::vector<int>{64, 59, 55, 50, 45, 40}));
    EXPECT_EQ(tuning("64 +59x"), (std::vector<int>{64, 59}));
    EXPECT_TRUE(tuning("40").empty());
    EXPECT_TRUE(tuning("").empty());

    auto message = [](const std::string& value) -> std::string {
        MemoryBank bank(R"(<Bank tuning=")" + value + R"("/>)");
        try {
            bank.initialize();
        } catch (const std::invalid_argument& e) {
            return std::string("invalid: ") + e.what();
        } catch (const std::out_of_range& e) {
            return std::string("range: ") + e.what();
        }
        return "none";
    };
    EXPECT_EQ(message("64 x"), "invalid: invalid stoi argument");
    EXPECT_EQ(message("64  59"), "invalid: invalid stoi argument"); // empty part
    EXPECT_EQ(message("64 2147483648"), "range: stoi argument out of range");

    // Attributes before the broken tuning are applied, later ones and the layers are not,
    // and the gain is not recomputed.
    MemoryBank bank(R"(<Bank id="before" tuning="1 x" name="after">
        <SamplesTree class="c"/></Bank>)");
    EXPECT_THROW(bank.initialize(), std::invalid_argument);
    EXPECT_EQ(bank.id(), "before");
    EXPECT_EQ(bank.name(), "");
    EXPECT_EQ(bank.layer().className, "");
    EXPECT_FLOAT_EQ(bank.gain(), 1.0f);
}

TEST(Description, ExcludedSamplesOfThreeBanks) {
    auto count = [](const std::string& id, const std::string& file) {
        MemoryBank bank(R"(<Bank id=")" + id + R"("><SamplesTree><Samples>
            <Sample midi="60"><Wave file="other.ogg"/><Wave file=")" +
                        file + R"("/></Sample>
            <Sample midi="61"><Wave file="other.ogg"/></Sample>
            </Samples></SamplesTree></Bank>)");
        bank.initialize();
        return bank.layer().samples.size();
    };
    const std::string hillside = "HillsideGrand9-Key-Sus-none-07-none-081-none.ogg";
    EXPECT_EQ(count("Hillside-Piano", hillside), 1u);
    EXPECT_EQ(count("Ballade-Nylons", "BallNyl-Fng-Sus-Thumb-01-6E40-040-none-none.ogg"), 1u);
    EXPECT_EQ(count("Jang12-Guitar", "Jng12-Pck-Sus-Down-01-6E40-040-BR-none.ogg"), 1u);
    EXPECT_EQ(count("Jang12-Guitar", "Jng12-Pck-Sus-Down-01-6E40-040-NK-none.ogg"), 1u);
    EXPECT_EQ(count("hillside-piano", hillside), 2u);
    EXPECT_EQ(count("Ballade-Nylons", hillside), 2u);
    EXPECT_EQ(count("Hillside-Piano", "HillsideGrand9-Key-Sus-none-07-none-084-none.ogg"), 2u);
}

TEST(Description, ParseErrorPassesOutAndLeavesFieldsAlone) {
    MemoryBank bank(R"(<Bank id="good" velocity="1"><SamplesTree class="c"/></Bank>)");
    bank.initialize();
    bank.setVelocity(0.5f);
    for (const char* broken : {R"(<Bank id="bad"><SamplesTree>)", R"(text<Bank id="bad"/>)",
                               R"(<Bank id=bad/>)", R"(<Bank id="&#65"/>)"}) {
        bank.setXml(broken);
        EXPECT_THROW(bank.initialize(), rapidxml::parse_error) << broken;
        EXPECT_EQ(bank.id(), "good");
        EXPECT_EQ(bank.layer().className, "c");
        EXPECT_NEAR(bank.gain(), 0.2610, 1e-4);
    }
    // The failed document is not kept: a good one reads again.
    bank.setXml(R"(<Bank id="again"/>)");
    bank.initialize();
    EXPECT_EQ(bank.id(), "again");
    EXPECT_EQ(bank.layer().className, "");
}

TEST(Description, ByteOrderMarkDeclarationAndEmptyDocuments) {
    const std::string plain = R"(<Bank id="x" velocity="0.5"><SamplesTree class="t"/></Bank>)";
    MemoryBank bank("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                    "<!DOCTYPE Bank><!-- made by hand -->\n" +
                    plain);
    initialized(bank);
    EXPECT_EQ(bank.id(), "x");
    EXPECT_FLOAT_EQ(bank.velocity(), 0.5f);
    EXPECT_EQ(bank.layer().className, "t");

    // Empty and blank documents change nothing but the gain.
    bank.setVelocity(1.0f);
    for (const char* empty : {"", " \n\t "}) {
        bank.setXml(empty);
        bank.initialize();
        EXPECT_EQ(bank.id(), "x");
        EXPECT_EQ(bank.layer().className, "t");
    }
    // A root without a samples tree replaces the layer with an empty one.
    bank.setXml(R"(<Bank><Node class="n"/></Bank>)");
    bank.initialize();
    EXPECT_EQ(bank.layer().className, "");
    EXPECT_TRUE(bank.layer().layers.empty());
}

TEST(Description, LayersNestInDocumentOrder) {
    MemoryBank bank(R"(<Bank>
      <Other><SamplesTree class="ignored"/></Other>
      <SamplesTree class="top">
        <Samples><Sample midi="1"/></Samples>
        <Node class="a">
          <Node class="a1"><Node class="a11"><Samples><Sample midi="5"/></Samples></Node></Node>
          <Node class="a2"/>
        </Node>
        <Sample midi="99"/>
        <Samples><Sample midi="2"/><Wave file="stray"/><Sample midi="3"/></Samples>
        <Node class="b"><Samples><Sample midi="7"/></Samples><Samples/></Node>
      </SamplesTree>
      <SamplesTree class="second"/>
    </Bank>)");
    initialized(bank);
    const Layer& top = bank.layer();
    EXPECT_EQ(top.className, "top");
    ASSERT_EQ(top.samples.size(), 2u);
    EXPECT_EQ(top.samples[0].midi, 2);
    EXPECT_EQ(top.samples[1].midi, 3);
    ASSERT_EQ(top.layers.size(), 2u);
    EXPECT_EQ(top.layers[0].className, "a");
    EXPECT_EQ(top.layers[1].className, "b");
    EXPECT_TRUE(top.layers[1].samples.empty()); // the later, empty "Samples" counts
    ASSERT_EQ(top.layers[0].layers.size(), 2u);
    EXPECT_EQ(top.layers[0].layers[1].className, "a2");
    const Layer& deep = top.layers[0].layers[0].layers.at(0);
    EXPECT_EQ(deep.className, "a11");
    ASSERT_EQ(deep.samples.size(), 1u);
    EXPECT_EQ(deep.samples[0].midi, 5);
}

TEST(Description, InitializeTwiceAndMissingDescription) {
    MemoryBank none("", false);
    none.initialize();
    EXPECT_EQ(none.id(), "");
    EXPECT_EQ(none.name(), "");
    EXPECT_TRUE(none.tuning().empty());
    EXPECT_TRUE(none.layer().samples.empty());

    const std::string tail = R"(tuning="1 2"><SamplesTree><Samples><Sample midi="60"/>
        </Samples></SamplesTree></Bank>)";
    MemoryBank fixed(R"(<Bank id="f" velocity="1" )" + tail);
    MemoryBank loose(R"(<Bank id="f" )" + tail);
    for (MemoryBank* bank : {&fixed, &loose}) {
        bank->initialize();
        bank->setVelocity(0.3f);
        bank->initialize();
        EXPECT_EQ(bank->id(), "f");
        EXPECT_EQ(bank->tuning(), (std::vector<int>{1, 2}));
        EXPECT_EQ(bank->layer().samples.size(), 1u);
    }
    EXPECT_FLOAT_EQ(fixed.velocity(), 1.0f);
    EXPECT_FLOAT_EQ(loose.velocity(), 0.3f);
}

TEST(Description, FindWavSearchesOwnSamplesThenDepthFirst) {
    MemoryBank bank(R"(<Bank><SamplesTree>
        <Node><Node><Samples><Sample><Wave file="d.wav" gain="6"/></Sample></Samples></Node>
              <Samples><Sample><Wave file="x.wav" gain="-6"/></Sample></Samples></Node>
        <Node><Samples><Sample><Wave file="d.wav" gain="-6"/></Sample></Samples></Node>
        <Samples><Sample/><Sample><Wave file="y.wav"/><Wave file="x.wav" gain="6"/>
        </Sample></Samples>
      </SamplesTree></Bank>)");
    initialized(bank);
    const Layer& top = bank.layer();
    ASSERT_NE(top.findWav("x.wav"), nullptr);
    EXPECT_EQ(top.findWav("x.wav"), &top.samples[1].wavs[1]);
    ASSERT_NE(top.findWav("d.wav"), nullptr);
    EXPECT_NEAR(top.findWav("d.wav")->gain, 1.9953, 1e-4);
    EXPECT_EQ(top.findWav("X.wav"), nullptr);
    EXPECT_EQ(top.findWav(""), nullptr);
}
