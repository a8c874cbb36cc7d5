#include "desktop/IpAddressEdit.h"

#include <QKeyEvent>
#include <QValidator>

#include <algorithm>

namespace desktop {

namespace {

constexpr int kOctets = 4;

// Accepts any prefix of a dotted address, so the user can type it from left to right, and
// refuses every keystroke that would make it impossible to complete.
class OctetValidator : public QValidator {
public:
    using QValidator::QValidator;

    State validate(QString& input, int& pos) const override {
        // Pasted addresses often carry blanks around them.
        for (qsizetype i = input.size() - 1; i >= 0; --i) {
            if (input[i].isSpace()) {
                input.remove(i, 1);
                if (i < pos) {
                    --pos;
                }
            }
        }
        const QStringList parts = input.split(u'.');
        if (parts.size() > kOctets) {
            return Invalid;
        }
        for (const QString& part : parts) {
            if (part.size() > 3) {
                return Invalid;
            }
            for (QChar c : part) {
                if (c < u'0' || c > u'9') {
                    return Invalid;
                }
            }
            if (!part.isEmpty() && part.toInt() > 255) {
                return Invalid;
            }
        }
        return Acceptable;
    }
};

} // namespace

IpAddressEdit::IpAddressEdit(QWidget* parent) : QLineEdit(parent) {
    setValidator(new OctetValidator(this));
    setMaxLength(15);
}

std::uint32_t IpAddressEdit::address() const {
    const QStringList parts = text().split(u'.');
    std::uint32_t value = 0;
    for (int i = 0; i < kOctets; ++i) {
        // Text set past the validator cannot hold more than a full octet.
        const std::uint32_t octet = i < parts.size() ? std::min(parts[i].toUInt(), 255u) : 0;
        value = (value << 8) | octet;
    }
    return value;
}

void IpAddressEdit::setAddress(std::uint32_t address) {
    setText(format(address));
}

int IpAddressEdit::fieldCount() const {
    int count = 0;
    const QStringList parts = text().split(u'.');
    for (int i = 0; i < kOctets && i < parts.size(); ++i) {
        if (!parts[i].isEmpty()) {
            ++count;
        }
    }
    return count;
}

QString IpAddressEdit::addressText() const {
    return isBlank() ? QString() : format(address());
}

bool IpAddressEdit::setAddressText(const QString& text) {
    if (text.isEmpty()) {
        clear();
        return true;
    }
    const auto value = parse(text);
    if (!value) {
        clear();
        return false;
    }
    setAddress(*value);
    return true;
}

std::optional<std::uint32_t> IpAddressEdit::parse(QStringView text) {
    const QList<QStringView> parts = text.split(u'.');
    if (parts.size() != kOctets) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (QStringView part : parts) {
        if (part.isEmpty() || part.size() > 3) {
            return std::nullopt;
        }
        std::uint32_t octet = 0;
        for (QChar c : part) {
            if (c < u'0' || c > u'9') {
                return std::nullopt;
            }
            octet = octet * 10 + (c.unicode() - u'0');
        }
        if (octet > 255) {
            return std::nullopt;
        }
        value = (value << 8) | octet;
    }
    return value;
}

QString IpAddressEdit::format(std::uint32_t address) {
    return QStringLiteral("%1.%2.%3.%4")
        .arg(address >> 24)
        .arg((address >> 16) & 0xFF)
        .arg((address >> 8) & 0xFF)
        .arg(address & 0xFF);
}

void IpAddressEdit::keyPressEvent(QKeyEvent* event) {
    // Like the system's address control: a digit typed after a full octet starts the next one.
    const QString typed = event->text();
    if (typed.size() == 1 && typed[0] >= u'0' && typed[0] <= u'9' && !hasSelectedText() &&
        cursorPosition() == text().size()) {
        const QStringList parts = text().split(u'.');
        if (parts.size() < kOctets && parts.last().size() == 3) {
            insert(QStringLiteral("."));
        }
    }
    QLineEdit::keyPressEvent(event);
}

} // namespace desktop
