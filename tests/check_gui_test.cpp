// The window's check button: it probes every operation of the program and
// shows the result in the log pane, without a message box and without writing.
// Beside it, the connection settings: the data-link editor and its test.
#include "db/datalink.h"
#include "db/datalink_file.h"
#include "gui/datalinkdialog.h"
#include "gui/mainform.h"
#include "programs/programs.h"
#include "support/testdb.h"
#include "textutil/error.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

void ensureApp()
{
    static int argc = 1;
    static char* argv[] = {const_cast<char*>("check_gui_test"), nullptr};
    // Never destroyed: tearing Qt down during static destruction crashes.
    static QApplication* app = new QApplication(argc, argv);
    Q_UNUSED(app);
}

struct Window {
    explicit Window(shell::Family family, const QString& folder)
        : form(programs::catalog(), (ensureApp(), family), folder)
    {
        form.setMessageSink(
            [this](const QString& kind, const QString&, const QString& text) { boxes << kind + u'/' + text; });
        form.show();
    }
    QPushButton* checkButton() { return form.findChild<QPushButton*>(QStringLiteral("CheckBitBtn")); }
    QStringList log() { return form.findChild<QPlainTextEdit*>(QStringLiteral("Memo1"))->toPlainText().split(u'\n'); }

    TmainForm form;
    QStringList boxes;
};

} // namespace

TEST(CheckButton, SitsBesideExitInTheTopStrip)
{
    ensureApp();
    Window w(shell::Family::V1, QDir::tempPath());
    QPushButton* check = w.checkButton();
    ASSERT_NE(check, nullptr);
    EXPECT_EQ(check->text(), QStringLiteral("检查"));
    EXPECT_EQ(check->parentWidget()->objectName(), QStringLiteral("Panel2"));
    const QRect exit = w.form.findChild<QPushButton*>(QStringLiteral("BitBtn2"))->geometry();
    EXPECT_EQ(check->geometry().top(), exit.top());
    EXPECT_EQ(check->geometry().size(), exit.size());
    EXPECT_GT(check->geometry().left(), exit.right());
    EXPECT_LE(check->geometry().right(), 714);
}

TEST(CheckButton, ShowsTheResultInTheLogPane)
{
    ensureApp();
    Shop shop(QStringLiteral("source_v67_sqlite.sql"), Backend::SQLite);
    shop.source().exec(QStringLiteral("insert into ck (ckbh, ckmc) values ('01', 'a')"));
    Window w(shell::Family::V67, shop.folder());
    w.form.appendLog(QStringLiteral("earlier line"));

    // The pane keeps the session: the check's lines come after its own line.
    w.checkButton()->click();
    const QStringList log = w.log();
    ASSERT_EQ(log.size(), 3) << log.join(u'\n').toStdString();
    EXPECT_EQ(log[0], QStringLiteral("earlier line"));
    EXPECT_TRUE(log[1].startsWith(QStringLiteral("———— 检查  "))) << log[1].toStdString();
    EXPECT_TRUE(log[2].startsWith(QStringLiteral("检查完毕："))) << log[2].toStdString();
    EXPECT_TRUE(log[2].endsWith(QStringLiteral("都可以使用"))) << log[2].toStdString();
    EXPECT_TRUE(w.boxes.isEmpty());

    // Every conversion of the program is checked: a table only the stock and
    // supplier conversions read shows, and so does a target column.
    shop.source().exec(QStringLiteral("alter table spxx drop column jhjj"));
    shop.target().exec(QStringLiteral("alter table mdspkc drop column mdmc"));
    w.checkButton()->click();
    const QStringList second = w.log().mid(4);
    EXPECT_TRUE(w.log().value(3).startsWith(QStringLiteral("———— 检查  "))) << w.log().value(3).toStdString();
    EXPECT_EQ(second, (QStringList{second.value(0), second.value(1), QStringLiteral("检查完毕：发现 2 个问题")}));
    EXPECT_TRUE(second.value(0).startsWith(QStringLiteral("源表 spxx 缺少字段 jhjj：")))
        << second.value(0).toStdString();
    EXPECT_TRUE(second.value(1).startsWith(QStringLiteral("目标表 mdspkc 缺少字段 mdmc：")))
        << second.value(1).toStdString();
    EXPECT_TRUE(w.boxes.isEmpty());
    EXPECT_EQ(shop.target().scalar(QStringLiteral("select count(*) from ckda")), QStringLiteral("0"));
    EXPECT_TRUE(w.checkButton()->isEnabled());
    EXPECT_TRUE(w.form.findChild<QPushButton*>(QStringLiteral("CkdaBitBtn"))->isEnabled());
}

