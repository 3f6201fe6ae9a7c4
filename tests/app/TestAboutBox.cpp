#include "DialogDriver.h"

#include "AboutForm.h"
#include "MessageBox.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <vector>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;
using valmora::test::WhenModal;

namespace {

// Records the addresses asked for; answers that opening failed.
class TOpenedPages
{
public:
    TOpenedPages()
        : m_previous(SetUrlOpener([this](const QUrl &url) {
            m_urls.push_back(url);
            return false;
        }))
    {
    }
    ~TOpenedPages() { SetUrlOpener(std::move(m_previous)); }
    const std::vector<QUrl> &Urls() const { return m_urls; }

private:
    TUrlOpener m_previous;
    std::vector<QUrl> m_urls;
};

} // namespace

class TestAboutBox : public QObject
{
    Q_OBJECT
private slots:
    void helpAndContactOpenOnePageEach_data();
    void helpAndContactOpenOnePageEach();
    void boxShowsLogoAndSiteAndClosesOnlyByItsButtons();
};

void TestAboutBox::helpAndContactOpenOnePageEach_data()
{
    QTest::addColumn<bool>("help");
    QTest::addColumn<QString>("url");
    QTest::newRow("Help") << true << u"https://valmora.example.org/pomoc.html"_s;
    QTest::newRow("Contact") << false << u"https://valmora.example.org/kontakt.php"_s;
}

void TestAboutBox::helpAndContactOpenOnePageEach()
{
    QFETCH(bool, help);
    QFETCH(QString, url);
    TOpenedPages pages;
    TMessageRecorder messages;
    if (help)
        acHelpExecute();
    else
        acContactExecute();
    QCOMPARE(pages.Urls().size(), std::size_t{1});
    QCOMPARE(pages.Urls().front().toString(), url);
    QVERIFY(messages.Shown().empty()); // a page that cannot be opened is no error
}

void TestAboutBox::boxShowsLogoAndSiteAndClosesOnlyByItsButtons()
{
    TOpenedPages pages;
    TMessageRecorder messages;
    bool shown = false;
    WhenModal<TfrmAbout>(
        [&pages](TfrmAbout *box) {
            QCOMPARE(box->windowTitle(), u"About"_s);
            QCOMPARE(box->btnClose->text(), u"Close"_s);
            const QPixmap logo = box->Image1->pixmap();
            QCOMPARE(logo.size(), QSize(128, 128));
            QVERIFY(logo.hasAlphaChannel());
            QCOMPARE(logo.toImage().pixelColor(0, 0).alpha(), 0);
            QVERIFY(!box->lbNotice->text().isEmpty());
            QVERIFY(box->lbNotice->font().bold());
            QCOMPARE(box->Label1->text(), u"valmora.example.org"_s);

            for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
                QTest::keyClick(box->btnClose, key);
                QVERIFY(box->isVisible());
            }
            QVERIFY(pages.Urls().empty());
            QTest::mouseClick(box->Label1, Qt::LeftButton);
            QCOMPARE(pages.Urls().size(), std::size_t{1});
            QCOMPARE(pages.Urls().front().toString(), u"https://valmora.example.org"_s);
            QVERIFY(box->isVisible());
            QTest::mouseClick(box->btnClose, Qt::LeftButton);
        },
        &shown);
    TfrmAbout::Execute(nullptr);
    QVERIFY(shown);
    QCOMPARE(pages.Urls().size(), std::size_t{1});
    QVERIFY(messages.Shown().empty());

    // The close box ends it too.
    WhenModal<TfrmAbout>([](TfrmAbout *box) { box->close(); });
    TfrmAbout::Execute(nullptr);
}

QTEST_MAIN(TestAboutBox)
#include "TestAboutBox.moc"
