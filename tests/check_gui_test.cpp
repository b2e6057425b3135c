// The window's check button: it probes every operation of the program and
// shows the result in the log pane, without a message box and without writing.
#include "gui/mainform.h"
#include "support/testdb.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>

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
    explicit Window(shell::Family family, const QString& folder) : form((ensureApp(), family), folder)
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

    w.checkButton()->click();
    const QStringList healthy = w.log();
    ASSERT_EQ(healthy.size(), 1) << healthy.join(u'\n').toStdString();
    EXPECT_TRUE(healthy[0].startsWith(QStringLiteral("检查完毕："))) << healthy[0].toStdString();
    EXPECT_TRUE(healthy[0].endsWith(QStringLiteral("都可以使用"))) << healthy[0].toStdString();
    EXPECT_TRUE(w.boxes.isEmpty());

    // Every conversion of the program is checked: a table only the stock and
    // supplier conversions read shows, and so does a target column.
    shop.source().exec(QStringLiteral("alter table spxx drop column jhjj"));
    shop.target().exec(QStringLiteral("alter table mdspkc drop column mdmc"));
    w.checkButton()->click();
    EXPECT_EQ(w.log(), (QStringList{w.log().value(0), w.log().value(1), QStringLiteral("检查完毕：发现 2 个问题")}));
    EXPECT_TRUE(w.log().value(0).startsWith(QStringLiteral("源表 spxx 缺少字段 jhjj：")))
        << w.log().value(0).toStdString();
    EXPECT_TRUE(w.log().value(1).startsWith(QStringLiteral("目标表 mdspkc 缺少字段 mdmc：")))
        << w.log().value(1).toStdString();
    EXPECT_TRUE(w.boxes.isEmpty());
    EXPECT_EQ(shop.target().scalar(QStringLiteral("select count(*) from ckda")), QStringLiteral("0"));
    EXPECT_TRUE(w.checkButton()->isEnabled());
    EXPECT_TRUE(w.form.findChild<QPushButton*>(QStringLiteral("CkdaBitBtn"))->isEnabled());
}
