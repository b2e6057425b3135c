#include "gui/filedialog.h"
#include "gui/mainform.h"
#include "gui/sourcerows.h"
#include "programs/programs.h"
#include "support/testdb.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

void ensureApp()
{
    static int argc = 1;
    static char* argv[] = {const_cast<char*>("mainform_gui_test"), nullptr};
    // Never destroyed: tearing Qt down during static destruction crashes.
    static QApplication* app = new QApplication(argc, argv);
    Q_UNUSED(app);
}

struct Box {
    QString kind, caption, text;
};

struct ExpectedButton {
    const char* name;
    const char16_t* caption;
    const char* operationId;
};

const ExpectedButton kCommonButtons[] = {
    {"CkdaBitBtn", u"仓库档案转换", "warehouses"},  {"CkBitBtn", u"清空仓库", "clear-warehouses"},
    {"BitBtn5", u"货区档案转换", "goods-areas"},    {"BitBtn7", u"清空货区", "clear-goods-areas"},
    {"gysBitBtn4", u"供应商转换", "suppliers"},     {"BitBtn6", u"清空供应商", "clear-suppliers"},
    {"splbBitBtn5", u"商品类别转换", "categories"}, {"BitBtn1", u"清空类别", "clear-categories"},
    {"BitBtn3", u"清空商品档案", "clear-products"}, {"BitBtn8", u"库存转换", "stock"},
    {"BitBtn9", u"清空库存", "clear-stock"},        {"hydaBitBtn7", u"会员信息转换", "members"},
    {"BitBtn4", u"清空会员", "clear-members"},
};

// A program folder with a V6/V7 source holding three warehouses and a target with an empty ckda. The folder name
// holds capital letters: the data-link files are found only if the folder is used as given.
class ProgramFolder {
public:
    ProgramFolder() : m_dir(QDir::tempPath() + QStringLiteral("/BelmireGui-XXXXXX"))
    {
        exec(QStringLiteral("source.db"), {QStringLiteral("create table ck (ckbh varchar(10), ckmc varchar(40))"),
                                           QStringLiteral("insert into ck values ('01', '总仓')"),
                                           QStringLiteral("insert into ck values (' 02 ', '二号仓')"),
                                           QStringLiteral("insert into ck values ('03', '门店仓')")});
        exec(QStringLiteral("target.db"),
             {QStringLiteral("create table ckda (objid varchar(15) primary key, ckmc varchar(20), xgrq varchar(20), "
                             "jyf varchar(1), zt varchar(1), ownermdbh varchar(10), ownermdmc varchar(40))")});
        writeUdl(QStringLiteral("数据库连接1.udl"), QStringLiteral("source.db"));
        writeUdl(QStringLiteral("数据库连接2.udl"), QStringLiteral("target.db"));
    }

    QString path() const { return m_dir.path(); }

    QStringList exec(const QString& db, const QStringList& statements) const
    {
        QStringList rows;
        {
            QSqlDatabase d = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
            d.setDatabaseName(m_dir.filePath(db));
            EXPECT_TRUE(d.open()) << d.lastError().text().toStdString();
            for (const QString& s : statements) {
                QSqlQuery q(d);
                EXPECT_TRUE(q.exec(s)) << q.lastError().text().toStdString();
                while (q.next()) {
                    QStringList fields;
                    for (int i = 0; i < q.record().count(); ++i)
                        fields << q.value(i).toString();
                    rows << fields.join(u'|');
                }
            }
        }
        QSqlDatabase::removeDatabase(QStringLiteral("check"));
        return rows;
    }

    QStringList warehouses() const
    {
        return exec(QStringLiteral("target.db"),
                    {QStringLiteral("select objid, ckmc, jyf, zt, ownermdbh, ownermdmc from ckda order by objid")});
    }

