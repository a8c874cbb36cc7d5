#include "desktop/Browser.h"

#include <QDesktopServices>

namespace desktop {

namespace {
UrlOpener& openerSlot() {
    static UrlOpener opener;
    return opener;
}
} // namespace

bool openInBrowser(const QString& address) {
    const QUrl url(QStringLiteral("http://") + address, QUrl::StrictMode);
    if (address.isEmpty() || !url.isValid() || url.host().isEmpty() || !url.userInfo().isEmpty() ||
        !url.path().isEmpty() || url.hasQuery() || url.hasFragment()) {
        return false;
    }
    const UrlOpener& opener = openerSlot();
    return opener ? opener(url) : QDesktopServices::openUrl(url);
}

UrlOpener setUrlOpener(UrlOpener opener) {
    UrlOpener previous = std::move(openerSlot());
    openerSlot() = std::move(opener);
    return previous;
}

} // namespace desktop
