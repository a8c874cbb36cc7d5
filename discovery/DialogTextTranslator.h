#pragma once

#include <QString>

#include <string>

namespace desktop {
class TemplateDialog;
}

// Replaces the caption and the control texts of a dialog by the texts of a language file: an
// initialisation file whose section "String" maps each text a dialog shows (the key, matched
// without regard to letter case) to the text to show instead. A text without a value, or with an
// empty one, stays as it is; so does every text while no file is configured, which is the
// program's own state. Edit boxes hold the user's data and are never changed.
class DialogTextTranslator {
public:
    // The longest value taken from the file, in characters; a longer one is cut.
    static constexpr int kMaxValueLength = 299;

    // The process-wide translator.
    static DialogTextTranslator& instance();

    // The language file is directory followed immediately by fileName: no separator is put
    // between them. Both are empty unless set.
    void setLocation(std::string directory, std::string fileName);
    const std::string& directory() const { return m_directory; }
    const std::string& fileName() const { return m_fileName; }

    // Translates the dialog's caption (unless empty) and each of its controls in window order.
    void translate(desktop::TemplateDialog& dialog) const;
    // The text to show for text: the file's value for it, or text itself.
    QString lookup(const QString& text) const;

private:
    DialogTextTranslator() = default;

    std::string m_directory;
    std::string m_fileName;
};