    void removeSourceUdl() const { QFile::remove(m_dir.filePath(QStringLiteral("数据库连接1.udl"))); }

private:
    void writeUdl(const QString& name, const QString& database) const
    {
        QFile f(m_dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n"
                               "Provider=SQLite;Data Source=%1\r\n")
                    .arg(database)
                    .toUtf8());
    }

    QTemporaryDir m_dir;
};

// The window over a program folder, with its message boxes recorded instead of shown.
struct Window {
    explicit Window(shell::Family family, const QString& folder)
        : form(programs::catalog(), (ensureApp(), family), folder)
    {
        form.setMessageSink([this](const QString& kind, const QString& caption, const QString& text) {
            boxes.push_back({kind, caption, text});
        });
        form.show();
    }

    template <typename T = QWidget>
    T* child(const char* name)
    {
        return form.findChild<T*>(QString::fromLatin1(name));
    }
    QPushButton* button(const char* name) { return child<QPushButton>(name); }
    QString progress() { return child<QLabel>("xxLabel")->text(); }
    QString log() { return child<QPlainTextEdit>("Memo1")->toPlainText(); }

    TmainForm form;
    std::vector<Box> boxes;
};

TEST(MainForm, RegionsCaptionsAndButtonsOfEachProgram)
{
    ensureApp();
    for (const shell::Family family : {shell::Family::V67, shell::Family::V1}) {
        SCOPED_TRACE(family == shell::Family::V67 ? "v67convert" : "v1convert");
        Window w(family, QDir::tempPath());
        EXPECT_EQ(w.form.windowTitle(), family == shell::Family::V67
                                            ? QStringLiteral("BelmireV6 V7系统数据导入“Quorvan” V9")
                                            : QStringLiteral("BelmireV1系统数据导入“Quorvan” V9"));
        EXPECT_EQ(w.form.size(), QSize(714, 391));
        EXPECT_EQ(w.form.minimumSize(), QSize(714, 391));
        EXPECT_EQ(w.form.pos(), QPoint(57, 187));

        // Top strip, middle band 281 high with the grid left of the log region, button strip.
        EXPECT_EQ(w.child("Panel2")->geometry(), QRect(0, 0, 714, 41));
        EXPECT_EQ(w.child("Panel1")->geometry(), QRect(0, 322, 714, 69));
        auto* splitter = w.child<QSplitter>("Splitter1");
        ASSERT_NE(splitter, nullptr);
        EXPECT_EQ(splitter->geometry(), QRect(0, 41, 714, 281));
        EXPECT_EQ(splitter->widget(0), w.child<QTableView>("DBGridEh1"));
        EXPECT_EQ(splitter->widget(1), w.child("Panel3"));
        EXPECT_EQ(w.child("DBGridEh1")->width(), 529);
        EXPECT_EQ(w.child<QLabel>("Panel4")->text(), QStringLiteral("异常信息"));
        EXPECT_TRUE(w.child<QPlainTextEdit>("Memo1")->isReadOnly());
        EXPECT_EQ(w.log(), QString());
        EXPECT_EQ(w.progress(), QStringLiteral("信息"));
        EXPECT_EQ(w.child<QCheckBox>("CheckBox1")->text(), QStringLiteral("中断"));
        EXPECT_FALSE(w.child<QCheckBox>("CheckBox1")->isChecked());
        EXPECT_EQ(w.button("BitBtn2")->text(), QStringLiteral("退出"));

        std::vector<ExpectedButton> buttons(std::begin(kCommonButtons), std::end(kCommonButtons));
        if (family == shell::Family::V67) {
            buttons.push_back({"spdaBitBtnV6", u"V6商品转换", "products-v6"});
            buttons.push_back({"spdaBitBtnV7", u"V7商品转换", "products-v7"});
            EXPECT_EQ(w.button("spdaBitBtnV1"), nullptr);
        } else {
            buttons.push_back({"spdaBitBtnV1", u"V1商品转换", "products"});
            EXPECT_EQ(w.button("spdaBitBtnV6"), nullptr);
            EXPECT_EQ(w.button("spdaBitBtnV7"), nullptr);
            EXPECT_EQ(w.button("spdaBitBtnV1")->geometry(), QRect(344, 15, 129, 25));
            EXPECT_EQ(w.button("spdaBitBtnV1")->width(), w.button("BitBtn3")->width());
        }
        EXPECT_EQ(w.child("Panel1")->findChildren<QPushButton*>().size(), qsizetype(buttons.size()));
        for (const ExpectedButton& b : buttons) {
            SCOPED_TRACE(b.name);
            QPushButton* button = w.button(b.name);
            ASSERT_NE(button, nullptr);
            EXPECT_EQ(button->parentWidget(), w.child("Panel1"));
            EXPECT_EQ(button->text(), QString::fromUtf16(b.caption));
            // A button whose operation is not built yet cannot be pressed.
            EXPECT_EQ(button->isEnabled(),
                      programs::catalog().find(family, QString::fromLatin1(b.operationId)) != nullptr);
        }

        // Keyboard order: the button strip, the grid, the abort box and exit button, the log pane.
        const bool v67 = family == shell::Family::V67;
        const QStringList expected =
            QString::fromLatin1(std::string(v67 ? "spdaBitBtnV6 " : "") +
                                "gysBitBtn4 splbBitBtn5 BitBtn6 hydaBitBtn7 BitBtn1 BitBtn3 BitBtn4 BitBtn5 BitBtn7 "
                                "BitBtn8 BitBtn9 " +
                                (v67 ? "spdaBitBtnV7" : "spdaBitBtnV1") +
                                " CkdaBitBtn CkBitBtn DBGridEh1 CheckBox1 BitBtn2 Memo1")
                .split(u' ');
        QStringList chain;
        QWidget* start = w.child(expected.first().toLatin1().constData());
        for (QWidget* c = start; chain.size() < expected.size(); c = c->nextInFocusChain())
            if (expected.contains(c->objectName()))
                chain << c->objectName();
        EXPECT_EQ(chain, expected);

        // A larger window: the strips keep their heights, the grid and the log region grow both ways.
        w.form.resize(1014, 591);
        EXPECT_EQ(w.child("Panel2")->geometry(), QRect(0, 0, 1014, 41));
        EXPECT_EQ(w.child("Panel1")->geometry(), QRect(0, 522, 1014, 69));
        EXPECT_EQ(splitter->geometry(), QRect(0, 41, 1014, 481));
        EXPECT_GT(w.child("DBGridEh1")->width(), 529 + 50);
        EXPECT_GT(w.child("Panel3")->width(), 180 + 50);
        EXPECT_EQ(w.child("Panel3")->height(), 481);
    }
    // Qt's own dialogs and buttons speak Chinese.
    ASSERT_TRUE(TmainForm::installQtTranslations(*qApp));
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("取消"));
}

