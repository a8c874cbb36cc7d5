#include "desktop/NumberText.h"

namespace desktop {

namespace {

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t';
}

// Splits "  [sign]digits  " into its sign and magnitude; nothing when the text is not that shape
// or the magnitude exceeds the limit.
std::optional<std::uint64_t> parseMagnitude(QStringView text, bool& negative, std::uint64_t limit) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && isBlank(text[i])) {
        ++i;
    }
    negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    const qsizetype firstDigit = i;
    std::uint64_t value = 0;
    while (i < n && text[i] >= u'0' && text[i] <= u'9') {
        value = value * 10 + static_cast<std::uint64_t>(text[i].unicode() - u'0');
        if (value > limit) {
            return std::nullopt;
        }
        ++i;
    }
    if (i == firstDigit) {
        return std::nullopt;
    }
    while (i < n && isBlank(text[i])) {
        ++i;
    }
    if (i != n) {
        return std::nullopt;
    }
    return value;
}

} // namespace

std::optional<std::uint32_t> parseUnsigned32(QStringView text) {
    bool negative = false;
    const auto magnitude = parseMagnitude(text, negative, UINT32_MAX);
    if (!magnitude || negative) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(*magnitude);
}

std::optional<std::int32_t> parseSigned32(QStringView text) {
    bool negative = false;
    const auto magnitude = parseMagnitude(text, negative, static_cast<std::uint64_t>(INT32_MAX) + 1);
    if (!magnitude || (!negative && *magnitude > static_cast<std::uint64_t>(INT32_MAX))) {
        return std::nullopt;
    }
    const auto value = static_cast<std::int64_t>(*magnitude);
    return static_cast<std::int32_t>(negative ? -value : value);
}

} // namespace desktop
