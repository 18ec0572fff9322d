#pragma once
// Each subcommand of the command-line program lives in its own file and registers itself here.
// Exit status: 0 success, 1 the source cannot be opened or the operation fails, 2 usage error.

#include <CLI/CLI.hpp>

#include <functional>

namespace tabulon::cli {

// Set by a subcommand's callback: the program's exit status.
int& ExitStatus();

// Loads what every command needs once at start-up (the record succession table); on failure prints
// the reason with its code and returns false, and the program ends with status 1.
bool LoadStartupResources();

void AddInfoCommand(CLI::App& app);
void AddScanCommand(CLI::App& app);
void AddSaveCommand(CLI::App& app);
void AddRecoverCommand(CLI::App& app);
void AddLsCommand(CLI::App& app);
void AddPreviewCommand(CLI::App& app);
void AddExportCommand(CLI::App& app);
void AddFragmentsCommand(CLI::App& app);

}  // namespace tabulon::cli