TEST(MainForm, WarehouseButtonConvertsAndShowsTheCompletionBox)
{
    ProgramFolder folder;
    Window w(shell::Family::V67, folder.path());
    EXPECT_EQ(w.form.sourceUdl(), folder.path() + QStringLiteral("/数据库连接1.udl"));
    w.form.appendLog(QStringLiteral("上次的记录"));

    w.button("CkdaBitBtn")->click();

    ASSERT_EQ(w.boxes.size(), 1u);
    EXPECT_EQ(w.boxes[0].kind, QStringLiteral("warning"));
    EXPECT_EQ(w.boxes[0].caption, QStringLiteral("提示"));
    EXPECT_EQ(w.boxes[0].text, QStringLiteral("档案转换完毕！"));
    EXPECT_EQ(folder.warehouses(),
              (QStringList{QStringLiteral("01|总仓|0|0|001|超市门店"), QStringLiteral("02|二号仓|0|0|001|超市门店"),
                           QStringLiteral("03|门店仓|0|0|001|超市门店")}));
    EXPECT_EQ(w.progress(), QStringLiteral("信息:3/3  (编号03)"));
    // The pane keeps what was there; the run adds its own line, the command line's summary and reconciliation.
    QStringList log = w.log().split(u'\n');
    ASSERT_EQ(log.size(), 4) << w.log().toStdString();
    EXPECT_EQ(log[0], QStringLiteral("上次的记录"));
    EXPECT_TRUE(log[1].startsWith(QStringLiteral("———— 仓库档案转换  "))) << log[1].toStdString();
    EXPECT_TRUE(log[2].startsWith(QStringLiteral("仓库档案转换：读取 3 行，写入 3 行，跳过 0 行，")))
        << log[2].toStdString();
    EXPECT_EQ(log[3], QStringLiteral("仓库档案转换核对：源 ck 3 行（编号重复 0 行），目标 ckda 3 行"));

    // A clear adds its line and the rows it deleted, as the command line does.
    w.button("CkBitBtn")->click();
    log = w.log().split(u'\n');
    ASSERT_EQ(log.size(), 6) << w.log().toStdString();
    EXPECT_TRUE(log[4].startsWith(QStringLiteral("———— 清空仓库  "))) << log[4].toStdString();
    EXPECT_TRUE(log[5].startsWith(QStringLiteral("清空仓库：删除 3 行，"))) << log[5].toStdString();
    EXPECT_TRUE(folder.warehouses().isEmpty());
    w.boxes.clear();

    // 保存日志 saves the whole session as UTF-8 text; a name typed without an extension gets ".txt".
    QString dialogTitle;
    QTimer::singleShot(0, &w.form, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialogTitle = dialog->windowTitle();
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        name->setText(QStringLiteral("会话"));
        static_cast<QDialog*>(dialog)->accept(); // as the save button does
        if (dialog->isVisible())
            dialog->reject();
    });
    w.child<QToolButton>("SaveLogBtn")->click();
    EXPECT_EQ(dialogTitle, QStringLiteral("保存日志"));
    EXPECT_TRUE(w.boxes.empty());
    QFile file(folder.path() + QStringLiteral("/会话.txt"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(file.readAll()), w.log() + u'\n');
    EXPECT_FALSE(w.form.saveLog(folder.path() + QStringLiteral("/no-such-folder/日志.txt")));
    // Saving the log over a data-link file is refused and leaves the file as it was.
    QFile link(w.form.sourceUdl());
    ASSERT_TRUE(link.open(QIODevice::ReadOnly));
    const QByteArray linkText = link.readAll();
    link.close();
    QString refused;
    EXPECT_FALSE(w.form.saveLog(w.form.sourceUdl(), &refused));
    EXPECT_TRUE(refused.contains(QStringLiteral("源数据连接文件"))) << refused.toStdString();
    ASSERT_TRUE(link.open(QIODevice::ReadOnly));
    EXPECT_EQ(link.readAll(), linkText);
    EXPECT_EQ(gui::filterSuffix(QStringLiteral("SQLite 数据库 (*.db *.sqlite *.sqlite3)")), QStringLiteral("db"));
    EXPECT_EQ(gui::filterSuffix(QStringLiteral("所有文件 (*)")), QString());
    EXPECT_TRUE(w.button("CkdaBitBtn")->isEnabled());

    // The grid has the source fields as columns; its current row is the newest row it was given.
    auto* grid = w.child<QTableView>("DBGridEh1");
    QAbstractItemModel* model = grid->model();
    ASSERT_EQ(model->columnCount(), 2);
    EXPECT_EQ(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("ckbh"));
    EXPECT_EQ(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("ckmc"));
    // Every row of the walk can be reached after the run; the current row is the last one converted.
    ASSERT_EQ(model->rowCount(), 3);
    EXPECT_EQ(model->index(0, 1).data().toString(), QStringLiteral("总仓"));
    EXPECT_EQ(model->index(1, 0).data().toString(), QStringLiteral(" 02 "));
    EXPECT_EQ(model->index(2, 1).data().toString(), QStringLiteral("门店仓"));
    EXPECT_EQ(grid->currentIndex().row(), 2);
}

