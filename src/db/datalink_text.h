#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

// Reading a data-link file: its bytes decoded, the connection string found among
// its lines and split into key=value pairs. Messages name the file by its path.
namespace db::udl {

[[noreturn]] void fail(const QString& message);

// "数据连接文件 <path> <what>": the start every message about the file shares.
QString fileText(const QString& path, const QString& what);

// The file's text, decoded; *utf16 tells which encoding it was in (line lengths are measured in the file's bytes).
QString decodeFile(const QByteArray& bytes, const QString& path, bool* utf16);

// Skips the "[oledb]" line, comment lines (";") and blank lines; the first other line is the init string.
QString findInitString(const QString& text, bool utf16, const QString& path);

// The init string's key=value pairs, keys lower-cased with blanks collapsed. A value in double or single quotes may
// hold ";" and "="; a doubled quote inside it is one quote. A later key replaces an earlier one, as OLE DB does.
// The messages never quote the text: a mis-split password would otherwise show up in them.
QHash<QString, QString> parseInitString(const QString& s, const QString& path);

// A quoted value, read from just past its opening quote up to the closing one,
// where a doubled closing quote stands for itself; then the blanks after it.
// i ends at the ";" (or the end) that must follow.
enum class Quoted { Read, Unclosed, TextAfter };
Quoted readQuoted(const QString& s, qsizetype& i, QChar close, QString* value);

} // namespace db::udl
