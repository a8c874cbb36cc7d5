#include "upgrade/UpgradeDlg.h"

#include "desktop/DataExchange.h"
#include "desktop/GuiThread.h"
#include "desktop/KeySequenceFilter.h"
#include "desktop/MessageBox.h"
#include "desktop/SettingsStore.h"
#include "desktop/SingleInstance.h"
#include "desktop/TrayIcon.h"
#include "upgrade/AboutDlg.h"
#include "upgrade/LoginDlg.h"
#include "upgrade/ProgramIcon.h"
#include "upgrade/UpgradeWindowIds.h"

#include <QAction>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QUrl>

using desktop::ControlKind;
using desktop::DialogTemplate;
namespace Style = desktop::Style;

namespace {

// Paths and texts travel through the session as the system's 8-bit text.
QString FromLocal(const std::string& text) {
    return QFile::decodeName(QByteArray::fromStdString(text));
}

std::string ToLocal(const QString& text) {
    return QFile::encodeName(text).toStdString();
}

unsigned IconType(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Error:
        return desktop::MB_ICONERROR;
    case MessageIcon::Information:
        return desktop::MB_ICONINFORMATION;
    case MessageIcon::Exclamation:
        break;
    }
    return desktop::MB_ICONEXCLAMATION;
}

// Runs fn on the window's thread and waits for it. At the end of the program the call may be
// refused; the caller then goes on as if nothing had been shown.
template <class Fn> void OnWindowThread(Fn&& fn) {
    desktop::callOnGuiThread(std::function<void()>(std::forward<Fn>(fn)));
}

// "*.bin" as "*.[bB][iI][nN]"; "*.*" is every file, as it is where the filter comes from.
QString CaseBlindPattern(const QString& pattern) {
    if (pattern == QStringLiteral("*.*")) {
        return QStringLiteral("*");
    }
    QString result;
    for (const QChar c : pattern) {
        if (c.isLetter() && c.toLower() != c.toUpper()) {
            result += QLatin1Char('[') + c.toLower() + c.toUpper() + QLatin1Char(']');
        } else {
            result += c;
        }
    }
    return result;
}

} // namespace

QStringList FileDialogFilters(const std::string& filter) {
    const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty()) {
            break;
        }
        QStringList patterns;
        for (const QString& pattern : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            if (const QString trimmed = pattern.trimmed(); !trimmed.isEmpty()) {
                patterns << CaseBlindPattern(trimmed);
            }
        }
        // The name is shown as written; Qt reads the patterns from the last parentheses.
        filters << parts[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return filters;
}

const DialogTemplate& UpgradeDlgTemplate() {
    static const DialogTemplate dialog{
        .id = IDD_UPGRADE_DIALOG,
        .caption = kMainWindowCaption,
        .width = 246,
        .height = 93,
        .controls =
            {
                {IDC_OPEN_FILES, ControlKind::DefPushButton, "Open files", 9, 9, 49, 14},
                {IDC_FILE_TEXT, ControlKind::Edit, "", 64, 9, 175, 14},
                {IDC_IPADDRESS, ControlKind::IpAddress, "", 9, 28, 74, 14},
                {IDC_PORT, ControlKind::Edit, "", 86, 28, 33, 14, Style::Number},
                {IDC_MAC_VALUE, ControlKind::Edit, "", 122, 28, 31, 14},
                {IDC_MAC, ControlKind::PushButton, "Mac", 160, 28, 37, 14},
                {IDC_LOGIN, ControlKind::PushButton, "Login", 202, 28, 37, 14},
                {IDC_STATUS, ControlKind::Static, "Current progress", 10, 44, 176, 8},
                {IDC_BUTTON3, ControlKind::PushButton, "Button3", 202, 44, 37, 10},
                {IDC_PROGRESS, ControlKind::Progress, "", 9, 56, 230, 14},
                {IDC_EXE, ControlKind::PushButton, "EXE", 9, 73, 32, 14},
                {IDC_BIOS, ControlKind::PushButton, "Bios", 42, 73, 32, 14},
                {IDC_WEB, ControlKind::PushButton, "Web", 75, 73, 32, 14},
                {IDC_BOOT, ControlKind::PushButton, "Boot", 108, 73, 32, 14},
                {IDC_BOTH, ControlKind::PushButton, "Both", 141, 73, 32, 14},
                {IDC_FONT, ControlKind::PushButton, "Font", 174, 73, 32, 14},
                {IDC_LOGO, ControlKind::PushButton, "Logo", 207, 73, 32, 14},
                {desktop::kNoId, ControlKind::GroupBox, "", 2, 0, 240, 90},
            },
        .minimizeBox = true,
    };
    return dialog;
}

