#include "db/odbc_string.h"

#include "db/datalink.h"
#include "db/datalink_text.h"
#include "db/odbc_connection.h"

namespace db {

bool parseOdbcAttributes(const QString& s, OdbcAttributes* out)
{
    const qsizetype n = s.size();
    qsizetype i = 0;
    while (i < n) {
        while (i < n && (s[i].isSpace() || s[i] == QLatin1Char(';')))
            ++i;
        if (i == n)
            break;
        const qsizetype keyStart = i;
        while (i < n && s[i] != QLatin1Char('=') && s[i] != QLatin1Char(';'))
            ++i;
        if (i == n || s[i] == QLatin1Char(';'))
            return false;
        const QString key = s.mid(keyStart, i - keyStart).trimmed();
        if (key.isEmpty())
            return false;
        ++i;
        QString value;
        if (i < n && s[i] == QLatin1Char('{')) {
            ++i;
            if (udl::readQuoted(s, i, QLatin1Char('}'), &value) != udl::Quoted::Read)
                return false;
        } else {
            const qsizetype valueStart = i;
            while (i < n && s[i] != QLatin1Char(';'))
                ++i;
            value = s.mid(valueStart, i - valueStart);
        }
        out->append({key, value});
    }
    return true;
}

const QPair<QString, QString>* findAttribute(const OdbcAttributes& attrs, QLatin1String key)
{
    for (const auto& a : attrs)
        if (a.first.compare(key, Qt::CaseInsensitive) == 0)
            return &a;
    return nullptr;
}

QStringList installedOdbcDrivers() { return odbc::drivers(); }

QString odbcQuote(const QString& value)
{
    // Only where needed: psqlODBC, for one, takes the braces of a quoted user name as part of the name.
    const bool plain = !value.contains(QLatin1Char(';')) && !value.contains(QLatin1Char('{')) &&
                       !value.contains(QLatin1Char('}')) && value.trimmed() == value;
    if (plain)
        return value;
    QString quoted = value;
    quoted.replace(QLatin1Char('}'), QLatin1String("}}"));
    return QLatin1Char('{') + quoted + QLatin1Char('}');
}

} // namespace db
