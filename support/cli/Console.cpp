#include "support/cli/Console.h"

#include "support/VisibleText.h"

#include <unistd.h>

#include <algorithm>

namespace cli {

namespace {
constexpr size_t kBarWidth = 40;
}

Console::Console(std::FILE* out, std::FILE* err, bool bar)
    : m_out(out), m_err(err), m_bar(bar && isatty(fileno(out)) == 1) {}

Console& Console::Standard(bool bar) {
    static Console console(stdout, stderr, bar);
    return console;
}

void Console::EndBarLocked() {
    if (m_barShown) {
        std::fputc('\n', m_out);
        std::fflush(m_out);
        m_barShown = false;
    }
}

void Console::Line(const std::string& text) {
    std::lock_guard lock(m_lock);
    EndBarLocked();
    std::fprintf(m_out, "%s\n", VisibleLines(text).c_str());
    std::fflush(m_out);
}

void Console::ErrorLine(const std::string& text) {
    std::lock_guard lock(m_lock);
    EndBarLocked();
    // Standard output first, so that on a terminal the lines keep their order.
    std::fflush(m_out);
    std::fprintf(m_err, "%s\n", VisibleLines(text).c_str());
    std::fflush(m_err);
}

void Console::Progress(const std::string& label, int percent, int step) {
    percent = std::clamp(percent, 0, 100);
    step = std::max(step, 1);
    std::lock_guard lock(m_lock);
    if (m_bar) {
        if (label != m_label) {
            EndBarLocked();
            m_label = label;
            m_lastPercent = -1;
        }
        if (percent == m_lastPercent) {
            return;
        }
        const auto filled = static_cast<size_t>(percent * kBarWidth / 100);
        std::fprintf(m_out, "\r%s [%s%s] %3d%%", VisibleText(label).c_str(), std::string(filled, '#').c_str(),
                     std::string(kBarWidth - filled, '.').c_str(), percent);
        std::fflush(m_out);
        m_barShown = true;
        m_lastPercent = percent;
        return;
    }
    auto [entry, first] = m_lastPrinted.try_emplace(label, percent);
    int& last = entry->second;
    const bool print =
        first || (percent != last && (percent / step != last / step || percent < last || percent == 100));
    if (print) {
        std::fprintf(m_out, "%s %d%%\n", VisibleText(label).c_str(), percent);
        std::fflush(m_out);
        last = percent;
    }
}

void Console::EndProgress() {
    std::lock_guard lock(m_lock);
    EndBarLocked();
    m_label.clear();
    m_lastPercent = -1;
    m_lastPrinted.clear();
}

void Console::EndProgress(const std::string& label) {
    std::lock_guard lock(m_lock);
    if (label == m_label) {
        EndBarLocked();
        m_label.clear();
        m_lastPercent = -1;
    }
    m_lastPrinted.erase(label);
}

} // namespace cli