CUpgradeDlg::CUpgradeDlg(QStringList arguments, SessionTimings timings, QWidget* parent)
    : TemplateDialog(UpgradeDlgTemplate(), parent), m_arguments(std::move(arguments)),
      m_session(std::make_unique<CUpgradeSession>(*this, timings)) {
    // Files dropped anywhere on the window are the window's, as with a window that accepts
    // dropped files: the edit boxes would otherwise take them as text.
    setAcceptDrops(true);
    for (QWidget* control : controls()) {
        control->setAcceptDrops(false);
    }
}

CUpgradeDlg::~CUpgradeDlg() {
    StopSession();
    // Waits for the worker and any receive callback; none of them can be waiting for this thread
    // any more.
    m_session.reset();
    desktop::resumeGuiCalls();
    if (m_pTray != nullptr) {
        m_pTray->hide();
    }
}

void CUpgradeDlg::StopSession() {
    if (m_bStopped) {
        return;
    }
    m_bStopped = true;
    m_session->RequestStop();
    desktop::stopGuiCalls();
    // Dialogs and boxes still open on top of the window go with it, as owned windows do.
    for (QDialog* dialog : findChildren<QDialog*>()) {
        if (dialog->isVisible()) {
            dialog->reject();
        }
    }
}

void CUpgradeDlg::done(int result) {
    StopSession();
    TemplateDialog::done(result);
}

// ---- start-up

void CUpgradeDlg::onInitDialog() {
    // The boxes show the fields' first values before anything reads them back.
    TemplateDialog::onInitDialog();

    auto* about = new QAction(QString::fromUtf8(kAboutMenuText), this);
    connect(about, &QAction::triggered, this, [this] { OnCommandId(IDM_ABOUTBOX); });
    addAction(about);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    setWindowIcon(ProgramIcon());
    AddTrayIcon();
    m_pInstance = new desktop::InstanceServer(windowTitle(), this);
    connect(m_pInstance, &desktop::InstanceServer::activationRequested, this, &CUpgradeDlg::ShowWindow);

    showItem(IDC_MAC_VALUE, false);
    showItem(IDC_MAC, false);
    centerOnScreen();
    limitText(IDC_PORT, 5);
    m_pKeys = new desktop::KeySequenceFilter(this, {Qt::Key_Q, Qt::Key_J});
    connect(m_pKeys, &desktop::KeySequenceFilter::matched, this, &CUpgradeDlg::RevealMacControls);

    for (int id : kUpgradeButtons) {
        enableItem(id, false);
    }
    enableItem(IDC_OPEN_FILES, false);
    showItem(IDC_BUTTON3, false);

    HandleCommandLine();
    LoadSettings();
}

void CUpgradeDlg::AddTrayIcon() {
    m_pTray = new desktop::TrayIcon(ProgramIcon(), QString::fromUtf8(kTrayTip), this);
    m_pTray->addCommand(ID_TRAY_SHOW, QStringLiteral("Show"));
    m_pTray->addCommand(ID_TRAY_ABOUT, QStringLiteral("About"));
    m_pTray->addSeparator();
    m_pTray->addCommand(ID_TRAY_EXIT, QStringLiteral("Exit"));
    connect(m_pTray, &desktop::TrayIcon::commandChosen, this, &CUpgradeDlg::OnCommandId);
    connect(m_pTray, &desktop::TrayIcon::leftClicked, this, &CUpgradeDlg::ShowWindow);
    m_pTray->show();
}

