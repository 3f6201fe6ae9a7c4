#include "DialogDriver.h"
#include "TestSupport.h"

#include "MessageBox.h"
#include "UserPassForm.h"

#include "foundation/LogSystem.h"
#include "refresh/UserPass.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <memory>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;
using valmora::test::ScopedSandbox;
using valmora::test::WhenModal;

namespace {

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool sameUserPass(const TUserPass &a, const TUserPass &b)
{
    return a.UserName == b.UserName && a.Password == b.Password;
}

} // namespace

class TestUserPassDialog : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // Made before the log, so it goes after the log's last write at exit.
        static QTemporaryDir logFolder;
        XLogSystem().SetLogFolder(logFolder.path());
    }
    void init();
    void cleanup() { m_sandbox.reset(); }

    void okWithoutChangeKeepsTheFile();
    void savingOneComputerKeepsTheOthers();
    void cancelLeavesTheFileUntouched_data();
    void cancelLeavesTheFileUntouched();
    void enterAndEscapeDoNotClose();
    void saveFailureIsLogged();
    void unreadableFileIsReportedWithoutDialog();
    void actionFollowsTheSelection();

private:
    std::unique_ptr<ScopedSandbox> m_sandbox;
    QString m_folder;
    QString m_file;
    const TUserPass m_pc1{u"DOMAIN\\admin"_s, u"p\u00E4ss w\u00F6rd \u20AC=;"_s};
    const TUserPass m_pc2{u"operator"_s, u"second"_s};
};

void TestUserPassDialog::init()
{
    m_sandbox = std::make_unique<ScopedSandbox>();
    m_folder = m_sandbox->path(u"appdata/Quillmoor/Valmora/"_s);
    m_file = m_folder + u"userpass.valmora"_s;
    WriteUserPass(m_folder, u"PC1"_s, m_pc1);
    WriteUserPass(m_folder, u"PC2"_s, m_pc2);
}

void TestUserPassDialog::okWithoutChangeKeepsTheFile()
{
    const QByteArray before = contents(m_file);
    bool shown = false;
    WhenModal<TfrmUserPass>(
        [this](TfrmUserPass *dialog) {
            QCOMPARE(dialog->windowTitle(), u"Insert"_s);
            QCOMPARE(dialog->edUser->text(), m_pc1.UserName);
            QCOMPARE(dialog->edPassword->text(), m_pc1.Password); // the plain password
            QCOMPARE(dialog->edPassword->displayText(), QString(m_pc1.Password.size(), u'*'));
            QTest::mouseClick(dialog->btnOK, Qt::LeftButton);
        },
        &shown);
    QVERIFY(EditUserPass(nullptr, m_folder, u"pc1"_s)); // sections match in any letter case
    QVERIFY(shown);
    QCOMPARE(contents(m_file), before);
    QCOMPARE(test::PosixMode(m_file), 0600);
    QVERIFY(sameUserPass(ReadUserPass(m_folder, u"PC1"_s), m_pc1));
}

void TestUserPassDialog::savingOneComputerKeepsTheOthers()
{
    WhenModal<TfrmUserPass>([](TfrmUserPass *dialog) {
        dialog->edUser->clear();
        QTest::keyClicks(dialog->edUser, u"newuser"_s);
        dialog->edPassword->clear();
        QTest::keyClicks(dialog->edPassword, u"newpass"_s);
        QTest::mouseClick(dialog->btnOK, Qt::LeftButton);
    });
    QVERIFY(EditUserPass(nullptr, m_folder, u"PC2"_s));
    QVERIFY(sameUserPass(ReadUserPass(m_folder, u"PC2"_s), TUserPass{u"newuser"_s, u"newpass"_s}));
    QVERIFY(sameUserPass(ReadUserPass(m_folder, u"PC1"_s), m_pc1));

    // A computer without an entry starts empty; empty fields are stored as they are.
    WhenModal<TfrmUserPass>([](TfrmUserPass *dialog) {
        QVERIFY(dialog->edUser->text().isEmpty());
        QVERIFY(dialog->edPassword->text().isEmpty());
        QTest::keyClicks(dialog->edUser, u"only a name"_s);
        QTest::mouseClick(dialog->btnOK, Qt::LeftButton);
    });
    QVERIFY(EditUserPass(nullptr, m_folder, u"PC3"_s));
    const TUserPass pc3 = ReadUserPass(m_folder, u"PC3"_s);
    QVERIFY(sameUserPass(pc3, TUserPass{u"only a name"_s, QString()}));
    QVERIFY(!UserPassIsUsable(pc3));
    QVERIFY(sameUserPass(ReadUserPass(m_folder, u"PC1"_s), m_pc1));
    QVERIFY(sameUserPass(ReadUserPass(m_folder, u"PC2"_s), TUserPass{u"newuser"_s, u"newpass"_s}));
    // The new section comes last.
    const QString text = QString::fromUtf8(contents(m_file));
    QVERIFY(text.indexOf(u"[PC3]"_s) > text.indexOf(u"[PC2]"_s));
    QCOMPARE(test::PosixMode(m_file), 0600);
}