TEST(MainForm, AbortedWalkEndsWithTheAbortLineInsteadOfTheReconciliation)
{
    ensureApp();
    testing_support::Shop shop(QStringLiteral("source_v67_sqlite.sql"), testing_support::Backend::SQLite);
    shop.source().exec(QStringLiteral("insert into hyda (kbh, czye) values ('0001', 5)"));
    Window w(shell::Family::V67, shop.folder());
    w.child<QCheckBox>("CheckBox1")->setChecked(true);
    w.form.showProgress(QStringLiteral("信息:7/9  (编号07)"));

    w.button("hydaBitBtn7")->click();

    // Ticked before the run: the pane says so first, the status line no longer shows the last run's row, and the
    // box stays ticked.
    const QStringList log = w.log().split(u'\n');
    ASSERT_EQ(log.size(), 4) << w.log().toStdString();
    EXPECT_TRUE(log[0].startsWith(QStringLiteral("———— 会员信息转换  "))) << log[0].toStdString();
    EXPECT_EQ(log[1], QStringLiteral("中断已勾选：本次转换不处理任何行（取消勾选后重新运行）"));
    EXPECT_TRUE(log[2].startsWith(QStringLiteral("会员信息转换：读取 0 行，写入 0 行，跳过 0 行，")))
        << log[2].toStdString();
    EXPECT_EQ(log[3], QStringLiteral("会员信息转换：已中断（写入 0 行）"));
    EXPECT_EQ(w.progress(), QStringLiteral("信息"));
    EXPECT_TRUE(w.child<QCheckBox>("CheckBox1")->isChecked());
    ASSERT_EQ(w.boxes.size(), 1u);
    EXPECT_EQ(w.boxes[0].text, QStringLiteral("档案转换完毕！"));

    // Ticked during a run that ignores it: no such line; the box is untouched by the window.
    w.button("CkdaBitBtn")->click();
    EXPECT_FALSE(
        w.log().split(u'\n').mid(4).contains(QStringLiteral("中断已勾选：本次转换不处理任何行（取消勾选后重新运行）")))
        << w.log().toStdString();
}