void CUpgradeDlg::HandleCommandLine() {
    // Only "program file" chooses a file; any other count of arguments is ignored.
    if (m_arguments.size() == 2) {
        m_session->ClassifyCommandLineFile(ToLocal(m_arguments[1]));
    }
}

void CUpgradeDlg::LoadSettings() {
    const desktop::SettingsStore store;
    UpgradeForm& form = m_session->Form();
    form.m_strIP = store.readString(QString::fromUtf8(kSettingIP)).toStdString();
    form.m_nPort = store.readUInt32(QString::fromUtf8(kSettingPort), kDefaultPort);
    setItemText(IDC_IPADDRESS, QString::fromStdString(form.m_strIP));
    updateData(false);
}

void CUpgradeDlg::SaveSettings() {
    UpgradeForm& form = m_session->Form();
    form.m_strIP = itemText(IDC_IPADDRESS).toStdString();
    // A settings file that cannot be written leaves the old settings; nobody is told.
    desktop::SettingsStore store;
    store.writeString(QString::fromUtf8(kSettingIP), QString::fromStdString(form.m_strIP));
    store.writeUInt32(QString::fromUtf8(kSettingPort), form.m_nPort);
}

// ---- form values

void CUpgradeDlg::doDataExchange(desktop::DataExchange& exchange) {
    UpgradeForm& form = m_pExchangeForm != nullptr ? *m_pExchangeForm : m_session->Form();
    QString ip = QString::fromStdString(form.m_strIP);
    QString fileText = FromLocal(form.m_strFileText);
    exchange.text(IDC_IPADDRESS, ip);
    exchange.number(IDC_PORT, form.m_nPort);
    exchange.text(IDC_FILE_TEXT, fileText);
    exchange.number(IDC_MAC_VALUE, form.m_dwMacValue);
    if (exchange.saveAndValidate()) {
        form.m_strIP = ip.toStdString();
        form.m_strFileText = ToLocal(fileText);
    }
}

bool CUpgradeDlg::TakeForm(UpgradeForm& form) {
    bool taken = false;
    OnWindowThread([&] {
        m_pExchangeForm = &form;
        taken = updateData(true);
        m_pExchangeForm = nullptr;
    });
    return taken;
}

void CUpgradeDlg::RefreshForm(const UpgradeForm& form) {
    OnWindowThread([&] {
        UpgradeForm shown = form;
        m_pExchangeForm = &shown;
        updateData(false);
        m_pExchangeForm = nullptr;
    });
}

// ---- the rest of the view

void CUpgradeDlg::SetControlText(int id, const std::string& text) {
    OnWindowThread([&] { setItemText(id, FromLocal(text)); });
}

void CUpgradeDlg::EnableControl(int id, bool enable) {
    OnWindowThread([&] { enableItem(id, enable); });
}

void CUpgradeDlg::SetProgress(int percent) {
    OnWindowThread([&] {
        if (auto* bar = itemAs<QProgressBar>(IDC_PROGRESS)) {
            bar->setValue(percent);
        }
    });
}

int CUpgradeDlg::MessageBox(const std::string& text, const std::string& caption, MessageIcon icon) {
    // The box function carries itself over to the window's thread.
    return desktop::messageBox(this, FromLocal(text), FromLocal(caption), desktop::MB_OK | IconType(icon));
}

bool CUpgradeDlg::AskOpenFiles(std::vector<std::string>& paths) {
    bool chosen = false;
    OnWindowThread([&] {
        QFileDialog dialog(this);
        dialog.setFileMode(QFileDialog::ExistingFiles);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        // Shows the filter's own name, not the case-blind patterns made from it.
        dialog.setOption(QFileDialog::HideNameFilterDetails);
        dialog.setNameFilters(FileDialogFilters(kOpenFilesFilter));
        if (dialog.exec() != QDialog::Accepted) {
            return;
        }
        for (const QString& file : dialog.selectedFiles()) {
            paths.push_back(ToLocal(file));
        }
        chosen = true;
    });
    return chosen;
}

