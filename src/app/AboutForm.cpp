#include "AboutForm.h"

#include "FormHelpers.h"

#include <QDesktopServices>
#include <QKeyEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

namespace {

TUrlOpener &opener()
{
    static TUrlOpener current;
    return current;
}

const QString kRightsNotice = u"\u00A9 2026 Quillmoor"_s;

} // namespace

TUrlOpener SetUrlOpener(TUrlOpener next)
{
    TUrlOpener previous = std::move(opener());
    opener() = std::move(next);
    return previous;
}

QUrl ProductPage(const QString &path)
{
    const QString site = QString::fromUtf16(kProductSite);
    return QUrl(path.isEmpty() ? site : site + u'/' + path);
}

void OpenProductPage(const QString &path)
{
    const QUrl url = ProductPage(path);
    if (opener())
        opener()(url);
    else
        QDesktopServices::openUrl(url);
}

void acHelpExecute()
{
    OpenProductPage(u"pomoc.html"_s);
}

void acContactExecute()
{
    OpenProductPage(u"kontakt.php"_s);
}

QPixmap ProductLogo()
{
    // A drive seen from above: a rounded case, the platter with its spindle,
    // the arm, and a green light for good health.
    QPixmap logo(128, 128);
    logo.fill(Qt::transparent);
    QPainter p(&logo);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient body(0, 8, 0, 120);
    body.setColorAt(0, QColor(0x5a, 0x6f, 0x86));
    body.setColorAt(1, QColor(0x2c, 0x3a, 0x4b));
    p.setPen(QPen(QColor(0x1d, 0x27, 0x33), 2));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(14, 6, 100, 116), 12, 12);

    QRadialGradient platter(QPointF(64, 54), 40);
    platter.setColorAt(0, QColor(0xf4, 0xf6, 0xf8));
    platter.setColorAt(1, QColor(0xa9, 0xb4, 0xc0));
    p.setPen(QPen(QColor(0x7d, 0x8a, 0x98), 1.5));
    p.setBrush(platter);
    p.drawEllipse(QPointF(64, 54), 40, 40);
    p.setBrush(QColor(0x5a, 0x6f, 0x86));
    p.drawEllipse(QPointF(64, 54), 7, 7);

    p.setPen(QPen(QColor(0xe0, 0xa0, 0x30), 6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(100, 100), QPointF(78, 66));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xe0, 0xa0, 0x30));
    p.drawEllipse(QPointF(100, 100), 8, 8);

    p.setBrush(QColor(0x3c, 0xc8, 0x5a));
    p.drawEllipse(QPointF(30, 108), 5, 5);
    return logo;
}

TfrmAbout::TfrmAbout(QWidget *owner)
    : QDialog(owner)
{
    setObjectName(u"frmAbout"_s);
    setWindowTitle(u"About"_s);
    setFont(FormFont());

    Image1 = new QLabel(this);
    Image1->setObjectName(u"Image1"_s);
    Image1->setFixedSize(128, 128);
    Image1->setPixmap(ProductLogo());

    QFont bold = FormFont();
    bold.setBold(true);
    lbNotice = new QLabel(kRightsNotice, this);
    lbNotice->setObjectName(u"lbNotice"_s);
    lbNotice->setFont(bold);
    lbNotice->setToolTip(u"All rights reserved."_s);

    Label1 = new QLabel(QUrl(QString::fromUtf16(kProductSite)).host(), this);
    Label1->setObjectName(u"Label1"_s);
    Label1->setFont(bold);
    Label1->setCursor(Qt::PointingHandCursor);
    Label1->setToolTip(QString::fromUtf16(kProductSite));
    Label1->installEventFilter(this);

    btnClose = AddButton(this, u"btnClose"_s, u"Close"_s);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
    btnClose->setFocus();

    // The logo with the notice and the address beside it, the address a
    // little indented; Close below the logo.
    auto *layout = new QGridLayout(this);
    layout->setContentsMargins(8, 8, 8, 14);
    layout->setHorizontalSpacing(16);
    layout->setVerticalSpacing(0);
    layout->addWidget(Image1, 0, 0, 3, 1);
    layout->addWidget(lbNotice, 0, 1);
    auto *address = new QHBoxLayout;
    address->setContentsMargins(8, 3, 0, 0);
    address->addWidget(Label1);
    layout->addLayout(address, 1, 1);
    layout->setRowStretch(2, 1);
    layout->setRowMinimumHeight(3, 19);
    auto *close = new QHBoxLayout;
    close->setContentsMargins(53, 0, 0, 0);
    close->addWidget(btnClose);
    close->addStretch();
    layout->addLayout(close, 4, 0, 1, 2);
    layout->setColumnStretch(1, 1);
    // At least its design size; where this machine's font is wider, the box
    // grows rather than cutting the address off.
    setFixedSize(layout->sizeHint().expandedTo(QSize(287, 194)));
}

void TfrmAbout::Execute(QWidget *owner)
{
    TfrmAbout box(owner);
    box.exec();
}

bool TfrmAbout::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Label1 && event->type() == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        OpenProductPage(QString());
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmAbout::keyPressEvent(QKeyEvent *event)
{
    // Neither Enter nor Escape closes the dialog; only its buttons and the close box do.
    if (!SwallowClosingKeys(event))
        QDialog::keyPressEvent(event);
}

} // namespace valmora
