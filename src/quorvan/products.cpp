#include "quorvan/products.h"

#include "quorvan/row.h"
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

void ProductTarget::writeProduct(const ProductRow& p)
{
    m_spda.close();
    Row<kSpdaTable> row;
    row.text<"objid">(p.objid);
    row.text<"spmc">(p.spmc);
    row.text<"ggxh">(p.ggxh);
    row.text<"gysbh">(p.gysbh);
    row.text<"gysmc">(p.gysmc);
    row.text<"splbbh">(p.splbbh);
    row.text<"splbmc">(p.splbmc);
    row.text<"zjm">(p.zjm);
    row.text<"bzq">(p.bzq);
    row.text<"chandi">(p.chandi);
    row.text<"dengji">(p.dengji);
    row.text<"pinpai">(p.pinpai);
    row.text<"xgrq">(m_run.stamp());
    row.text<"scspf">(p.scspf);
    row.text<"bjkcf">(p.bjkcf);
    row.text<"xsfsbh">(p.xsfsbh);
    row.text<"xsfs">(p.xsfs);
    row.text<"jgkzfsbh">(p.jgkzfsbh);
    row.text<"jgkzfs">(p.jgkzfs);
    row.text<"ghfsbh">(p.ghfsbh);
    row.text<"ghfsmc">(p.ghfsmc);
    row.text<"hqbh">(p.hqbh);
    row.text<"hqmc">(p.hqmc);
    row.amount<"jxtax">(p.jxtax);
    row.amount<"xxtax">(p.xxtax);
    row.amount<"lykdl">(p.lykdl);
    row.insert(m_spda);
    m_productCodes.add(p.objid);
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

void ProductTarget::insertUnit(const QByteArray& objid, const std::variant<QByteArray, qint64>& fid, const UnitRow& u)
{
    m_spdw.close();
    Row<kSpdwTable> row;
    row.text<"objid">(objid);
    if (const QByteArray* text = std::get_if<QByteArray>(&fid))
        row.verbatim<"fid">(*text);
    else
        row.integer<"fid">(std::get<qint64>(fid));
    row.text<"dwmc">(u.dwmc);
    row.text<"sptm">(u.sptm);
    row.text<"ifjbdw">(u.ifjbdw);
    if (u.dwjlInteger)
        row.integer<"dwjl">(1);
    else if (u.dwjl)
        row.amount<"dwjl">(*u.dwjl);
    row.amount<"jj">(u.jj);
    row.amount<"lsj">(u.lsj);
    row.amount<"hyj">(u.hyj);
    row.amount<"pfj">(u.pfj);
    row.insert(m_spdw);
    m_barCodes.add(u.sptm);
}

void ProductTarget::writeUnit(const QByteArray& objid, const QByteArray& fid, const UnitRow& u)
{
    insertUnit(objid, fid, u);
}

void ProductTarget::writeUnit(const QByteArray& objid, qint64 fid, const UnitRow& u) { insertUnit(objid, fid, u); }

} // namespace quorvan
