#include <soundfont/SoundFontManager.h>

#include "catalogue/Description.h"

#include <ox/utils/filesystem.h>

#include <QDebug>
#include <QMessageLogger>
#include <QString>

#include <unordered_map>

namespace ox::soundfont {

BankPackaging bankPackaging(const std::string& path) {
    // A folder with a description wins over an archive-like name.
    if (ox::utils::filesystem::exists(path + "/Samples.xml")) {
        return BankPackaging::Directory;
    }
    const std::string extension = ox::utils::filesystem::extension(path);
    return extension == "tq7bank" || extension == "jux" ? BankPackaging::Archive
                                                        : BankPackaging::None;
}

namespace {

std::shared_ptr<SoundFont> makeBank(const std::string& path) {
    switch (bankPackaging(path)) {
    case BankPackaging::Directory:
        return std::make_shared<SoundFontV6>(path);
    case BankPackaging::Archive:
        return std::make_shared<SoundFontV7>(path);
    case BankPackaging::None:
        break;
    }
    return {};
}

// Where `where` lies in `text`, counted from line 1, column 1.
void locate(const std::vector<char>& text, const char* where, DescriptionProblem& problem) {
    if (where < text.data() || where >= text.data() + text.size()) {
        return;
    }
    problem.line = 1;
    problem.column = 1;
    for (const char* c = text.data(); c < where; ++c) {
        if (*c == '\n') {
            ++problem.line;
            problem.column = 1;
        } else {
            ++problem.column;
        }
    }
}

} // namespace

struct SoundFontManager::Impl {
    // Keyed by the path exactly as the host passed it.
    std::unordered_map<std::string, std::shared_ptr<SoundFont>> banks;
};

SoundFontManager::SoundFontManager() : m_impl(std::make_unique<Impl>()) {}

SoundFontManager::~SoundFontManager() = default;

std::shared_ptr<SoundFont> SoundFontManager::addDirectory(const std::string& path) {
    std::shared_ptr<SoundFont> bank = makeBank(path);
    if (!bank) {
        return {};
    }

    bank->initialize();
    QMessageLogger(nullptr, 0, nullptr).debug() << QString::fromStdString(bank->id());
    // One bank always plays at half velocity, whatever its description says.
    if (bank->name() == "Knock") {
        bank->setVelocity(0.5f);
    }
    m_impl->banks.try_emplace(path, bank);
    return bank;
}

std::string DescriptionProblem::text() const {
    if (line <= 0) {
        return message;
    }
    return message + " at line " + std::to_string(line) + ", column " + std::to_string(column);
}

std::optional<DescriptionProblem> describeDescriptionProblem(const std::string& path) {
    const std::shared_ptr<SoundFont> bank = makeBank(path);
    if (!bank) {
        return std::nullopt;
    }
    try {
        bank->initialize();
        return std::nullopt;
    } catch (const rapidxml::parse_error& e) {
        DescriptionProblem problem{DescriptionProblem::Malformed, e.what()};
        // The error points into the bank's own copy of the text; parse a copy
        // of ours to find the place.
        if (const auto stream = bank->sampleXML()) {
            std::vector<char> text = stream->readAll();
            text.push_back('\0');
            rapidxml::xml_document<char> document;
            try {
                description::parse(document, text);
            } catch (const rapidxml::parse_error& again) {
                locate(text, again.where<char>(), problem);
            }
        }
        return problem;
    } catch (const std::invalid_argument& e) {
        return DescriptionProblem{DescriptionProblem::Tuning, e.what()};
    } catch (const std::out_of_range& e) {
        return DescriptionProblem{DescriptionProblem::Tuning, e.what()};
    }
}

std::shared_ptr<SoundFont> SoundFontManager::soundFont(const std::string& path) const {
    const auto found = m_impl->banks.find(path);
    return found == m_impl->banks.end() ? nullptr : found->second;
}

std::shared_ptr<SoundFont> SoundFontManager::soundFontFromId(const std::string& id) const {
    for (const auto& [path, bank] : m_impl->banks) {
        if (bank->id() == id) {
            return bank;
        }
    }
    return {};
}

} // namespace ox::soundfont
