#include "support/Exceptions.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace Zorvik {

CException::CException(std::string location, std::string message)
    : m_strLocation(std::move(location)), m_strMessage(std::move(message)) {}

CException::~CException() = default;

std::string CException::Location() const {
    return m_strLocation;
}

std::string CException::Text() const {
    return m_strMessage;
}

void CException::ShowMessageBox(CMessageBoxOwner* window) const {
    if (window != nullptr) {
        window->ShowErrorBox(Location(), Text());
    } else {
        std::fprintf(stderr, "%s: %s\n", Location().c_str(), Text().c_str());
    }
}

CWin32Exception::CWin32Exception(std::string location, uint32_t errorCode)
    : CException(std::move(location), SystemErrorText(errorCode)), m_dwErrorCode(errorCode) {}

namespace {

// strerror_r comes in two forms: the GNU one returns the text (which need not be in the buffer),
// the XSI one returns a status and fills the buffer. Overloading takes whichever the C library has.
[[maybe_unused]] const char* LookupResult(const char* text, const char* /*buffer*/, int& /*failure*/) {
    return text;
}

[[maybe_unused]] const char* LookupResult(int status, const char* buffer, int& failure) {
    if (status == 0) {
        return buffer;
    }
    failure = status == -1 ? errno : status; // older C libraries return -1 and set errno
    return nullptr;
}

} // namespace

std::string SystemErrorText(uint32_t errorCode) {
    char buffer[512];
    int code = static_cast<int>(errorCode);
    // The first lookup, then at most one for the failure of that lookup.
    for (int step = 0; step < 2; ++step) {
        buffer[0] = '\0';
        int failure = 0;
        const char* text = LookupResult(strerror_r(code, buffer, sizeof buffer - 1), buffer, failure);
        if (text != nullptr) {
            return text;
        }
        code = failure;
    }
    return {};
}

} // namespace Zorvik
