// Reading bank descriptions: conversions, structure, failures, and the
// velocity-to-gain curve.
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <rapidxml/rapidxml.hpp>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <sstream>
#include <stdexcept>

using ox::soundfont::Layer;
using oxtest::MemoryBank;
using oxtest::outline;

namespace {

/// What a failed or empty read must leave alone: id, name and the layers.
std::string summary(const ox::soundfont::SoundFont& bank) {
    return bank.id() + "|" + bank.name() + "|" + outline(bank.layer());
}

} // namespace

TEST(Description, MissingDescriptionAndTheGainCurve) {
    MemoryBank bank("", false);
    EXPECT_FLOAT_EQ(bank.gain(), 1.0f); // not derived before initialize()
    bank.initialize();
    EXPECT_EQ(summary(bank), "||()");
    EXPECT_TRUE(bank.tuning().empty());
    EXPECT_FLOAT_EQ(bank.velocity(), 0.72f);
    EXPECT_NEAR(bank.gain(), 0.8254, 1e-4);

    const std::pair<float, double> points[] = {{1.0f, 10.0},   {1.5f, 10.0},     {0.72f, -1.6667},
                                               {0.52f, -10.0}, {0.5f, -11.6667}, {0.16f, -40.0},
                                               {0.04f, -60.0}, {0.0f, -200.0}};
    for (const auto& [velocity, level] : points) {
        bank.setVelocity(velocity);
        EXPECT_NEAR(20.0 * std::log10(double(bank.gain())), level, 1e-3) << velocity;
    }
    bank.setVelocity(std::numeric_limits<float>::quiet_NaN());
    EXPECT_FLOAT_EQ(bank.gain(), 1e-10f);

    MemoryBank letters(R"(<Bank velocity="loud"/>)");
    letters.initialize();
    EXPECT_FLOAT_EQ(letters.velocity(), 0.0f);
}

TEST(Description, ConvertsAttributes) {
    const std::string body = R"(<SamplesTree class="top" class="second"><Samples>
      <Sample midi="300" midi="12" string=" 2x" dynamic="MF" option="a&amp;b">
        <Wave file="a.wav" peak="0.5dB" pickup="bridge" repitch="12.5" velocity=" 90abc"
              ratio="abc" gain="-6"/><Wave/></Sample>
      <Sample midi="-1" string="383"/><Sample/>
    </Samples></SamplesTree></Bank>)";
    MemoryBank bank(
        R"(<Bank id="b" velocity="0.1" name="Name" velocity="0.5" type="Guitar" description="x &lt; y">)" +
        body);
    bank.initialize();
    EXPECT_EQ(bank.id() + "|" + bank.name() + "|" + bank.type() + "|" + bank.description(),
              "b|Name|Guitar|x < y");
    EXPECT_FLOAT_EQ(bank.velocity(), 0.5f); // the later duplicate wins on the root
    // The first class wins on an element; midi 300 keeps its low byte; the string
    // attribute counts from 1 and ignores what follows its digits.
    EXPECT_EQ(outline(bank.layer()),
              "top(44/2:MF:a&b[a.wav{12.5 0.5 90 bridge 0 0.501187}, -{0 0 -1 - 1 1}] -1/127 -1)");

    // A trailing "+" on the id flips every repitch, present or not.
    MemoryBank flipped(R"(<Bank id="b+">)" + body);
    flipped.initialize();
    EXPECT_EQ(
        outline(flipped.layer()),
        "top(44/2:MF:a&b[a.wav{-12.5 0.5 90 bridge 0 0.501187}, -{-0 0 -1 - 1 1}] -1/127 -1)");
}

