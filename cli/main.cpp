#include <CLI/CLI.hpp>

#include "cli/commands.h"

namespace tabulon::cli {

int& ExitStatus() {
    static int status = 0;
    return status;
}

}  // namespace tabulon::cli

int main(int argc, char** argv) {
    if (!tabulon::cli::LoadStartupResources()) return 1;
    CLI::App app {"Tabulon: finds and recovers .xls workbooks on FAT volumes, disks and disk images.\n"
                  "Sources are only ever read, never written."};
    app.require_subcommand(1);
    app.set_version_flag("--version", "tabulon 0.1.0");
    tabulon::cli::AddInfoCommand(app);
    tabulon::cli::AddScanCommand(app);
    tabulon::cli::AddSaveCommand(app);
    tabulon::cli::AddRecoverCommand(app);
    tabulon::cli::AddLsCommand(app);
    tabulon::cli::AddPreviewCommand(app);
    tabulon::cli::AddExportCommand(app);
    tabulon::cli::AddFragmentsCommand(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return 2;
    }
    return tabulon::cli::ExitStatus();
}
