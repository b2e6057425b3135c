// Takes the pictures of docs/: the window in the middle of a V7 product
// conversion, and the connection settings. Run under QT_QPA_PLATFORM=offscreen
// (or Xvfb) with a Chinese font installed:
//
//   screenshots SOURCE.db EMPTY_TARGET.db OUT_FOLDER
//
// SOURCE.db is a V6/V7 source (tools/gen_sample.py --mess gives one with
// repeated product codes, so the log pane has lines to show).
#include "gui/datalinkdialog.h"
#include "gui/mainform.h"
#include "programs/programs.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

void writeUdl(const QString& path, const QString& init)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    QByteArray bytes("\xFF\xFE", 2);
    for (const QChar c : QStringLiteral("[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n") + init +
                             QStringLiteral("\r\n"))
        bytes.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
    f.write(bytes);
}

void save(QWidget* w, const QString& path)
{
    if (!w->grab().save(path))
        qFatal("cannot write %s", qPrintable(path));
    std::printf("%s\n", qPrintable(path));
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    app.setFont(TmainForm::programFont());
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: screenshots SOURCE.db EMPTY_TARGET.db OUT_FOLDER\n");
        return 2;
    }
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("target.db"));
    QFile::copy(QFileInfo(args[2]).absoluteFilePath(), target);
    writeUdl(dir.filePath(QStringLiteral("数据库连接1.udl")),
             QStringLiteral("Provider=SQLite;Data Source=") + QFileInfo(args[1]).absoluteFilePath());
    writeUdl(dir.filePath(QStringLiteral("数据库连接2.udl")), QStringLiteral("Provider=SQLite;Data Source=target.db"));
    const QDir out(args[3]);

    TmainForm form(programs::catalog(), shell::Family::V67, dir.path());
    form.setMessageSink([](const QString&, const QString&, const QString&) {});
    form.show();
    // The picture is taken from inside the run, at a pass of the window's events, once the walk is well under way.
    bool taken = false;
    QTimer shot;
    shot.setInterval(20);
    QObject::connect(&shot, &QTimer::timeout, [&] {
        const QString progress = form.findChild<QLabel*>(QStringLiteral("xxLabel"))->text();
        const int slash = progress.indexOf(u'/');
        if (taken || slash < 0)
            return;
        const int i = progress.mid(3, slash - 3).toInt();
        const int n = progress.mid(slash + 1).section(u' ', 0, 0).toInt();
        // Taken once the grid has followed the walk there too (it follows a few times a second).
        const int shown = form.findChild<QTableView*>(QStringLiteral("DBGridEh1"))->currentIndex().row();
        if (n > 0 && i * 2 >= n && shown * 3 >= n) {
            taken = true;
            save(&form, out.filePath(QStringLiteral("window-run.png")));
            form.findChild<QCheckBox*>(QStringLiteral("CheckBox1"))->setChecked(true); // the rest is not needed
        }
    });
    shot.start();
    form.findChild<QPushButton*>(QStringLiteral("spdaBitBtnV7"))->click();
    shot.stop();
    if (!taken)
        qFatal("the run ended before the picture was taken");

    // The target page as a shop on SQL Server would have it.
    writeUdl(dir.filePath(QStringLiteral("数据库连接2.udl")),
             QStringLiteral("Provider=MSOLEDBSQL;Password=secret;Persist Security Info=True;User ID=quorvan;"
                            "Initial Catalog=QuorvanV9;Data Source=shop-server\\SHOP;Use Encryption for Data=True;"
                            "Trust Server Certificate=True"));
    gui::DataLinkDialog dialog(dir.filePath(QStringLiteral("数据库连接1.udl")),
                               dir.filePath(QStringLiteral("数据库连接2.udl")), programs::catalog().kinds(), &form);
    dialog.show();
    dialog.sourcePage()->result()->setText(dialog.sourcePage()->testConnection());
    QApplication::processEvents();
    save(&dialog, out.filePath(QStringLiteral("connection-settings.png")));
    dialog.findChild<QTabWidget*>()->setCurrentIndex(1);
    QApplication::processEvents();
    save(&dialog, out.filePath(QStringLiteral("connection-settings-sqlserver.png")));
    return 0;
}