// Each of a Wave's attributes reaches its own field, the first of a name
// counting, in a Wave as in a Layer; names it does not read change nothing.
TEST(Description, EveryWaveAttributeReachesItsOwnField) {
    const char* const names[] = {"peak",        "repitch",       "velocity",       "ratio",
                                 "gain",        "ampDelay",      "ampAttack",      "ampHold",
                                 "ampDecay",    "ampSustain",    "ampRelease",     "pan",
                                 "cutoff",      "resonance",     "velToCutoff",    "modDelay",
                                 "modAttack",   "modHold",       "modDecay",       "modSustain",
                                 "modRelease",  "modEnvToPitch", "modEnvToCutoff", "modLfoDelay",
                                 "modLfoFreq",  "modLfoToPitch", "modLfoToCutoff", "modLfoToVolume",
                                 "vibLfoDelay", "vibLfoFreq",    "vibLfoToPitch"};
    std::string attributes = R"(file="w.wav" pickup="neck" Peak="9" fil="x")";
    for (size_t i = 0; i < std::size(names); ++i) {
        attributes += " " + std::string(names[i]) + "=\"" + std::to_string(i + 1) + "\"";
    }
    for (const char* name : names) {
        attributes += " " + std::string(name) + "=\"99\"";
    }
    MemoryBank bank(R"(<Bank><SamplesTree><Samples><Sample><Wave )" + attributes + R"(/><Layer )" +
                    attributes + R"( file="no.wav"/></Sample></Samples></SamplesTree></Bank>)");
    bank.initialize();
    ASSERT_EQ(bank.layer().samples.size(), 1u);
    const ox::soundfont::Sample& sample = bank.layer().samples[0];
    ASSERT_EQ(sample.wavs.size(), 1u);
    ASSERT_EQ(sample.layers.size(), 1u);
    const auto decibels = [](float db) { return powf(10.0f, db / 20.0f); };
    for (const ox::soundfont::Wav& wav : {sample.wavs[0], sample.layers[0].wave}) {
        EXPECT_EQ(wav.file, "w.wav");
        EXPECT_EQ(wav.pickup, "neck");
        EXPECT_EQ(wav.peak, 1.0f);
        EXPECT_EQ(wav.repitch, 2.0f);
        EXPECT_EQ(wav.velocity, 3);
        EXPECT_EQ(wav.ratio, 4.0f);
        EXPECT_EQ(wav.gain, decibels(5.0f));
        ASSERT_TRUE(wav.envelope);
        EXPECT_EQ(*wav.envelope, (ox::audio::Envelope{6, 7, 8, 9, decibels(10.0f), 11}));
        ASSERT_TRUE(wav.shape);
        const ox::audio::VoiceShape& s = *wav.shape;
        EXPECT_EQ(s.pan, 12.0f);
        EXPECT_EQ(s.cutoff, 13.0f);
        EXPECT_EQ(s.resonance, 14.0f);
        EXPECT_EQ(s.velocityToCutoff, 15.0f);
        EXPECT_EQ(s.modEnvelope, (ox::audio::Envelope{16, 17, 18, 19, 20, 21}));
        EXPECT_EQ(s.modEnvelopeToPitch, 22.0f);
        EXPECT_EQ(s.modEnvelopeToCutoff, 23.0f);
        EXPECT_EQ(s.modLfo, (ox::audio::Lfo{24, 25}));
        EXPECT_EQ(s.modLfoToPitch, 26.0f);
        EXPECT_EQ(s.modLfoToCutoff, 27.0f);
        EXPECT_EQ(s.modLfoToVolume, 28.0f);
        EXPECT_EQ(s.vibratoLfo, (ox::audio::Lfo{29, 30}));
        EXPECT_EQ(s.vibratoToPitch, 31.0f);
    }
}

