#include "support/cli/CliOptions.h"

#include <iostream>

namespace cli {

int Refuse(const std::string& program, const std::string& text, int status) {
    std::cerr << program << ": " << text << "\nRun " << program << " --help for the options.\n";
    return status;
}

std::optional<int> ParseCommandLine(CLI::App& app, int argc, char** argv, int usageStatus) {
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        return Refuse(app.get_name(), e.what(), usageStatus);
    }
    return std::nullopt;
}

std::optional<std::uint16_t> PortNumber(const std::string& digits) {
    if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    const unsigned long value = std::stoul(digits);
    if (value < 1 || value > 65535) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

void PasswordOptions::AddTo(CLI::App& command) {
    auto* file =
        command.add_option("--password-file", source.file, "Read the password from the first line of FILE")
            ->option_text("FILE");
    auto* env = command
                    .add_option("--password-env", source.variable,
                                "Read the password from the environment variable VAR")
                    ->option_text("VAR");
    file->excludes(env);
    command.add_option("--password", refusedArgument)->group("");
}

} // namespace cli
