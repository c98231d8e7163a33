#pragma once

// Each command registers itself as a subcommand whose callback does the work.
// Callbacks report failures by throwing ToolError (exit 1) or UsageError (exit 2).

namespace CLI {
class App;
}

namespace oxsf {

void addInfoCommand(CLI::App& app);
void addFindCommand(CLI::App& app);
void addImportCommand(CLI::App& app);
void addPlayCommand(CLI::App& app);
void addRenderCommand(CLI::App& app);
void addArchiveCommands(CLI::App& app); // pack, unpack, ls
void addDemoCommand(CLI::App& app);
void addCheckCommand(CLI::App& app);
void addLiveCommand(CLI::App& app); // built only with JACK (OXSF_HAVE_JACK)

/// --quality standard|high of play and render: high sets `highQuality`, which
/// transposes through the windowed sinc instead of the cubic.
void addQualityOption(CLI::App* cmd, bool& highQuality);

} // namespace oxsf
