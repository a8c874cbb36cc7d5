#include "desktop/TrayIcon.h"

#include <QMenu>
#include <QSystemTrayIcon>

namespace desktop {

namespace {
std::optional<bool>& availabilityOverride() {
    static std::optional<bool> value;
    return value;
}
} // namespace

TrayIcon::TrayIcon(const QIcon& icon, const QString& tip, QObject* parent)
    : QObject(parent), m_icon(new QSystemTrayIcon(icon, this)), m_menu(new QMenu) {
    m_icon->setToolTip(tip);
    m_icon->setContextMenu(m_menu);
    connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
            emit leftClicked();
        }
    });
}

// The menu has no parent widget (a tray menu belongs to no window), so it is freed here.
TrayIcon::~TrayIcon() {
    m_icon->setContextMenu(nullptr);
    delete m_menu;
}

void TrayIcon::addCommand(int id, const QString& text) {
    QAction* action = m_menu->addAction(text);
    connect(action, &QAction::triggered, this, [this, id] { emit commandChosen(id); });
}

void TrayIcon::addSeparator() {
    m_menu->addSeparator();
}

QString TrayIcon::tip() const {
    return m_icon->toolTip();
}

bool TrayIcon::show() {
    if (!isAvailable()) {
        return false;
    }
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_icon->show();
    }
    m_shown = true;
    return true;
}

void TrayIcon::hide() {
    m_icon->hide();
    m_shown = false;
}

bool TrayIcon::isAvailable() {
    if (availabilityOverride()) {
        return *availabilityOverride();
    }
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayIcon::setAvailableForTesting(std::optional<bool> available) {
    availabilityOverride() = available;
}

} // namespace desktop
