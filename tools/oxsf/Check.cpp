// oxsf check: what a host will meet in a bank, found before a host meets it.

#include "BankCheck.h"
#include "BankLoader.h"
#include "Commands.h"
#include "Errors.h"

#include <CLI/CLI.hpp>
#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <iostream>
#include <map>
#include <set>

namespace oxsf {

using namespace ox::soundfont;

namespace {

struct CheckCommand {
    std::vector<std::string> banks;
    CheckOptions options;
    bool json = false;
    bool strict = false;
};

struct BankReport {
    std::string path;
    std::string id;
    std::vector<Finding> findings;

    size_t count(Finding::Severity severity) const {
        return size_t(std::count_if(findings.begin(), findings.end(),
                                    [&](const Finding& f) { return f.severity == severity; }));
    }
};

BankReport checkOne(const std::string& path, const CheckOptions& options,
                    std::vector<std::string>& files) {
    BankReport report{path, {}, {}};
    SoundFontManager manager;
    OpenedBank opened;
    try {
        opened = openBank(manager, path);
    } catch (const DescriptionError& e) {
        report.findings.push_back(Finding{Finding::Severity::Error,
                                          "parse",
                                          e.document(),
                                          e.problem(),
                                          {{"line", e.line()}, {"column", e.column()}}});
        return report;
    } catch (const ToolError& e) {
        report.findings.push_back(Finding{Finding::Severity::Error, "open", path, e.reason(), {}});
        return report;
    }
    report.id = opened.bank->id();
    report.findings =
        checkBank(*opened.bank, opened.archive ? std::string() : path + "/Samples", options);
    files = describedFiles(*opened.bank);
    return report;
}

// Two banks that name the same file share one cache entry: whichever plays it
// first decides what both play, gain included.
void checkSharedFiles(std::vector<BankReport>& reports,
                      const std::vector<std::vector<std::string>>& files) {
    std::map<std::string, std::vector<size_t>> users;
    for (size_t bank = 0; bank < files.size(); ++bank) {
        for (const std::string& file :
             std::set<std::string>(files[bank].begin(), files[bank].end())) {
            users[file].push_back(bank);
        }
    }
    for (const auto& [file, banks] : users) {
        if (banks.size() < 2) {
            continue;
        }
        for (size_t bank : banks) {
            std::vector<std::string> others;
            for (size_t other : banks) {
                if (other != bank) {
                    others.push_back(reports[other].path);
                }
            }
            std::string list;
            for (const std::string& other : others) {
                list += (list.empty() ? "" : ", ") + other;
            }
            reports[bank].findings.push_back(
                Finding{Finding::Severity::Warning,
                        "shared-file",
                        file,
                        fmt::format("also named by {}: the banks share one cached stream, and "
                                    "the one that plays it first decides what both play",
                                    list),
                        {{"banks", others}}});
        }
    }
}

const char* severityName(Finding::Severity severity) {
    return severity == Finding::Severity::Error ? "error" : "warning";
}

void printText(const std::vector<BankReport>& reports) {
    for (const BankReport& report : reports) {
        for (const Finding& f : report.findings) {
            fmt::print("{}: {}: {}: {}\n", report.path, severityName(f.severity), f.subject,
                       f.message);
        }
        fmt::print("{}: {}, {}\n", report.path,
                   fmt::format("{} error{}", report.count(Finding::Severity::Error),
                               report.count(Finding::Severity::Error) == 1 ? "" : "s"),
                   fmt::format("{} warning{}", report.count(Finding::Severity::Warning),
                               report.count(Finding::Severity::Warning) == 1 ? "" : "s"));
    }
}

void printJson(const std::vector<BankReport>& reports) {
    nlohmann::json j;
    j["banks"] = nlohmann::json::array();
    size_t errors = 0, warnings = 0;
    for (const BankReport& report : reports) {
        nlohmann::json bank;
        bank["path"] = report.path;
        bank["id"] = report.id;
        bank["errors"] = report.count(Finding::Severity::Error);
        bank["warnings"] = report.count(Finding::Severity::Warning);
        bank["findings"] = nlohmann::json::array();
        for (const Finding& f : report.findings) {
            nlohmann::json item = f.details;
            item["severity"] = severityName(f.severity);
            item["check"] = f.check;
            item["subject"] = f.subject;
            item["message"] = f.message;
            bank["findings"].push_back(item);
        }
        errors += report.count(Finding::Severity::Error);
        warnings += report.count(Finding::Severity::Warning);
        j["banks"].push_back(bank);
    }
    j["errors"] = errors;
    j["warnings"] = warnings;
    std::cout << j.dump(2) << '\n';
}

void runCheck(const CheckCommand& command) {
    std::vector<BankReport> reports;
    std::vector<std::vector<std::string>> files;
    for (const std::string& path : command.banks) {
        files.emplace_back();
        reports.push_back(checkOne(path, command.options, files.back()));
    }
    checkSharedFiles(reports, files);
    if (command.json) {
        printJson(reports);
    } else {
        printText(reports);
    }
    std::cout.flush();

    // The report is on stdout; a failed check also ends the way every failing
    // command does, with one error line and exit code 1.
    std::vector<std::string> failed;
    for (const BankReport& report : reports) {
        if (report.count(Finding::Severity::Error) > 0 ||
            (command.strict && report.count(Finding::Severity::Warning) > 0)) {
            failed.push_back(report.path);
        }
    }
    if (failed.size() == 1) {
        throw ToolError(failed[0], command.strict ? "the check found errors or warnings"
                                                  : "the check found errors");
    }
    if (!failed.empty()) {
        throw ToolError("", fmt::format("the check found {} in {} banks",
                                        command.strict ? "errors or warnings" : "errors",
                                        failed.size()));
    }
}

} // namespace

void addCheckCommand(CLI::App& app) {
    auto command = std::make_shared<CheckCommand>();
    CLI::App* cmd = app.add_subcommand("check", "Find what a host would meet in banks: missing "
                                                "or broken files, samples never found, notes "
                                                "played far from their pitch");
    cmd->add_option("BANK", command->banks, "Bank folders or archives")->required();
    cmd->add_flag("--decode", command->options.decode,
                  "Also decode every file whole (finds files that end early)");
    cmd->add_option("--max-transpose", command->options.maxTranspose,
                    "Semitones a note asked for by pitch alone may be transposed")
        ->check(CLI::Range(0, 127))
        ->capture_default_str();
    cmd->add_flag("--strict", command->strict, "Warnings fail the check too");
    cmd->add_flag("--json", command->json, "Print JSON instead of text");
    cmd->footer("Errors (a broken description, missing, unreadable or undecodable files) exit "
                "with 1; warnings alone exit with 0 unless --strict.");
    cmd->callback([command] { runCheck(*command); });
}

} // namespace oxsf