int CUpgradeDlg::RunLoginDialog(const LoginHandler& onOk) {
    int result = desktop::IDCANCEL;
    OnWindowThread([&] {
        CLoginDlg dialog(onOk, this);
        m_pLoginDlg = &dialog;
        result = dialog.doModal();
        m_pLoginDlg = nullptr;
    });
    return result;
}

void CUpgradeDlg::EndLoginDialog() {
    // A posted message: the receive thread does not wait for the window.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_pLoginDlg) {
                m_pLoginDlg->OnLoginOk();
            }
        },
        Qt::QueuedConnection);
}

void CUpgradeDlg::RequestClose() {
    OnWindowThread([this] { onClose(); });
}

// ---- commands

void CUpgradeDlg::onCommand(int id) {
    switch (id) {
    case IDC_OPEN_FILES:
        m_session->ChooseFiles();
        return;
    case IDC_LOGIN:
        m_session->OnLoginButton();
        return;
    case IDC_MAC:
        m_session->SendMacValue();
        return;
    case IDC_BIOS:
    case IDC_WEB:
    case IDC_BOOT:
    case IDC_BOTH:
    case IDC_FONT:
    case IDC_LOGO:
    case IDC_EXE:
        m_session->OnUpgradeButton(id);
        return;
    default:
        TemplateDialog::onCommand(id);
    }
}

void CUpgradeDlg::OnCommandId(int id) {
    switch (id) {
    case ID_TRAY_SHOW:
        ShowWindow();
        break;
    case IDM_ABOUTBOX:
    case ID_TRAY_ABOUT:
        ShowAboutBox();
        break;
    case ID_TRAY_EXIT:
        TakeForm(m_session->Form());
        if (!m_session->IsBusy()) {
            SaveSettings();
        }
        endDialog(desktop::IDOK);
        break;
    default:
        break;
    }
}

void CUpgradeDlg::onCancel() {
    endDialog(desktop::IDCANCEL);
}

void CUpgradeDlg::onClose() {
    HideToTray();
    TakeForm(m_session->Form());
    if (!m_session->IsBusy()) {
        SaveSettings();
    }
}

void CUpgradeDlg::HideToTray() {
    // Without a notification area a hidden window could never be found again.
    if (m_pTray != nullptr && m_pTray->isShown()) {
        hide();
    } else {
        showMinimized();
    }
}

void CUpgradeDlg::ShowWindow() {
    show();
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    raise();
    activateWindow();
}

void CUpgradeDlg::ShowAboutBox() {
    CAboutDlg about(this);
    about.doModal();
}

void CUpgradeDlg::RevealMacControls() {
    showItem(IDC_MAC_VALUE, true);
    showItem(IDC_MAC, true);
}

// ---- dropped files

namespace {
std::vector<std::string> DroppedFiles(const QMimeData* data) {
    std::vector<std::string> paths;
    if (data == nullptr || !data->hasUrls()) {
        return paths;
    }
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) {
            paths.push_back(ToLocal(url.toLocalFile()));
        }
    }
    return paths;
}
} // namespace

void CUpgradeDlg::dragEnterEvent(QDragEnterEvent* event) {
    if (!DroppedFiles(event->mimeData()).empty()) {
        event->acceptProposedAction();
    }
}

void CUpgradeDlg::dragMoveEvent(QDragMoveEvent* event) {
    if (!DroppedFiles(event->mimeData()).empty()) {
        event->acceptProposedAction();
    }
}

void CUpgradeDlg::dropEvent(QDropEvent* event) {
    const std::vector<std::string> paths = DroppedFiles(event->mimeData());
    if (paths.empty()) {
        return;
    }
    event->acceptProposedAction();
    m_session->AcceptDroppedFiles(paths);
}
