#include "desktop/MessageBox.h"

#include "desktop/GuiThread.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace desktop {

namespace {

MessageBoxHandler& handlerSlot() {
    static MessageBoxHandler handler;
    return handler;
}

QMessageBox::Icon qtIcon(unsigned icon) {
    switch (icon) {
    case MB_ICONERROR:
        return QMessageBox::Critical;
    case MB_ICONQUESTION:
        return QMessageBox::Question;
    case MB_ICONWARNING:
        return QMessageBox::Warning;
    case MB_ICONINFORMATION:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

QMessageBox::StandardButtons qtButtons(unsigned buttons) {
    switch (buttons) {
    case MB_OKCANCEL:
        return QMessageBox::Ok | QMessageBox::Cancel;
    case MB_ABORTRETRYIGNORE:
        return QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
    case MB_YESNOCANCEL:
        return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case MB_YESNO:
        return QMessageBox::Yes | QMessageBox::No;
    case MB_RETRYCANCEL:
        return QMessageBox::Retry | QMessageBox::Cancel;
    default:
        return QMessageBox::Ok;
    }
}

int resultId(int clicked) {
    switch (clicked) {
    case QMessageBox::Ok:
        return IDOK;
    case QMessageBox::Cancel:
        return IDCANCEL;
    case QMessageBox::Abort:
        return IDABORT;
    case QMessageBox::Retry:
        return IDRETRY;
    case QMessageBox::Ignore:
        return IDIGNORE;
    case QMessageBox::Yes:
        return IDYES;
    case QMessageBox::No:
        return IDNO;
    default:
        return IDCANCEL;
    }
}

int showBox(const MessageBoxRequest& request) {
    QMessageBox box(qtIcon(request.icon()), request.caption, request.text, qtButtons(request.buttons()),
                    request.owner.data());
    // The texts are the program's own plain messages, never markup.
    box.setTextFormat(Qt::PlainText);
    const int clicked = box.exec();
    // A box with only OK answers OK however it is closed.
    return request.buttons() == MB_OK ? IDOK : resultId(clicked);
}

} // namespace

int messageBox(QWidget* owner, const QString& text, const QString& caption, unsigned type) {
    MessageBoxRequest request{owner, text, caption, type, isGuiThread()};
    int result = 0;
    callOnGuiThread([&] {
        const MessageBoxHandler handler = handlerSlot();
        result = handler ? handler(request) : showBox(request);
    });
    return result;
}

int appMessageBox(QWidget* owner, const QString& text, unsigned type) {
    return messageBox(owner, text, applicationName(), type);
}

QString applicationName() {
    return QCoreApplication::applicationName();
}

MessageBoxHandler setMessageBoxHandler(MessageBoxHandler handler) {
    MessageBoxHandler previous = std::move(handlerSlot());
    handlerSlot() = std::move(handler);
    return previous;
}

} // namespace desktop
