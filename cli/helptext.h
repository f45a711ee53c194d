#pragma once

// Everything the program says about itself: the help texts, the manual page and the shell completions, all
// made from the commands' descriptions and option tables, so that none of them can tell a different story.

#include "cli/command.h"

#include <span>
#include <string>
#include <string_view>

namespace brindlemark::cli {

// `brindlemark-cli --help`.
std::string programHelp(std::span<const Command* const> commands);
// `brindlemark-cli COMMAND --help`: usage, summary, details, the option table and the examples.
std::string commandHelp(const Command& command);
// "usage: brindlemark-cli check FILE".
std::string commandUsage(const Command& command);

// The manual page brindlemark-cli.1 (roff), with every command.
std::string manPage(std::span<const Command* const> commands, std::string_view version);
// Completion scripts for bash (bash-completion) and zsh (compsys).
std::string bashCompletion(std::span<const Command* const> commands);
std::string zshCompletion(std::span<const Command* const> commands);

} // namespace brindlemark::cli
