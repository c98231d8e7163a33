// oxsf: inspect, search, play and package sound banks from the command line.

#include "Commands.h"
#include "Errors.h"

#include <CLI/CLI.hpp>
#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <exception>
#include <string>

namespace {

bool g_showLog = false;

// The library writes one debug line per bank it opens; keep stderr for errors
// unless the user asks to see them.
void messageHandler(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtDebugMsg && !g_showLog) {
        return;
    }
    std::fprintf(stderr, "oxsf: log: %s\n", message.toLocal8Bit().constData());
}

int fail(const std::string& message, int code) {
    std::fprintf(stderr, "oxsf: error: %s\n", message.c_str());
    return code;
}

} // namespace

int main(int argc, char** argv) {
    qInstallMessageHandler(messageHandler);

    CLI::App app{"Inspect, search, play and package sound banks.\n"
                 "Run 'oxsf COMMAND --help' for the options of a command.",
                 "oxsf"};
    app.require_subcommand(1);
    app.set_version_flag("--version", OXSF_VERSION);
    app.add_flag("--log", g_showLog, "Show the library's log lines on stderr");

    oxsf::addInfoCommand(app);
    oxsf::addFindCommand(app);
    oxsf::addImportCommand(app);
    oxsf::addPlayCommand(app);
    oxsf::addRenderCommand(app);
    oxsf::addArchiveCommands(app);
    oxsf::addDemoCommand(app);
    oxsf::addCheckCommand(app);
#ifdef OXSF_HAVE_JACK
    oxsf::addLiveCommand(app);
#endif

    // Name a mistyped command instead of saying that one is missing.
    if (argc > 1 && argv[1][0] != '-') {
        try {
            app.get_subcommand(argv[1]);
        } catch (const CLI::OptionNotFound&) {
            std::string known;
            for (const CLI::App* command : app.get_subcommands({})) {
                known += (known.empty() ? "" : ", ") + command->get_name();
            }
            return fail("unknown command '" + std::string(argv[1]) + "' (commands: " + known + ")",
                        2);
        }
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) { // --help, --version
            return app.exit(e);
        }
        return fail(std::string(e.what()) + " (see 'oxsf --help')", 2);
    } catch (const oxsf::UsageError& e) {
        return fail(e.what(), 2);
    } catch (const oxsf::ToolError& e) {
        return fail(e.what(), 1);
    } catch (const std::exception& e) {
        return fail(e.what(), 1);
    }
    return 0;
}
