#pragma once

#include <QSaveFile>
#include <QString>
#include <QStringList>

namespace shell {

// A source row a conversion skipped, or the row an error (most often a write
// the target refused) stopped the run at.
struct Reject {
    QString operation; // the operation's title
    QString table;     // the source table of the walk
    int row = 0;       // position in the walk, from 1
    QString key;       // the row's code as the progress line shows it
    QString reason;
    QString log; // the log-pane line of the row, or the error text
};

// The rejected rows of one or more runs as a CSV file in UTF-8 with a BOM, so
// that spreadsheet programs read the Chinese texts. The file is made at the
// first row unless made at once; add never throws: a file that cannot be
// written is reported by error(). It is written beside its path and renamed
// into place by finish() (or at destruction), so a file already there is
// replaced whole or not at all.
class RejectReport {
public:
    enum class Create { Now, AtFirstRow };
    explicit RejectReport(QString path, Create when = Create::AtFirstRow);
    ~RejectReport();
    RejectReport(const RejectReport&) = delete;
    RejectReport& operator=(const RejectReport&) = delete;

    // Puts the file in place; false (error() says why) when it could not be written.
    bool finish();

    void add(const Reject& reject);
    const QString& path() const { return m_path; }
    int count() const { return m_count; }
    bool made() const { return m_file.isOpen(); }
    // Empty while every row went in.
    const QString& error() const { return m_error; }
    // "无法写入拒绝行报告 <path>：<error>", the line both front ends give when error() is set.
    QString failure() const;

private:
    bool make();

    QString m_path;
    QSaveFile m_file;
    int m_count = 0;
    QString m_error;
};

// Why a report may not be written at path, empty when it may: it never
// replaces the source or the target (their data-link files and the SQLite
// files these name), a folder, or any file that is not an earlier report (its
// first line is the report's header).
QString reportRefusal(const QString& path, const QString& sourceUdl, const QString& targetUdl);

// What path is of the two links, empty when neither: "源数据连接文件", "目标数据库
// （目标数据连接文件 …）" and the like. A file the user names to write is never one of these.
QString linkFileAt(const QString& path, const QString& sourceUdl, const QString& targetUdl);

// One CSV field: quoted when it holds a comma, a quote or a line break.
QString csvField(const QString& value);

} // namespace shell
