#pragma once

// Windows needs its socket library started before the first socket and cleaned up after the
// last; Linux needs neither. Each BroadcastSocket still starts it and cleans it up, so that a
// socket's life reads the same everywhere.
class WinsockSession {
public:
    // One more user of the socket library; true when sockets may be used.
    static bool startup() noexcept;
    // One user fewer; the library is cleaned up after the last.
    static void cleanup() noexcept;
    static bool started() noexcept;
};
