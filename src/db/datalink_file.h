#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace db {

// A data-link file as text, changed key by key. Everything not changed stays
// as it was written: the lines around the connection string, the keys' order
// and spelling, their quoting and the separators between them. It is written
// the Windows way: UTF-16LE with a byte-order mark, lines ended by CR LF.
class DataLinkFile {
public:
    // A new file with the usual two header lines and an empty connection string.
    DataLinkFile();
    // Throws belmire::Error on a file that is missing or not a data-link file.
    static DataLinkFile read(const QString& path);
    static DataLinkFile parse(const QByteArray& bytes, const QString& pathForMessages);

    // Keys match without regard to case or repeated blanks; empty when absent.
    bool has(const QString& key) const;
    QString value(const QString& key) const;
    // Keeps an existing key in its place and spelling (the last one if repeated); a new key goes to the end.
    void set(const QString& key, const QString& value);
    void remove(const QString& key);
    QStringList keys() const; // as written, in order

    QString initString() const;
    QByteArray bytes() const;
    // Replaces the file whole or not at all. Throws belmire::Error.
    void write(const QString& path) const;

private:
    struct Item {
        QString key;   // as written, without the blanks around it
        QString name;  // lower case, blanks collapsed
        QString value; // unquoted
        QString text;  // the item as written, or as made after a change
    };
    int find(const QString& name) const;

    QStringList m_before; // lines before the connection string
    QStringList m_after;  // lines after it
    QString m_lead;       // text before the first item
    QList<Item> m_items;
    QStringList m_separators; // the text after each item
};

// A value as a connection string holds it: quoted where it has to be.
QString oledbQuote(const QString& value);
// A connection string's yes: "True", "Yes" or "1" in any case.
bool oledbTrue(const QString& value);

// Whether the link names a user but keeps no password (Persist Security Info
// not set): then the password is asked when connecting and kept for the
// session only. False for a file that cannot be read.
bool needsPassword(const QString& udlPath);
// The password given for a data-link file in this session; reading the file
// uses it when the file holds none. Safe from any thread.
void setSessionPassword(const QString& udlPath, const QString& password);
std::optional<QString> sessionPassword(const QString& udlPath);

} // namespace db