TEST(Description, Tuning) {
    // The tuning as read, or the kind and text of the exception that passes out
    // (a doubled or leading blank makes an empty part).
    auto tuning = [](const std::string& value) -> std::string {
        MemoryBank bank(R"(<Bank tuning=")" + value + R"("/>)");
        try {
            bank.initialize();
        } catch (const std::invalid_argument& e) {
            return std::string("invalid: ") + e.what();
        } catch (const std::out_of_range& e) {
            return std::string("range: ") + e.what();
        }
        std::string out;
        for (int pitch : bank.tuning()) {
            out += (out.empty() ? "" : " ") + std::to_string(pitch);
        }
        return out;
    };
    const std::pair<const char*, const char*> rows[] = {
        {"64 59 55 50 45 40", "64 59 55 50 45 40"},
        {"64 +59x", "64 59"},
        {"40", ""},
        {"", ""},
        {"64 x", "invalid: invalid stoi argument"},
        {"64  59", "invalid: invalid stoi argument"},
        {" 64 59", "invalid: invalid stoi argument"},
        {"64 2147483648", "range: stoi argument out of range"}};
    for (const auto& [value, expected] : rows) {
        EXPECT_EQ(tuning(value), expected) << '"' << value << '"';
    }

    // Attributes before the broken tuning are applied, later ones and the layers are not,
    // and the gain is not recomputed.
    MemoryBank bank(R"(<Bank id="before" tuning="1 x" name="after">
        <SamplesTree class="c"/></Bank>)");
    EXPECT_THROW(bank.initialize(), std::invalid_argument);
    EXPECT_EQ(summary(bank), "before||()");
    EXPECT_FLOAT_EQ(bank.gain(), 1.0f);
}

TEST(Description, ExcludedSamplesOfThreeBanks) {
    const std::string hillside = "HillsideGrand9-Key-Sus-none-07-none-081-none.ogg";
    const struct {
        std::string id, file;
        size_t kept;
    } rows[] = {{"Hillside-Piano", hillside, 1},
                {"Ballade-Nylons", "BallNyl-Fng-Sus-Thumb-01-6E40-040-none-none.ogg", 1},
                {"Jang12-Guitar", "Jng12-Pck-Sus-Down-01-6E40-040-BR-none.ogg", 1},
                {"Jang12-Guitar", "Jng12-Pck-Sus-Down-01-6E40-040-NK-none.ogg", 1},
                {"hillside-piano", hillside, 2},
                {"Ballade-Nylons", hillside, 2},
                {"Hillside-Piano", "HillsideGrand9-Key-Sus-none-07-none-084-none.ogg", 2}};
    for (const auto& row : rows) {
        MemoryBank bank(R"(<Bank id=")" + row.id + R"("><SamplesTree><Samples>
            <Sample midi="60"><Wave file="other.ogg"/><Wave file=")" +
                        row.file + R"("/></Sample>
            <Sample midi="61"><Wave file="other.ogg"/></Sample></Samples></SamplesTree></Bank>)");
        bank.initialize();
        EXPECT_EQ(bank.layer().samples.size(), row.kept) << row.id << " " << row.file;
    }
}

