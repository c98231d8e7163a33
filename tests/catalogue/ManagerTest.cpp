// Opening and finding banks through the manager.
#include "support/TestSupport.h"

#include <soundfont/SoundFontManager.h>

#include <QString>
#include <QtGlobal>
#include <gtest/gtest.h>
#include <rapidxml/rapidxml.hpp>

using ox::soundfont::SoundFontManager;
using ox::soundfont::SoundFontV6;
using ox::soundfont::SoundFontV7;

namespace {

std::vector<std::string> g_log;

void capture(QtMsgType type, const QMessageLogContext&, const QString& message) {
    g_log.push_back((type == QtDebugMsg ? "debug " : "other ") + message.toStdString());
}

class Manager : public testing::Test {
protected:
    void SetUp() override {
        g_log.clear();
        m_previous = qInstallMessageHandler(capture);
    }
    void TearDown() override { qInstallMessageHandler(m_previous); }

    std::string bank(const std::string& folder, const std::string& rootAttributes) {
        oxtest::writeFile(m_dir.file(folder + "/Samples.xml"), "<Bank " + rootAttributes + "/>");
        return m_dir.file(folder);
    }

    oxtest::TempDir m_dir;
    SoundFontManager m_manager;
    QtMessageHandler m_previous = nullptr;
};

} // namespace

TEST_F(Manager, OpensDirectoryBankAndLogsItsId) {
    // The description beneath the path wins over the archive-like name.
    const std::string path = bank("piano.tq7bank", R"(id="Grand &amp; Co" velocity="0.9")");
    const auto opened = m_manager.addDirectory(path);
    ASSERT_TRUE(opened);
    EXPECT_TRUE(dynamic_cast<SoundFontV6*>(opened.get()));
    EXPECT_EQ(opened->id(), "Grand & Co");
    EXPECT_FLOAT_EQ(opened->velocity(), 0.9f);
    EXPECT_EQ(g_log, std::vector<std::string>{"debug \"Grand & Co\""}); // the id is the only item

    EXPECT_EQ(m_manager.soundFont(path), opened);
    EXPECT_FALSE(m_manager.soundFont(path + "/"));
    EXPECT_FALSE(m_manager.soundFont(m_dir.file("PIANO.tq7bank")));
    EXPECT_EQ(m_manager.soundFontFromId("Grand & Co"), opened);
    EXPECT_FALSE(m_manager.soundFontFromId("Grand & co"));
    EXPECT_FALSE(m_manager.soundFontFromId(""));

    // Opening the same path again gives a new bank but keeps the first stored.
    const auto second = m_manager.addDirectory(path);
    ASSERT_TRUE(second);
    EXPECT_NE(second, opened);
    EXPECT_EQ(m_manager.soundFont(path), opened);
    EXPECT_EQ(g_log.size(), 2u);
}

TEST_F(Manager, ChoosesArchiveByExactExtension) {
    for (const char* name : {"x.tq7bank", "x.jux"}) {
        const auto opened = m_manager.addDirectory(m_dir.file(name));
        ASSERT_TRUE(opened) << name;
        EXPECT_TRUE(dynamic_cast<SoundFontV7*>(opened.get()));
        EXPECT_EQ(opened->id(), "");
    }
    // Both archives lack a description, so either one answers for the empty id.
    const auto noId = m_manager.soundFontFromId("");
    EXPECT_TRUE(noId == m_manager.soundFont(m_dir.file("x.tq7bank")) ||
                noId == m_manager.soundFont(m_dir.file("x.jux")));
    for (const char* name : {"x.TQ7BANK", "x.Jux", "x.zip", "tq7bank", ""}) {
        EXPECT_FALSE(m_manager.addDirectory(m_dir.file(name))) << name;
        EXPECT_FALSE(m_manager.soundFont(m_dir.file(name))) << name;
    }
    EXPECT_EQ(g_log.size(), 2u);
}

TEST_F(Manager, KnockPlaysAtHalfVelocity) {
    const auto knock = m_manager.addDirectory(bank("k1", R"(name="Knock" velocity="0.9")"));
    EXPECT_FLOAT_EQ(knock->velocity(), 0.5f);
    for (const char* name : {"knock", "Knock ", "Knocks"}) {
        const auto other = m_manager.addDirectory(
            bank(std::string("k-") + name, std::string("name=\"") + name + "\" velocity=\"0.9\""));
        EXPECT_FLOAT_EQ(other->velocity(), 0.9f) << name;
    }
}

TEST_F(Manager, MalformedDescriptionThrowsAndStoresNothing) {
    EXPECT_THROW(m_manager.addDirectory(bank("bad", R"(id="bad"><SamplesTree)")),
                 rapidxml::parse_error);
    EXPECT_THROW(m_manager.addDirectory(bank("tuning", R"(id="t" tuning="1 x")")),
                 std::invalid_argument);
    EXPECT_FALSE(m_manager.soundFont(m_dir.file("bad")));
    EXPECT_FALSE(m_manager.soundFont(m_dir.file("tuning")));
    EXPECT_FALSE(m_manager.soundFontFromId("t"));
    EXPECT_TRUE(g_log.empty());

    // What a tool tells the user instead: the same errors, with a place.
    using ox::soundfont::DescriptionProblem;
    oxtest::writeFile(m_dir.file("bad/Samples.xml"), "<Bank id=\"b\">\n  <SamplesTree>\n</Bank>");
    const auto malformed = ox::soundfont::describeDescriptionProblem(m_dir.file("bad"));
    ASSERT_TRUE(malformed);
    EXPECT_EQ(malformed->kind, DescriptionProblem::Malformed);
    EXPECT_EQ(malformed->line, 3);
    EXPECT_EQ(malformed->column, 8); // the parser ran out of text after "</Bank>"
    EXPECT_EQ(malformed->text(), "unexpected end of data at line 3, column 8");
    const auto tuning = ox::soundfont::describeDescriptionProblem(m_dir.file("tuning"));
    ASSERT_TRUE(tuning);
    EXPECT_EQ(tuning->kind, DescriptionProblem::Tuning);
    EXPECT_EQ(tuning->text(), "invalid stoi argument");
    EXPECT_FALSE(ox::soundfont::describeDescriptionProblem(bank("good", R"(id="g")")));
    EXPECT_FALSE(ox::soundfont::describeDescriptionProblem(m_dir.file("none")));
    EXPECT_TRUE(g_log.empty());
}
