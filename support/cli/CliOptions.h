// Option handling the two command-line tools share: the password options, ports written after an
// address, and the way a bad command line is refused.
#pragma once

#include "support/cli/PasswordInput.h"

#include <CLI/CLI.hpp>

#include <cstdint>
#include <optional>
#include <string>

namespace cli {

// A usage error found after parsing, printed like the parser's own by Refuse.
struct UsageError {
    std::string text;
};

// Tells `program`'s user what was wrong and where the options are listed, on standard error;
// returns `status`.
int Refuse(const std::string& program, const std::string& text, int status);

// Parses the command line. nullopt when the program is to go on; otherwise the status to end with:
// 0 after --help or --version (printed by the parser), `usageStatus` after a bad option (refused
// as Refuse does).
std::optional<int> ParseCommandLine(CLI::App& app, int argc, char** argv, int usageStatus);

// The digits of a port written after an address ("5050" of "127.0.0.1:5050"): a number from 1 to
// 65535 in at most five digits, else nullopt.
std::optional<std::uint16_t> PortNumber(const std::string& digits);

// --password-file and --password-env of every command that logs in, and --password, caught only
// to say why a password is never a plain argument rather than that the option is unknown.
struct PasswordOptions {
    PasswordSource source;
    std::string refusedArgument;

    void AddTo(CLI::App& command);
    // Whether the password was given as a plain argument.
    bool ArgumentGiven() const { return !refusedArgument.empty(); }
};

} // namespace cli
