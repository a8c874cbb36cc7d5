// Passwords for the command-line tools. A password is never a plain argument: arguments show in
// the process list of every user on the machine. It comes from the first line of a file, from an
// environment variable, or from the terminal with echo turned off.
#pragma once

#include <string>

namespace cli {

struct PasswordSource {
    std::string file;     // --password-file: its first line, without the line end
    std::string variable; // --password-env: the variable's value
};

struct PasswordReading {
    bool ok = false;
    std::string password;
    std::string error; // why there is no password, for the user
};

// The text shown when a password is given as a plain argument.
extern const char* const kPasswordArgumentRefused;

// Reads the password from the file, else the variable, else asks on the controlling terminal
// (`prompt`, then a line typed without echo). The terminal is restored even when the program is
// interrupted while asking; call it before StopSignals blocks the signals.
PasswordReading ReadPassword(const PasswordSource& source, const std::string& prompt);

// The first line of a file, without its "\n" or "\r\n"; an empty file gives an empty password.
PasswordReading ReadPasswordFile(const std::string& path);

} // namespace cli