TEST(Description, ParseErrorPassesOutAndLeavesFieldsAlone) {
    MemoryBank bank(R"(<Bank id="good" velocity="1"><SamplesTree class="c"/></Bank>)");
    bank.initialize();
    bank.setVelocity(0.5f);
    for (const char* broken : {R"(<Bank id="bad"><SamplesTree>)", R"(text<Bank id="bad"/>)",
                               R"(<Bank id=bad/>)", R"(<Bank id="&#65"/>)"}) {
        bank.setXml(broken);
        EXPECT_THROW(bank.initialize(), rapidxml::parse_error) << broken;
        EXPECT_EQ(summary(bank), "good||c()");
        EXPECT_NEAR(bank.gain(), 0.2610, 1e-4);
    }
    // The failed document is not kept: a good one reads again.
    bank.setXml(R"(<Bank id="again"/>)");
    bank.initialize();
    EXPECT_EQ(summary(bank), "again||()");
}

TEST(Description, ByteOrderMarkDeclarationAndEmptyDocuments) {
    const std::string plain = R"(<Bank id="x" velocity="0.5"><SamplesTree class="t"/></Bank>)";
    MemoryBank bank("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                    "<!DOCTYPE Bank><!-- made by hand -->\n" +
                    plain);
    bank.initialize();
    EXPECT_EQ(summary(bank), "x||t()");
    EXPECT_FLOAT_EQ(bank.velocity(), 0.5f);

    // Empty and blank documents change nothing.
    for (const char* empty : {"", " \n\t "}) {
        bank.setXml(empty);
        bank.initialize();
        EXPECT_EQ(summary(bank), "x||t()");
    }
    // A root without a samples tree replaces the layer with an empty one.
    bank.setXml(R"(<Bank><Node class="n"/></Bank>)");
    bank.initialize();
    EXPECT_EQ(outline(bank.layer()), "()");
}

TEST(Description, LayersNestInDocumentOrder) {
    MemoryBank bank(R"(<Bank><Other><SamplesTree class="ignored"/></Other>
      <SamplesTree class="top"><Samples><Sample midi="1"/></Samples>
        <Node class="a">
          <Node class="a1"><Node class="a11"><Samples><Sample midi="5"/></Samples></Node></Node>
          <Node class="a2"/></Node>
        <Sample midi="99"/><Samples><Sample midi="2"/><Wave file="stray"/><Sample midi="3"/></Samples>
        <Node class="b"><Samples><Sample midi="7"/></Samples><Samples/></Node>
      </SamplesTree><SamplesTree class="second"/></Bank>)");
    bank.initialize();
    // The later "Samples" of an element counts, even when empty.
    EXPECT_EQ(outline(bank.layer()), "top(2 3 | a(| a1(| a11(5)) a2()) b())");
}

TEST(Description, InitializeTwice) {
    const std::string tail = R"(tuning="1 2"><SamplesTree><Samples><Sample midi="60"/>
        </Samples></SamplesTree></Bank>)";
    MemoryBank fixed(R"(<Bank id="f" velocity="1" )" + tail);
    MemoryBank loose(R"(<Bank id="f" )" + tail);
    for (MemoryBank* bank : {&fixed, &loose}) {
        bank->initialize();
        bank->setVelocity(0.3f);
        bank->initialize();
        EXPECT_EQ(summary(*bank), "f||(60)");
        EXPECT_EQ(bank->tuning(), (std::vector<int>{1, 2}));
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
    bank.initialize();
    const Layer& top = bank.layer();
    EXPECT_EQ(top.findWav("x.wav"), &top.samples[1].wavs[1]);
    ASSERT_NE(top.findWav("d.wav"), nullptr);
    EXPECT_NEAR(top.findWav("d.wav")->gain, 1.9953, 1e-4);
    EXPECT_EQ(top.findWav("X.wav"), nullptr);
    EXPECT_EQ(top.findWav(""), nullptr);
}

TEST(Description, NumbersConvertExactlyLikeTheCLibrary) {
    // Plain decimals take a shortcut past strtod; every form must still give
    // exactly what atof and atoi give.
    std::vector<std::string> values;
    std::istringstream fixed("0|-0|5.|.5|-.5|.|-||0.72|1e3| 2.5|+1.5|0x1p3|inf|nan|1.2.3|--1|12abc|"
                             "0.1234567890123456789|123456789012345|1234567890123456|-999999999|"
                             "2147483648|99999999999|000000000000001.5|3.4028236e38|1e-50");
    for (std::string v; std::getline(fixed, v, '|');) {
        values.push_back(v);
    }
    unsigned seed = 7;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
    for (int i = 0; i < 2000; ++i) {
        std::string v = next() % 3 == 0 ? "-" : "";
        const unsigned digits = 1 + next() % 17;
        const unsigned point = next() % (digits + 2);
        for (unsigned d = 0; d < digits; ++d) {
            if (d == point) {
                v += '.';
            }
            v += char('0' + next() % 10);
        }
        values.push_back(v);
    }
    std::string xml = R"(<Bank><SamplesTree><Samples>)";
    for (const std::string& v : values) {
        xml += R"(<Sample midi=")" + v + R"("><Wave peak=")" + v + R"(" velocity=")" + v +
               R"("/></Sample>)";
    }
    MemoryBank bank(xml + "</Samples></SamplesTree></Bank>");
    bank.initialize();
    const auto& samples = bank.layer().samples;
    ASSERT_EQ(samples.size(), values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        const char* v = values[i].c_str();
        const float expected = static_cast<float>(std::atof(v));
        const float peak = samples[i].wavs[0].peak;
        EXPECT_EQ(std::memcmp(&peak, &expected, sizeof peak), 0) << v;
        EXPECT_EQ(samples[i].wavs[0].velocity, std::atoi(v)) << v;
        EXPECT_EQ(samples[i].midi, static_cast<int8_t>(std::atoi(v))) << v;
    }
}

