#pragma once

#include <QLineEdit>

#include <cstdint>
#include <optional>

// The IP address box: four decimal octets separated by dots. Only digits and dots can be typed,
// at most four octets of at most three digits each and none above 255; an octet left blank counts
// as 0, so a blank box holds the value 0. An input mask cannot check octet values, so the box
// checks them itself.

namespace desktop {

class IpAddressEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit IpAddressEdit(QWidget* parent = nullptr);

    // The address with the first octet in the high byte; blank octets count as 0.
    std::uint32_t address() const;
    void setAddress(std::uint32_t address);

    // How many of the four octets hold digits (0 when the box is blank).
    int fieldCount() const;
    bool isBlank() const { return fieldCount() == 0; }

    // The dotted address as the box holds it, octets without leading zeros and blank octets as 0;
    // an empty text when the box is blank.
    QString addressText() const;

    // Shows a dotted address; an empty text blanks the box. Anything that is not a dotted address
    // blanks the box and returns false.
    bool setAddressText(const QString& text);

    // A strict dotted address: four octets of one to three digits, each at most 255.
    static std::optional<std::uint32_t> parse(QStringView text);
    static QString format(std::uint32_t address);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace desktop