TEST(MainForm, SkippedRowsGoToAReportBesideTheTargetDataLink)
{
    ensureApp();
    testing_support::Shop shop(QStringLiteral("source_v67_sqlite.sql"), testing_support::Backend::SQLite);
    shop.source().exec(QStringLiteral("insert into spxx (Spbh, Spmc, zhf) values ('P1', '可乐', '0');\n"
                                      "insert into spxx (Spbh, Spmc, zhf) values ('P1', '雪碧', '0');"));
    Window w(shell::Family::V67, shop.folder());

    w.button("spdaBitBtnV7")->click();

    const QStringList log = w.log().split(u'\n');
    const QString last = log.last();
    ASSERT_TRUE(last.startsWith(QStringLiteral("拒绝行报告：") + shop.folder() + QStringLiteral("/拒绝行-V7商品转换-")))
        << w.log().toStdString();
    ASSERT_TRUE(last.endsWith(QStringLiteral(".csv（1 行）"))) << last.toStdString();
    QFile f(last.mid(6, last.size() - 6 - 5));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QStringLiteral("\uFEFF操作,表,行,编号,原因,日志\r\n"
                                          "V7商品转换,spxx,2,P1,商品编号已存在,商品编号重复：P1\r\n")
                               .toUtf8());
    EXPECT_TRUE(log.contains(QStringLiteral("商品编号重复：P1")));
}

