#include "tests/upgrade/RecordingView.h"

#include <algorithm>

namespace {

const char* IconName(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Exclamation:
        return "exclamation";
    case MessageIcon::Error:
        return "error";
    case MessageIcon::Information:
        return "information";
    }
    return "?";
}

} // namespace

std::string RecordingView::Box(const std::string& caption, MessageIcon icon, const std::string& text) {
    return "box " + caption + "|" + IconName(icon) + "|" + text;
}

void RecordingView::Log(std::string line) {
    {
        std::lock_guard lock(m_lock);
        m_calls.push_back(std::move(line));
    }
    m_changed.notify_all();
}

std::string RecordingView::Text(int id, const std::string& text) {
    return "text " + std::to_string(id) + " " + text;
}

std::string RecordingView::Enable(int id, bool enable) {
    return "enable " + std::to_string(id) + (enable ? " 1" : " 0");
}

void RecordingView::SetControlText(int id, const std::string& text) {
    {
        std::lock_guard lock(m_lock);
        m_texts[id] = text;
    }
    Log(Text(id, text));
}

void RecordingView::EnableControl(int id, bool enable) {
    {
        std::lock_guard lock(m_lock);
        m_enabled[id] = enable;
    }
    Log(Enable(id, enable));
}

void RecordingView::SetProgress(int percent) {
    {
        std::lock_guard lock(m_lock);
        m_progress.push_back(percent);
    }
    if (logProgress) {
        Log("progress " + std::to_string(percent));
    }
    if (onProgress) {
        onProgress(percent);
    }
}

bool RecordingView::TakeForm(UpgradeForm& form) {
    {
        std::lock_guard lock(m_lock);
        form = boxes;
    }
    Log("take");
    return takeResult;
}

void RecordingView::RefreshForm(const UpgradeForm& form) {
    {
        std::lock_guard lock(m_lock);
        boxes = form;
    }
    Log("refresh " + form.m_strIP + "|" + std::to_string(form.m_nPort) + "|" + form.m_strFileText + "|" +
        std::to_string(form.m_dwMacValue));
}

int RecordingView::MessageBox(const std::string& text, const std::string& caption, MessageIcon icon) {
    Log(Box(caption, icon, text));
    if (onMessageBox) {
        onMessageBox(text);
    }
    return IDOK;
}

bool RecordingView::AskOpenFiles(std::vector<std::string>& paths) {
    Log("open-files");
    if (!openFilesAnswer) {
        return false;
    }
    paths = *openFilesAnswer;
    return true;
}

int RecordingView::RunLoginDialog(const LoginHandler& onOk) {
    {
        std::lock_guard lock(m_lock);
        m_loginEnded = false;
    }
    Log("login-dialog");
    if (!loginAnswer) {
        return IDCANCEL;
    }
    Log("login-ok " + loginAnswer->first + "|" + loginAnswer->second);
    onOk(loginAnswer->first, loginAnswer->second);
    if (!loginWaitsForEnd) {
        return IDCANCEL;
    }
    std::unique_lock lock(m_lock);
    return m_changed.wait_for(lock, loginWaitLimit, [this] { return m_loginEnded; }) ? IDOK : IDCANCEL;
}

void RecordingView::EndLoginDialog() {
    {
        std::lock_guard lock(m_lock);
        m_loginEnded = true;
    }
    Log("end-login");
}

void RecordingView::RequestClose() {
    Log("close");
}

void RecordingView::UpgradeEnded(const UpgradeResult& result) {
    {
        std::lock_guard lock(m_lock);
        m_results.push_back(result);
    }
    Log(std::string("ended ") + EndingWord(result.ending) + "|" + std::to_string(result.lastPercent) + "|" +
        std::to_string(result.bytesSent));
}

std::vector<UpgradeResult> RecordingView::Results() const {
    std::lock_guard lock(m_lock);
    return m_results;
}

std::vector<std::string> RecordingView::Calls() const {
    std::lock_guard lock(m_lock);
    return m_calls;
}

std::vector<std::string> RecordingView::CallsSince(size_t mark) const {
    std::lock_guard lock(m_lock);
    return {m_calls.begin() + static_cast<std::ptrdiff_t>(std::min(mark, m_calls.size())), m_calls.end()};
}

size_t RecordingView::Mark() const {
    std::lock_guard lock(m_lock);
    return m_calls.size();
}

void RecordingView::ClearCalls() {
    std::lock_guard lock(m_lock);
    m_calls.clear();
    m_progress.clear();
}

std::vector<std::string> RecordingView::CallsStartingWith(const std::string& prefix) const {
    std::lock_guard lock(m_lock);
    std::vector<std::string> out;
    for (const auto& c : m_calls) {
        if (c.compare(0, prefix.size(), prefix) == 0) {
            out.push_back(c);
        }
    }
    return out;
}

std::vector<int> RecordingView::ProgressValues() const {
    std::lock_guard lock(m_lock);
    return m_progress;
}

bool RecordingView::IsEnabled(int id) const {
    std::lock_guard lock(m_lock);
    auto it = m_enabled.find(id);
    return it != m_enabled.end() && it->second;
}

std::string RecordingView::TextOf(int id) const {
    std::lock_guard lock(m_lock);
    auto it = m_texts.find(id);
    return it == m_texts.end() ? std::string() : it->second;
}

std::vector<int> RecordingView::EnabledUpgradeButtons() const {
    std::vector<int> out;
    for (int id : kUpgradeButtons) {
        if (IsEnabled(id)) {
            out.push_back(id);
        }
    }
    return out;
}

bool RecordingView::WaitFor(const std::string& line, size_t mark, std::chrono::milliseconds limit) const {
    std::unique_lock lock(m_lock);
    return m_changed.wait_for(lock, limit, [&] {
        return std::find(m_calls.begin() + static_cast<std::ptrdiff_t>(std::min(mark, m_calls.size())),
                         m_calls.end(), line) != m_calls.end();
    });
}