namespace {

/// The parse error checkDescriptionLimits() throws, with where it points, or "accepted".
std::string limitRefusal(const std::string& xml) {
    try {
        ox::soundfont::checkDescriptionLimits(xml.c_str());
    } catch (const rapidxml::parse_error& e) {
        return std::string(e.what()) + " @" + std::to_string(e.where<char>() - xml.c_str());
    }
    return "accepted";
}

} // namespace

TEST(Description, PlainDescriptionsAreMeasuredAsTheParserNestsThem) {
    // Nothing but tags and double-quoted values, as banks are written: `depth`
    // Node levels under the root, each with a self-closing child, the values
    // padded so that every tag mark falls at every place of a 64-byte block.
    const int limit = ox::soundfont::kMaxDescriptionDepth;
    auto plain = [](int depth, int pad, const std::string& between = "") {
        std::string xml = "<?xml version=\"1.0\"?>\n<Bank id=\"b\">";
        for (int i = 1; i < depth; ++i) {
            xml += "<Node class=\"" + std::string(size_t(pad + i % 7), 'v') + "\">" + between +
                   "<Wave file=\"" + std::string(size_t(i % 5), 'w') + ".flac\"/>";
        }
        for (int i = 1; i < depth; ++i) {
            xml += "</Node>\n";
        }
        return xml + "</Bank>";
    };
    for (int pad = 0; pad < 64; ++pad) {
        EXPECT_EQ(limitRefusal(plain(limit, pad)), "accepted") << pad;
        const std::string deep = plain(limit + 1, pad);
        // The offending name: the start tag that opens level 129.
        size_t at = 0;
        for (int i = 0; i < limit; ++i) {
            at = deep.find("<Node", at + 1);
        }
        EXPECT_EQ(limitRefusal(deep),
                  "elements nested deeper than 128 levels @" + std::to_string(at + 1))
            << pad;
    }

    // Text a reading by tag marks alone would take for closing tags: a '>'
    // after "/" in text, "/>" inside values, in apostrophes, with blanks
    // around '='. The parser nests through all of them, so they are refused.
    for (const char* between : {"/>", "a/>b"}) {
        EXPECT_NE(limitRefusal(plain(limit + 1, 3, between)), "accepted") << between;
    }
    for (const char* value : {"class=\"/>\"", "class='/>'", "class = \"/>\"", "a=\"x\" b='/>'"}) {
        std::string xml = "<Bank>";
        for (int i = 1; i <= limit; ++i) {
            xml += std::string("<Node ") + value + ">";
        }
        EXPECT_NE(limitRefusal(xml + "</Bank>"), "accepted") << value;
        EXPECT_EQ(limitRefusal("<Bank>" + xml.substr(6, xml.size() / 2) + "</Bank>"), "accepted")
            << value;
    }
}

