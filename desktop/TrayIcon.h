#pragma once

#include <QIcon>
#include <QObject>
#include <QString>

#include <optional>

class QMenu;
class QSystemTrayIcon;

// The notification-area icon with its menu. Menu entries carry command ids; choosing one emits
// commandChosen(id). A left click or double click emits leftClicked(); the right button opens the
// menu. Where the desktop has no notification area (Xvfb, offscreen, some window managers) the
// icon is never shown, and a window that would hide itself in the tray must not.

namespace desktop {

class TrayIcon : public QObject {
    Q_OBJECT
public:
    TrayIcon(const QIcon& icon, const QString& tip, QObject* parent = nullptr);
    ~TrayIcon() override;

    void addCommand(int id, const QString& text);
    void addSeparator();
    QMenu* menu() const { return m_menu; }
    QString tip() const;

    // Shows the icon; false, with nothing shown, when the desktop has no notification area.
    bool show();
    void hide();
    bool isShown() const { return m_shown; }

    // Whether the desktop has a notification area, unless a test has said otherwise.
    static bool isAvailable();
    // Makes isAvailable() answer this (nullopt asks the desktop again). For tests of both paths.
    static void setAvailableForTesting(std::optional<bool> available);

    QSystemTrayIcon* systemTrayIcon() const { return m_icon; }

signals:
    void commandChosen(int id);
    void leftClicked();

private:
    QSystemTrayIcon* m_icon;
    QMenu* m_menu;
    bool m_shown = false;
};

} // namespace desktop