namespace {

template <typename T>
T* on(QWidget* page, const char* name)
{
    return page->findChild<T*>(QString::fromLatin1(name));
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

TEST(LinkSettings, EditsAFileWrittenTheWindowsWayKeepingWhatWasNotChanged)
{
    ensureApp();
    QTemporaryDir dir;
    Window w(shell::Family::V67, dir.path());
    QPushButton* link = w.form.findChild<QPushButton*>(QStringLiteral("LinkBitBtn"));
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->text(), QStringLiteral("连接设置"));
    EXPECT_GT(link->geometry().left(), w.checkButton()->geometry().right());
    EXPECT_LE(link->geometry().right(), 714);

    const QString udl = w.form.targetUdl();
    writeUdl(udl, QStringLiteral("Provider=SQLOLEDB.1;Password=pw;Persist Security Info=True;User ID=sa;"
                                 "Initial Catalog=shop;Data Source=srv,1433;Workstation ID=TILL1"));
    const QByteArray original = fileBytes(udl);
    gui::DataLinkDialog dialog(w.form.sourceUdl(), udl, programs::catalog().kinds());
    gui::DataLinkPage* page = dialog.targetPage();
    EXPECT_EQ(page->edited().bytes(), original);
    // The page shows the file in its terms; the password never comes back into view.
    EXPECT_EQ(on<QLineEdit>(page, "Server")->text(), QStringLiteral("srv"));
    EXPECT_EQ(on<QLineEdit>(page, "Port")->text(), QStringLiteral("1433"));
    EXPECT_EQ(on<QLineEdit>(page, "Password")->text(), QString());
    EXPECT_EQ(on<QLineEdit>(page, "Password")->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(on<QCheckBox>(page, "Persist")->isChecked());

    on<QLineEdit>(page, "Catalog")->setText(QStringLiteral("总店"));
    on<QComboBox>(page, "Encryption")->setCurrentIndex(1);
    on<QComboBox>(page, "Driver")->setCurrentIndex(1);
    on<QComboBox>(page, "TdsVersion")->setCurrentIndex(3);
    EXPECT_EQ(page->save(), udl);
    db::DataLinkFile saved = db::DataLinkFile::read(udl);
    EXPECT_EQ(saved.initString(),
              QStringLiteral("Provider=SQLOLEDB.1;Password=pw;Persist Security Info=True;User ID=sa;"
                             "Initial Catalog=总店;Data Source=srv,1433;Workstation ID=TILL1;"
                             "Use Encryption for Data=True;ODBC Driver=FreeTDS;TDS Version=7.4"));
    EXPECT_TRUE(fileBytes(udl).startsWith("\xFF\xFE[\0o\0l\0e\0d\0b\0]\0\r\0\n\0"));

    // Without Persist Security Info the password leaves the file and is asked when connecting.
    on<QCheckBox>(page, "Persist")->setChecked(false);
    page->save();
    saved = db::DataLinkFile::read(udl);
    EXPECT_FALSE(saved.has(QStringLiteral("Password")));
    EXPECT_EQ(saved.value(QStringLiteral("Persist Security Info")), QStringLiteral("False"));
    EXPECT_TRUE(db::needsPassword(udl));

    // A new SQLite link: the provider's own keys only.
    gui::DataLinkPage fresh(dir.filePath(QStringLiteral("new.udl")), programs::catalog().kinds());
    on<QLineEdit>(&fresh, "SqliteFile")->setText(QStringLiteral("门店.db"));
    EXPECT_EQ(fresh.edited().initString(), QStringLiteral("Provider=SQLite;Data Source=门店.db"));

    // A provider the connection cannot use is no SQL Server in the editor: both say the same.
    writeUdl(udl, QStringLiteral("Provider=Oracle.1;Data Source=srv"));
    gui::DataLinkPage unknown(udl, programs::catalog().kinds());
    try {
        db::readDataLink(udl);
        ADD_FAILURE() << "an unknown provider was read";
    } catch (const belmire::Error& e) {
        EXPECT_EQ(unknown.result()->text(), e.message());
    }
    EXPECT_EQ(on<QLineEdit>(&unknown, "Server")->text(), QString());
}

TEST(LinkSettings, TestConnectionSaysWhatAnswered)
{
    ensureApp();
    for (const Backend backend : {Backend::SQLite, Backend::PostgreSQL}) {
        SCOPED_TRACE(backendName(backend).toStdString());
        REQUIRE_BACKEND(backend);
        Shop shop(QStringLiteral("source_v67_sqlite.sql"), backend);
        gui::DataLinkDialog dialog(shop.sourceUdl(), shop.targetUdl(), programs::catalog().kinds());
        const QString source = dialog.sourcePage()->testConnection();
        EXPECT_TRUE(source.startsWith(QStringLiteral("连接成功：SQLite 3."))) << source.toStdString();
        EXPECT_TRUE(source.endsWith(QStringLiteral("看起来是 Belmire V6/V7 源数据库"))) << source.toStdString();
        const QString target = dialog.targetPage()->testConnection();
        EXPECT_TRUE(target.startsWith(backend == Backend::SQLite ? QStringLiteral("连接成功：SQLite 3.")
                                                                 : QStringLiteral("连接成功：PostgreSQL ")))
            << target.toStdString();
        EXPECT_TRUE(target.endsWith(QStringLiteral("看起来是 Quorvan V9 目标数据库"))) << target.toStdString();
        if (backend != Backend::PostgreSQL)
            continue;
        // A wrong password fails without showing it; a link that keeps none asks for it before a run.
        const QString password = db::readDataLink(shop.targetUdl()).password;
        gui::DataLinkPage* page = dialog.targetPage();
        on<QCheckBox>(page, "Persist")->setChecked(false);
        page->save();
        on<QLineEdit>(page, "Password")->setText(QStringLiteral("wrong-%1").arg(password));
        const QString failed = page->testConnection();
        EXPECT_TRUE(failed.startsWith(QStringLiteral("连接失败："))) << failed.toStdString();
        EXPECT_FALSE(failed.contains(QStringLiteral("wrong-"))) << failed.toStdString();
        // A source without a row to convert is a problem of its own.
        shop.source().exec(QStringLiteral("insert into ck (ckbh, ckmc) values ('C1', '总仓');"));
        Window w(shell::Family::V67, shop.folder());
        QStringList asked;
        w.form.setPasswordPrompt([&](const QString& udl) {
            asked << udl;
            return std::optional<QString>(password);
        });
        w.checkButton()->click();
        EXPECT_EQ(asked, QStringList{shop.targetUdl()});
        EXPECT_TRUE(w.log().value(1).startsWith(QStringLiteral("检查完毕："))) << w.log().join(u'\n').toStdString();
        w.checkButton()->click();
        EXPECT_EQ(asked.size(), 1); // asked once a session
    }
}
