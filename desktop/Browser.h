#pragma once

#include <QString>
#include <QUrl>

#include <functional>

// Opening a recorder's web page in the user's default browser.

namespace desktop {

// Opens "http://" + address (a host, optionally with ":port"). Returns false, opening nothing,
// when the address is not a plain host: it comes from the network and must not smuggle in a
// path, a user name or another scheme.
bool openInBrowser(const QString& address);

// What opens a URL; tests replace it. It returns whether the browser could be started.
using UrlOpener = std::function<bool(const QUrl&)>;

// Installs an opener (an empty one brings back the desktop's); returns the one it replaces.
UrlOpener setUrlOpener(UrlOpener opener);

} // namespace desktop