TEST(Description, NestingAndElementLimits) {
    // `depth` elements nested in all: root, SamplesTree, then Node levels. Markup
    // that only looks like tags (in a processing instruction, a document type,
    // comments, CDATA, attribute values) is no element.
    auto nested = [](int depth, int pad = 0, char quote = '\'') {
        std::string xml = R"(<?xml version="1.0"?><?pi <a> ?><!DOCTYPE Bank [<!ENTITY e "<a>">]>
            <Bank id="deep"><!-- <a><b> --><SamplesTree>)";
        for (int i = 2; i < depth; ++i) {
            xml += R"(<Node class=")" + std::string(size_t(pad), 'a') + "<x/>\" note=" + quote +
                   "/>" + quote + "><![CDATA[<y>]]>";
        }
        for (int i = 2; i < depth; ++i) {
            xml += "</Node>";
        }
        return xml + "</SamplesTree></Bank>";
    };
    auto refusal = [](std::string xml) {
        try {
            ox::soundfont::checkDescriptionLimits(xml.c_str());
        } catch (const rapidxml::parse_error& e) {
            // Where: the offset of the first element past the limit.
            return std::string(e.what()) + " @" + std::to_string(e.where<char>() - xml.c_str());
        }
        return std::string("accepted");
    };
    const int limit = ox::soundfont::kMaxDescriptionDepth;
    MemoryBank bank(nested(limit));
    bank.initialize();
    const Layer* layer = &bank.layer();
    for (int level = 2; level < limit; ++level) {
        ASSERT_EQ(layer->layers.size(), 1u) << level;
        layer = &layer->layers[0];
    }
    EXPECT_TRUE(layer->layers.empty());

    // One level more, or a hundred thousand, is refused before it is parsed.
    for (int depth : {limit + 1, 100000}) {
        bank.setXml(nested(depth));
        EXPECT_THROW(bank.initialize(), rapidxml::parse_error) << depth;
        EXPECT_EQ(bank.layer().layers.size(), 1u);
        const size_t tooDeep = nested(limit).find("</Node>") + 1; // the next start tag's name
        EXPECT_EQ(refusal(nested(depth)),
                  "elements nested deeper than 128 levels @" + std::to_string(tooDeep));
    }

    // Values scanned a block at a time: a quote or tag at every place in a block.
    for (int pad = 1; pad <= 33; ++pad) {
        for (char quote : {'\'', '"'}) {
            EXPECT_EQ(refusal(nested(limit, pad, quote)), "accepted") << pad << quote;
            EXPECT_NE(refusal(nested(limit + 1, pad, quote)), "accepted") << pad << quote;
        }
    }

    // Blanks around '=' and a quote inside a name are read as the parser reads
    // them; after a tag the parser refuses, nothing is counted as too deep,
    // since the parser stops there with its own error.
    std::string spaced = nested(limit + 1);
    for (size_t at = 0; (at = spaced.find("class=", at)) != std::string::npos;) {
        spaced.replace(at, 6, "class = ");
    }
    EXPECT_NE(refusal(spaced), "accepted");
    EXPECT_NE(refusal("<r x'=\"1\">" + nested(limit + 1) + "</r>"), "accepted");
    for (const char* fault : {"<a / >", "<a b>", "</a x>", "<a b=c>"}) {
        std::string xml = "<r>" + std::string(fault) + nested(limit + 10) + "</r>";
        EXPECT_EQ(refusal(xml), "accepted") << fault;
        bank.setXml(xml);
        EXPECT_THROW(bank.initialize(), rapidxml::parse_error) << fault;
    }

    // Elements side by side count too, up to the limit.
    std::string flat = "<r>";
    for (int i = 1; i < ox::soundfont::kMaxDescriptionElements; ++i) {
        flat += "<x/>";
    }
    EXPECT_EQ(refusal(flat + "</r>"), "accepted");
    EXPECT_EQ(refusal(flat + "<x/></r>"),
              "more than 1048576 elements @" + std::to_string(flat.size() + 1));
}
