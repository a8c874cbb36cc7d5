#include "discovery/DialogTextTranslator.h"

#include "desktop/IniFile.h"
#include "desktop/TemplateDialog.h"
#include "desktop/WindowText.h"

DialogTextTranslator& DialogTextTranslator::instance() {
    static DialogTextTranslator translator;
    return translator;
}

void DialogTextTranslator::setLocation(std::string directory, std::string fileName) {
    m_directory = std::move(directory);
    m_fileName = std::move(fileName);
}

QString DialogTextTranslator::lookup(const QString& text) const {
    const std::string path = m_directory + m_fileName;
    if (path.empty()) {
        return text;
    }
    QString value = QString::fromStdString(desktop::readIniString(path, "String", text.toStdString()));
    if (value.isEmpty()) {
        return text;
    }
    // Cut by characters rather than bytes, so that a cut never splits a character in two.
    if (value.size() > kMaxValueLength) {
        int cut = kMaxValueLength;
        if (value.at(cut - 1).isHighSurrogate()) {
            --cut;
        }
        value.truncate(cut);
    }
    return value;
}

void DialogTextTranslator::translate(desktop::TemplateDialog& dialog) const {
    const QString caption = dialog.windowTitle();
    if (!caption.isEmpty()) {
        dialog.setWindowTitle(lookup(caption));
    }
    for (QWidget* control : dialog.controls()) {
        if (desktop::isEditControl(control)) {
            continue;
        }
        desktop::setWindowText(control, lookup(desktop::windowText(control)));
    }
}
