#pragma once

#include <QDialog>
#include <QPixmap>
#include <QString>
#include <QUrl>

#include <functional>

class QLabel;
class QPushButton;

namespace valmora {

// The product's web site, scheme and host.
inline constexpr char16_t kProductSite[] = u"https://valmora.example.org";

// Opens an address with the desktop's default handler (QDesktopServices by
// default); its result is not looked at.
using TUrlOpener = std::function<bool(const QUrl &url)>;
// Installs an opener (an empty one restores the desktop's); returns the one before.
TUrlOpener SetUrlOpener(TUrlOpener opener);

// The site followed by "/" and the path; the site alone for an empty path.
QUrl ProductPage(const QString &path);
// Opens a page of the product site; a failure to open is silent.
void OpenProductPage(const QString &path);
// The main window's "Help" and "Contact" commands.
void acHelpExecute();
void acContactExecute();

// The product logo, 128 x 128 with transparent corners.
QPixmap ProductLogo();

// The small box with the logo, the rights notice and the site's address,
// which opens the site when clicked. Only "Close" and the close box end it.
class TfrmAbout final : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmAbout(QWidget *owner = nullptr);

    static void Execute(QWidget *owner);

    QLabel *Image1 = nullptr;
    QLabel *lbNotice = nullptr;
    QLabel *Label1 = nullptr;
    QPushButton *btnClose = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
};

} // namespace valmora
