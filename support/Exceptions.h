// The exception family of the support library. Every failing system call inside the library
// becomes one of these, carrying the name of the operation that failed (the where-text) and a
// message; the system's error code where there is one.
#pragma once

#include <cstdint>
#include <string>

namespace Zorvik {

// A window that can show a modal error box; the desktop layer implements it, so that this library
// stays free of any toolkit.
class CMessageBoxOwner {
public:
    // Shows a modal box with `text`, the title `caption`, an error icon and an OK button, and
    // returns once the user has closed it.
    virtual void ShowErrorBox(const std::string& caption, const std::string& text) = 0;

protected:
    ~CMessageBoxOwner() = default;
};

class CException {
public:
    CException(std::string location, std::string message);
    CException(const CException&) = default;
    CException& operator=(const CException&) = default;
    virtual ~CException();

    // The operation that failed, e.g. "CEvent::Wait()".
    virtual std::string Location() const;
    // What went wrong.
    virtual std::string Text() const;

    // Shows the message in an error box titled with the location, owned by `window`, and waits until
    // it is closed. Without a window there is nothing to own the box, so the texts go to standard
    // error instead.
    void ShowMessageBox(CMessageBoxOwner* window) const;

private:
    std::string m_strLocation;
    std::string m_strMessage;
};

// A failure with a system error code (an errno value); the message is the system's text for it.
class CWin32Exception : public CException {
public:
    CWin32Exception(std::string location, uint32_t errorCode);

    uint32_t ErrorCode() const { return m_dwErrorCode; }

private:
    uint32_t m_dwErrorCode;
};

class CSocketSupport {
public:
    // Raised when closing a socket fails.
    class Exception : public CWin32Exception {
    public:
        using CWin32Exception::CWin32Exception;
    };
};

// The system's message text for an error code, as the system gives it. Should the lookup itself
// fail, the text for the lookup's own error; should that fail too, an empty text.
std::string SystemErrorText(uint32_t errorCode);

} // namespace Zorvik