TEST(MainForm, FailedRunShowsTheErrorBoxOnly)
{
    ProgramFolder folder;
    folder.exec(QStringLiteral("target.db"), {QStringLiteral("insert into ckda (objid, ckmc) values ('03', '旧')")});
    Window w(shell::Family::V67, folder.path());

    w.button("CkdaBitBtn")->click();

    ASSERT_EQ(w.boxes.size(), 1u);
    EXPECT_EQ(w.boxes[0].kind, QStringLiteral("critical"));
    EXPECT_FALSE(w.boxes[0].text.isEmpty());
    EXPECT_EQ(folder.warehouses().size(), 3); // the two rows before the duplicate stay
    for (const char* name : {"CkdaBitBtn", "CkBitBtn", "BitBtn2"})
        EXPECT_TRUE(w.button(name)->isEnabled()) << name;
}

TEST(MainForm, ClearNeedsOnlyTheTargetAndLeavesTheWindowAsItIs)
{
    for (const shell::Family family : {shell::Family::V67, shell::Family::V1}) {
        SCOPED_TRACE(family == shell::Family::V67 ? "v67convert" : "v1convert");
        ProgramFolder folder;
        folder.exec(QStringLiteral("target.db"), {QStringLiteral("insert into ckda (objid) values ('01')")});
        folder.removeSourceUdl();
        Window w(family, folder.path());
        w.form.appendLog(QStringLiteral("不良条码 123"));
        w.form.showProgress(QStringLiteral("信息:7/9  (编号07)"));

        w.button("CkBitBtn")->click();

        ASSERT_EQ(w.boxes.size(), 1u);
        EXPECT_EQ(w.boxes[0].kind, QStringLiteral("warning"));
        EXPECT_EQ(w.boxes[0].caption, QStringLiteral("提示"));
        EXPECT_EQ(w.boxes[0].text, family == shell::Family::V67 ? QStringLiteral("仓库档案删除完毕！")
                                                                : QStringLiteral("档案删除完毕！"));
        EXPECT_TRUE(folder.warehouses().isEmpty());
        const QStringList log = w.log().split(u'\n');
        ASSERT_EQ(log.size(), 3) << w.log().toStdString();
        EXPECT_EQ(log[0], QStringLiteral("不良条码 123"));
        EXPECT_TRUE(log[2].startsWith(QStringLiteral("清空仓库：删除 1 行，"))) << log[2].toStdString();
        EXPECT_EQ(w.progress(), QStringLiteral("信息:7/9  (编号07)"));
    }
}

TEST(MainForm, ExitButton)
{
    ProgramFolder folder;
    {
        // Nothing has run: no connection to drop, the window just closes.
        Window w(shell::Family::V67, folder.path());
        w.button("BitBtn2")->click();
        EXPECT_FALSE(w.form.isVisible());
        EXPECT_TRUE(w.boxes.empty());
    }
    {
        // Pressed during a run: no other operation can be started, the abort box is ticked, and the window closes
        // once the run has ended. The warehouse conversion ignores the abort box and converts every row.
        Window w(shell::Family::V67, folder.path());
        bool pressed = false;
        QStringList enabledDuringRun;
        QTimer::singleShot(0, &w.form, [&] {
            pressed = true;
            for (QPushButton* b : w.child("Panel1")->findChildren<QPushButton*>())
                if (b->isEnabled())
                    enabledDuringRun << b->objectName();
            w.button("BitBtn2")->click();
            EXPECT_TRUE(w.form.isVisible());
        });
        w.button("CkdaBitBtn")->click();

        EXPECT_TRUE(pressed);
        EXPECT_TRUE(enabledDuringRun.isEmpty()) << enabledDuringRun.join(u' ').toStdString();
        EXPECT_FALSE(w.form.isVisible());
        EXPECT_TRUE(w.child<QCheckBox>("CheckBox1")->isChecked());
        EXPECT_EQ(folder.warehouses().size(), 3);
        ASSERT_EQ(w.boxes.size(), 1u);
        EXPECT_EQ(w.boxes[0].text, QStringLiteral("档案转换完毕！"));
    }
}

