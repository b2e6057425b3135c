// What a link asks of SQL Server itself: its version and compatibility level,
// the statement forms they allow, and a table's triggers.
#include "db/odbc_link.h"

#include "db/odbc_statement.h"

#include <QRegularExpression>

namespace db {

void OdbcLink::readServer()
{
    m_major = m_level = 0;
    m_refused = 0;
    if (m_dialect != Dialect::SqlServer)
        return;
    try {
        m_major = m_main.dbmsVersion().section(u'.', 0, 0).toInt();
        // sysdatabases answers on every version (2005 on keeps it as a view).
        odbc::Statement q(m_main);
        q.executeDirect(QStringLiteral("select cmptlevel from master.dbo.sysdatabases where name = db_name()"));
        if (q.next())
            m_level = int(q.value(0).toLongLong());
        while (q.next())
            ;
    } catch (const odbc::Failure&) {
        // Not known: the forms are tried and fall back when refused.
    }
}

bool OdbcLink::accepts(Form form) const
{
    if (m_dialect != Dialect::SqlServer)
        return true;
    if (m_refused & (1u << unsigned(form)))
        return false;
    const auto atLeast = [](int have, int need) { return have == 0 || have >= need; };
    switch (form) {
    case Form::RowValues:
        return atLeast(m_major, 10);
    case Form::Windowed:
    case Form::Apply:
        return atLeast(m_major, 9) && atLeast(m_level, 90);
    case Form::CatalogViews:
        return atLeast(m_major, 9);
    case Form::SelectRows:
    case Form::KeyLists:
        break;
    }
    return true;
}

std::optional<QList<OdbcLink::Trigger>> OdbcLink::triggers(const QString& table)
{
    if (m_dialect != Dialect::SqlServer)
        return QList<Trigger>();
    const QString key = table.toLower();
    if (const auto it = m_triggers.find(key); it != m_triggers.end())
        return it->second;
    static const QRegularExpression name(QStringLiteral("^\\w+$"));
    std::optional<QList<Trigger>> found;
    if (name.match(table).hasMatch()) {
        // sysobjects and OBJECTPROPERTY answer on SQL Server 2000 as on every later server; CLR triggers are 'TA'.
        try {
            odbc::Statement q(reader());
            q.executeDirect(
                QStringLiteral(
                    "select o.name, objectproperty(o.id, 'ExecIsInsertTrigger'), "
                    "objectproperty(o.id, 'ExecIsUpdateTrigger'), objectproperty(o.id, 'ExecIsDeleteTrigger') "
                    "from sysobjects o where o.type in ('TR', 'TA') and o.parent_obj = object_id('%1') and "
                    "objectproperty(o.id, 'ExecIsTriggerDisabled') = 0 order by o.name")
                    .arg(table));
            QList<Trigger> list;
            while (q.next()) {
                Trigger t;
                t.name = q.value(0).toString();
                QStringList events;
                const char* const kinds[] = {"INSERT", "UPDATE", "DELETE"};
                for (int i = 0; i < 3; ++i)
                    if (q.value(i + 1).toInt() == 1)
                        events << QLatin1String(kinds[i]);
                t.onInsert = q.value(1).toInt() == 1;
                t.events = events.join(QStringLiteral(", "));
                list << t;
            }
            q.closeCursor();
            found = list;
        } catch (const odbc::Failure&) {
        }
    }
    m_triggers.emplace(key, found);
    return found;
}

bool OdbcLink::oneRowPerInsert(const QString& table)
{
    const auto list = triggers(table);
    if (!list)
        return true;
    for (const Trigger& t : *list)
        if (t.onInsert)
            return true;
    return false;
}

} // namespace db
