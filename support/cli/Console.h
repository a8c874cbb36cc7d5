// Output of a command-line tool whose lines come from several threads (a session's worker, a
// socket's receive thread, parallel jobs). Lines never mix, and on a terminal one progress bar is
// redrawn in place; elsewhere (a file, a pipe) progress becomes plain lines at coarser steps.
#pragma once

#include <cstdio>
#include <map>
#include <mutex>
#include <string>

namespace cli {

class Console {
public:
    // The bar is drawn only when `bar` is true and standard output is a terminal.
    Console(std::FILE* out, std::FILE* err, bool bar);
    // Standard output and error; the bar when standard output is a terminal and `bar` is true.
    static Console& Standard(bool bar = true);

    // One line on standard output, or on standard error. A bar being drawn is ended first.
    // Control characters are shown as escapes, line feeds excepted: a text may hold several
    // lines, so text from outside that may hold a line feed is escaped by its caller.
    void Line(const std::string& text);
    void ErrorLine(const std::string& text);

    // Progress of `label` (control characters shown as escapes): redraws the bar, or prints "label NN%" when
    // the percent reached the next multiple of `step` (every report when step is 1), and always at 100. Each
    // label counts on its own, so that parallel jobs do not make each other print every percent; the bar
    // shows one label at a time, and a new label starts it afresh.
    void Progress(const std::string& label, int percent, int step = 10);
    // Ends a bar being drawn with a new line; the next Progress of any label starts afresh.
    void EndProgress();
    // Ends the progress of one label: its bar if it is the one drawn, and its count.
    void EndProgress(const std::string& label);

    bool DrawsBar() const { return m_bar; }

private:
    void EndBarLocked();

    std::FILE* m_out;
    std::FILE* m_err;
    const bool m_bar;
    std::mutex m_lock;
    bool m_barShown = false;
    std::string m_label; // of the bar
    int m_lastPercent = -1;
    std::map<std::string, int> m_lastPrinted; // plain lines: the last percent printed per label
};

} // namespace cli