TEST(SourceRowsModel, PagesThroughAMillionRowsWithFlatMemory)
{
    ensureApp();
    QTemporaryDir dir;
    const int total = 1000000;
    {
        QSqlDatabase d = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("big"));
        d.setDatabaseName(dir.filePath(QStringLiteral("big.db")));
        ASSERT_TRUE(d.open());
        QSqlQuery q(d);
        ASSERT_TRUE(q.exec(QStringLiteral("create table spxx (spbh varchar(13), spmc varchar(40))")));
        ASSERT_TRUE(q.exec(QStringLiteral("with recursive n(i) as (select 0 union all select i + 1 from n "
                                          "where i < %1) insert into spxx select printf('%07d', i), '商品' || i from n")
                               .arg(total - 1)))
            << q.lastError().text().toStdString();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("big"));
    testing_support::writeUdl(dir.filePath(QStringLiteral("big.udl")),
                              QStringLiteral("Provider=SQLite;Data Source=big.db"));

    gui::SourceRowsModel model(dir.filePath(QStringLiteral("big.udl")));
    model.reset(QStringLiteral("select * from spxx"), {QStringLiteral("spbh"), QStringLiteral("spmc")}, total);
    QTableView grid;
    grid.setModel(&model);
    grid.resize(529, 281);
    grid.show();
    ASSERT_EQ(model.rowCount(), total);

    // The grid scrolled to the end shows the last rows; scrolled back, the first; the pages held stay bounded.
    grid.scrollToBottom();
    QCoreApplication::processEvents();
    EXPECT_EQ(model.index(total - 1, 0).data().toString(), QStringLiteral("0999999"));
    EXPECT_EQ(model.index(total - 1, 1).data().toString(), QStringLiteral("商品999999"));
    for (int row = total - 1; row >= 0; row -= 97003)
        EXPECT_EQ(model.index(row, 0).data().toString(), QStringLiteral("%1").arg(row, 7, 10, QLatin1Char('0')));
    grid.scrollToTop();
    QCoreApplication::processEvents();
    EXPECT_EQ(model.index(0, 1).data().toString(), QStringLiteral("商品0"));
    EXPECT_EQ(model.headerData(total - 1, Qt::Vertical).toInt(), total);
    EXPECT_LE(model.pagesHeld(), gui::SourceRowsModel::kPagesKept);
    EXPECT_TRUE(model.readError().isEmpty());

    // A PostgreSQL source gives the same rows.
    if (testing_support::PostgresDb::available()) {
        testing_support::PostgresDb pg(dir.filePath(QStringLiteral("pg.udl")), QString());
        pg.exec(QStringLiteral("create table ck (ckbh varchar(10), ckmc varchar(40))"));
        pg.exec(
            QStringLiteral("insert into ck select lpad(i::text, 5, '0'), '仓' || i from generate_series(0, 4999) i"));
        gui::SourceRowsModel pgRows(dir.filePath(QStringLiteral("pg.udl")));
        pgRows.reset(QStringLiteral("select * from ck"), {QStringLiteral("ckbh"), QStringLiteral("ckmc")}, 5000);
        for (const int row : {4999, 17, 2500, 0, 4998})
            EXPECT_EQ(pgRows.index(row, 1).data().toString(), QStringLiteral("仓%1").arg(row));
        EXPECT_TRUE(pgRows.readError().isEmpty()) << pgRows.readError().toStdString();
    } else if (qEnvironmentVariableIsSet("CI")) {
        ADD_FAILURE() << "PostgreSQL test server not running under CI";
    }

    // A new walk drops the pages; a source that cannot be read leaves the cells empty and says why.
    model.reset(QStringLiteral("select * from no_such_table"), {QStringLiteral("x")}, 5);
    EXPECT_EQ(model.pagesHeld(), 0);
    EXPECT_EQ(model.index(4, 0).data(), QVariant());
    EXPECT_FALSE(model.readError().isEmpty());
}

} // namespace
