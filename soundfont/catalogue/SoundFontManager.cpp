#include <soundfont/SoundFontManager.h>

#include <ox/utils/filesystem.h>

#include <QDebug>
#include <QMessageLogger>
#include <QString>

#include <unordered_map>

namespace ox::soundfont {

struct SoundFontManager::Impl {
    // Keyed by the path exactly as the host passed it.
    std::unordered_map<std::string, std::shared_ptr<SoundFont>> banks;
};

SoundFontManager::SoundFontManager() : d(std::make_unique<Impl>()) {}

SoundFontManager::~SoundFontManager() = default;

std::shared_ptr<SoundFont> SoundFontManager::addDirectory(const std::string& path) {
    std::shared_ptr<SoundFont> bank;
    // A folder with a description wins over an archive-like name.
    if (ox::utils::filesystem::exists(path + "/Samples.xml")) {
        bank = std::make_shared<SoundFontV6>(path);
    } else {
        const std::string extension = ox::utils::filesystem::extension(path);
        if (extension == "tq7bank" || extension == "jux")
            bank = std::make_shared<SoundFontV7>(path);
    }
    if (!bank)
        return {};

    bank->initialize();
    QMessageLogger(nullptr, 0, nullptr).debug() << QString::fromStdString(bank->id());
    // One bank always plays at half velocity, whatever its description says.
    if (bank->name() == "Knock")
        bank->setVelocity(0.5f);
    d->banks.try_emplace(path, bank);
    return bank;
}

std::shared_ptr<SoundFont> SoundFontManager::soundFont(const std::string& path) const {
    const auto found = d->banks.find(path);
    return found == d->banks.end() ? nullptr : found->second;
}

std::shared_ptr<SoundFont> SoundFontManager::soundFontFromId(const std::string& id) const {
    for (const auto& [path, bank] : d->banks)
        if (bank->id() == id)
            return bank;
    return {};
}

} // namespace ox::soundfont
