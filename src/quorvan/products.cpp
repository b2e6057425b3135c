#include "quorvan/products.h"

#include "shell/runframe.h"
#include "textutil/gbk.h"

namespace quorvan {
namespace {

// The name of the default department, as every product row carries it.
const QByteArray& departmentName()
{
    static const QByteArray name = gbk::fromUnicode(QString::fromUtf8(kSpda[indexOf(kSpda, "blmc")].defaultValue));
    return name;
}

} // namespace

const QByteArray& noticeProductCode()
{
    static const QByteArray t = gbk::fromUnicode(QStringLiteral("商品编号重复："));
    return t;
}

const QByteArray& noticeBarCode()
{
    static const QByteArray t = gbk::fromUnicode(QStringLiteral("商品条码重复："));
    return t;
}

const QByteArray& noticeBarCodeIsProduct()
{
    static const QByteArray t = gbk::fromUnicode(QStringLiteral("商品编号与条码重复："));
    return t;
}

const QByteArray& noticeScaleCode()
{
    static const QByteArray t = gbk::fromUnicode(QStringLiteral("商品称码重复："));
    return t;
}

const QByteArray& noticeScaleCodeIsProduct()
{
    static const QByteArray t = gbk::fromUnicode(QStringLiteral("商品编号与称码重复："));
    return t;
}

QList<shell::TableUse> productTargetUses()
{
    return {shell::targetUse(QStringLiteral("ryblda"), QStringLiteral("ObjId,blmc,xgrq")),
            shell::insertUse(kInsertSpda), shell::insertUse(kInsertSpdw)};
}

shell::Run& ProductTarget::resetDepartments(shell::Run& run)
{
    run.once({QStringLiteral("TRUNCATE TABLE ryblda "),
              QStringLiteral("insert into ryblda (ObjId,blmc,xgrq\r\n ) values (\r\n '01','") +
                  gbk::toUnicode(departmentName()) + QStringLiteral("','") + QString::fromLatin1(run.stamp()) +
                  QStringLiteral("' )\r\n")});
    return run;
}

// The department reset runs first, before the statements of the walk are prepared.
ProductTarget::ProductTarget(shell::Run& run)
    : m_run(resetDepartments(run)), m_barCodes(run, QStringLiteral("spdw"), QStringLiteral("sptm"), kFindBarCode),
      m_productCodes(run, QStringLiteral("spda"), QStringLiteral("objid"), kFindProductCode),
      m_spda(run.target(kInsertSpda)), m_spdw(run.target(kInsertSpdw))
{
}

bool ProductTarget::barCodeTaken(const QByteArray& code) { return m_barCodes.contains(code); }

bool ProductTarget::productCodeTaken(const QByteArray& code) { return m_productCodes.contains(code); }

void ProductTarget::aheadRow(int k)
{
    if (k == 0) {
        m_barCodes.begin();
        m_productCodes.begin();
    }
}

// Both columns: a bar code is also checked against the product codes.
void ProductTarget::listCode(const QByteArray& code)
{
    m_barCodes.list(code);
    m_productCodes.list(code);
}

void ProductTarget::checkCode(const QByteArray& code, const QByteArray& inUnits, const QByteArray& asProduct)
{
    if (barCodeTaken(code))
        m_run.log(inUnits + code);
    if (productCodeTaken(code))
        m_run.log(asProduct + code);
}

void ProductTarget::writeProduct(const Rules& rules, const Values& values)
{
    m_spda.close();
    rules.insert(m_spda, values);
    m_productCodes.add(std::get<QByteArray>(values[indexOf(kSpda, "objid")]));
}

void ProductTarget::writeUnit(const Rules& rules, const Values& values)
{
    m_spdw.close();
    rules.insert(m_spdw, values);
    m_barCodes.add(std::get<QByteArray>(values[indexOf(kSpdw, "sptm")]));
}

} // namespace quorvan