void TestUserPassDialog::cancelLeavesTheFileUntouched_data()
{
    QTest::addColumn<bool>("closeBox");
    QTest::newRow("Cancel button") << false;
    QTest::newRow("close box") << true;
}

void TestUserPassDialog::cancelLeavesTheFileUntouched()
{
    QFETCH(bool, closeBox);
    const QDateTime old = QDateTime::currentDateTime().addDays(-3);
    {
        QFile file(m_file);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(old, QFileDevice::FileModificationTime));
    }
    const QByteArray before = contents(m_file);
    WhenModal<TfrmUserPass>([closeBox](TfrmUserPass *dialog) {
        dialog->edUser->setText(u"typed"_s);
        dialog->edPassword->setText(u"typed"_s);
        if (closeBox)
            dialog->close();
        else
            QTest::mouseClick(dialog->btnCancel, Qt::LeftButton);
    });
    QVERIFY(!EditUserPass(nullptr, m_folder, u"PC1"_s));
    QCOMPARE(contents(m_file), before);
    QCOMPARE(QFileInfo(m_file).lastModified(), old);
}

void TestUserPassDialog::enterAndEscapeDoNotClose()
{
    WhenModal<TfrmUserPass>([](TfrmUserPass *dialog) {
        for (QWidget *focus : {static_cast<QWidget *>(dialog->edUser), static_cast<QWidget *>(dialog->edPassword),
                               static_cast<QWidget *>(dialog->btnOK)}) {
            focus->setFocus();
            for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
                QTest::keyClick(focus, key);
                QVERIFY(dialog->isVisible());
            }
        }
        QTest::mouseClick(dialog->btnCancel, Qt::LeftButton);
    });
    QVERIFY(!EditUserPass(nullptr, m_folder, u"PC1"_s));
}

void TestUserPassDialog::saveFailureIsLogged()
{
    const QByteArray before = contents(m_file);
    const qsizetype logLines = XLogSystem().Lines().size();
    std::unique_ptr<test::ScopedFileSizeLimit> fullDisk;
    WhenModal<TfrmUserPass>([&fullDisk](TfrmUserPass *dialog) {
        dialog->edPassword->setText(u"lost"_s);
        fullDisk = std::make_unique<test::ScopedFileSizeLimit>(16);
        QTest::mouseClick(dialog->btnOK, Qt::LeftButton);
    });
    TMessageRecorder messages;
    QVERIFY(!EditUserPass(nullptr, m_folder, u"PC1"_s));
    fullDisk.reset();

    QVERIFY(messages.Shown().empty());
    QCOMPARE(contents(m_file), before);
    const QStringList lines = XLogSystem().Lines().mid(logLines);
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.front().contains(u"Place: 1001. "_s), qPrintable(lines.front()));
    QVERIFY2(lines.front().contains(u"userpass.valmora"_s), qPrintable(lines.front()));
}

void TestUserPassDialog::unreadableFileIsReportedWithoutDialog()
{
    QVERIFY(QFile::remove(m_file));
    QVERIFY(QDir().mkdir(m_file)); // a folder where the file should be cannot be read
    bool selected = true;
    TacOverwriteUserPass action(nullptr, [&selected]() -> std::optional<QString> {
        return selected ? std::optional(u"PC1"_s) : std::nullopt;
    }, m_folder);
    TMessageRecorder messages;
    const auto dialogs = test::CountShown<TfrmUserPass>();
    action.trigger();
    QCOMPARE(messages.Shown().size(), std::size_t{1});
    QVERIFY2(messages.Shown().front().Text.contains(u"userpass.valmora"_s), qPrintable(messages.Shown().front().Text));
    QCOMPARE(messages.Shown().front().Icon, QMessageBox::Critical);
    QCOMPARE(dialogs->Count(), 0);
}

void TestUserPassDialog::actionFollowsTheSelection()
{
    std::optional<QString> selected;
    TacOverwriteUserPass action(nullptr, [&selected] { return selected; }, m_folder);
    QCOMPARE(action.objectName(), u"acOverwriteUserPass"_s);
    QCOMPARE(action.text(), u"Overwrite user name and password"_s);
    QVERIFY(!action.isEnabled());

    selected = u"PC2"_s;
    action.Update();
    QVERIFY(action.isEnabled());
    WhenModal<TfrmUserPass>([this](TfrmUserPass *dialog) {
        QCOMPARE(dialog->edUser->text(), m_pc2.UserName);
        dialog->edPassword->setText(u"changed"_s);
        QTest::mouseClick(dialog->btnOK, Qt::LeftButton);
    });
    action.trigger();
    QVERIFY(sameUserPass(ReadUserPass(m_folder, u"PC2"_s), TUserPass{m_pc2.UserName, u"changed"_s}));

    // With nothing selected the command does nothing, even when called directly.
    selected.reset();
    action.Update();
    QVERIFY(!action.isEnabled());
    const QByteArray before = contents(m_file);
    const auto dialogs = test::CountShown<TfrmUserPass>();
    action.Execute();
    QCOMPARE(dialogs->Count(), 0);
    QCOMPARE(contents(m_file), before);
}

QTEST_MAIN(TestUserPassDialog)
#include "TestUserPassDialog.moc"
