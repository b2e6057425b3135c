#include "db/query.h"

#include "db/engine_query.h"

#include "textutil/error.h"
#include "textutil/gbk.h"

#include <QDateTime>
#include <QLocale>

#include <cstdint>

namespace db {

QByteArray variantText(const QVariant& value)
{
    if (value.isNull() || !value.isValid())
        return {};
    switch (value.typeId()) {
    case QMetaType::QByteArray:
        return value.toByteArray();
    case QMetaType::Double:
    case QMetaType::Float:
        return QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest).toLatin1();
    case QMetaType::QDateTime:
        return value.toDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")).toLatin1();
    case QMetaType::QDate:
        return value.toDate().toString(QStringLiteral("yyyy-MM-dd")).toLatin1();
    case QMetaType::Bool:
        return value.toBool() ? QByteArrayLiteral("True") : QByteArrayLiteral("False");
    default:
        return gbk::fromUnicode(value.toString());
    }
}

qint64 variantInteger(const QVariant& value)
{
    if (value.isNull() || !value.isValid())
        return 0;
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::Bool:
        return value.toLongLong();
    default:
        break;
    }
    const QString text = value.toString().trimmed();
    bool ok = false;
    const qint64 v = text.toLongLong(&ok);
    if (ok)
        return v;
    // Decimal values with a zero fraction ("2.0", numeric 2.0000) are integers too.
    if (const auto a = Amount::parse(text); a && a->raw() % 10000 == 0)
        return a->raw() / 10000;
    throw belmire::Error(QStringLiteral("'%1' is not a valid integer value").arg(value.toString()));
}

bool variantTruth(const QVariant& value)
{
    if (value.isNull() || !value.isValid())
        return false;
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    const QString text = value.toString().trimmed().toLower();
    if (text == u"true" || text == u"t" || text == u"yes" || text == u"y")
        return true;
    if (text == u"false" || text == u"f" || text == u"no" || text == u"n" || text.isEmpty())
        return false;
    bool ok = false;
    const double d = text.toDouble(&ok);
    if (ok)
        return d != 0;
    throw belmire::Error(QStringLiteral("'%1' is not a valid boolean value").arg(value.toString()));
}

QDate variantDate(const QVariant& value)
{
    if (value.isNull() || !value.isValid())
        return {};
    if (value.typeId() == QMetaType::QDate)
        return value.toDate();
    if (value.typeId() == QMetaType::QDateTime)
        return value.toDateTime().date();
    const QString text = value.toString().trimmed();
    if (text.isEmpty())
        return {};
    QDate d = QDate::fromString(text.left(10), Qt::ISODate);
    if (!d.isValid())
        d = QDateTime::fromString(text, Qt::ISODate).date();
    if (!d.isValid())
        throw belmire::Error(QStringLiteral("'%1' is not a valid date").arg(text));
    return d;
}

const QStringList& Query::fields() const
{
    if (!m_fieldsRead && m_open) {
        m_fields = m_engine ? m_engine->fieldNames() : QStringList();
        m_fieldsRead = true;
    }
    return m_fields;
}

QStringList Query::fieldNames() const { return fields(); }

int Query::fieldIndex(const QString& name) const
{
    if (const int known = m_fieldIndex.find(name); known != NameIndex::kUnknown)
        return known;
    const QStringList& names = fields();
    int index = -1;
    for (int i = 0; i < names.size(); ++i)
        if (names[i].compare(name, Qt::CaseInsensitive) == 0) {
            index = i;
            break;
        }
    if (m_fieldsRead)
        m_fieldIndex.add(name, index);
    return index;
}

int Query::requiredField(const QString& name) const
{
    const int i = fieldIndex(name);
    if (i < 0)
        throw belmire::Error(QStringLiteral("表 %1：字段 %2 不存在").arg(m_table, name));
    return i;
}

bool Query::hasField(const QString& name) const { return fieldIndex(name) >= 0; }

int Query::fieldCount() const { return int(fields().size()); }

QVariant Query::valueAt(int index) const
{
    if (m_aheadActive)
        return index < int(m_ahead[m_aheadPos].size()) ? m_ahead[m_aheadPos][size_t(index)] : QVariant();
    if (!m_engine)
        return {};
    try {
        return m_engine->value(index);
    } catch (const belmire::Error& e) {
        // A text SQLite holds in bytes that are no UTF-8.
        throw belmire::Error(QStringLiteral("表 %1 字段 %2：%3").arg(m_table, fields().value(index), e.message()));
    }
}

QVariant Query::value(const QString& name) const { return valueAt(requiredField(name)); }

bool Query::isNull(const QString& name) const
{
    const int i = requiredField(name);
    return m_engine && !m_aheadActive ? m_engine->isNull(i) : valueAt(i).isNull();
}

QByteArray Query::text(const QString& name) const
{
    const int i = requiredField(name);
    if (m_aheadActive || !m_engine)
        return variantText(valueAt(i));
    try {
        return m_engine->text(i);
    } catch (const belmire::Error& e) {
        throw belmire::Error(QStringLiteral("表 %1 字段 %2：%3").arg(m_table, name, e.message()));
    }
}

namespace {

// Reads a value in one form; a value that is no such form names its table and
// field. A missing field has already said so in value().
template <typename Convert>
auto readField(const QVariant& v, const QString& table, const QString& name, Convert convert)
{
    try {
        return convert(v);
    } catch (const belmire::Error& e) {
        throw belmire::Error(QStringLiteral("表 %1 字段 %2：%3").arg(table, name, e.message()));
    }
}

} // namespace

qint64 Query::integer(const QString& name) const { return readField(value(name), m_table, name, variantInteger); }

Amount Query::amount(const QString& name) const
{
    const int i = requiredField(name);
    if (m_engine && !m_aheadActive)
        if (const auto a = m_engine->amount(i))
            return *a;
    return readField(valueAt(i), m_table, name, &Amount::fromVariant);
}

double Query::number(const QString& name) const
{
    const QVariant v = value(name);
    if (v.isNull())
        return 0;
    bool ok = false;
    const double d = v.toString().trimmed().toDouble(&ok);
    if (!ok)
        throw belmire::Error(QStringLiteral("表 %1 字段 %2：'%3' 不是有效的数值").arg(m_table, name, v.toString()));
    return d;
}

bool Query::truth(const QString& name) const
{
    const int i = requiredField(name);
    if (m_engine && !m_aheadActive)
        if (const auto t = m_engine->truth(i))
            return *t;
    return readField(valueAt(i), m_table, name, variantTruth);
}

QDate Query::date(const QString& name) const { return readField(value(name), m_table, name, variantDate); }

} // namespace db