#include "target/products.h"

#include "shell/runframe.h"
#include "textutil/gbk.h"

namespace target {
namespace {

const QByteArray& departmentName()
{
    static const QByteArray name = gbk::fromUnicode(QStringLiteral("无部类"));
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
    : m_run(resetDepartments(run)), m_inMemory(TargetKeys::usable(run)),
      m_barCodeWindow(run, QStringLiteral("spdw"), QStringLiteral("sptm"), kFindBarCode, QStringLiteral("sptm")),
      m_productCodeWindow(run, QStringLiteral("spda"), QStringLiteral("objid"), kFindProductCode,
                          QStringLiteral("objid")),
      m_spda(run.target(kInsertSpda)), m_spdw(run.target(kInsertSpdw)),
      m_barCodes(run, QStringLiteral("spdw"), QStringLiteral("sptm")),
      m_productCodes(run, QStringLiteral("spda"), QStringLiteral("objid"))
{
}

bool ProductTarget::barCodeTaken(const QByteArray& code)
{
    return m_inMemory ? m_barCodes.contains(code) : m_barCodeWindow.contains(code);
}

bool ProductTarget::productCodeTaken(const QByteArray& code)
{
    return m_inMemory ? m_productCodes.contains(code) : m_productCodeWindow.contains(code);
}

void ProductTarget::aheadRow(int k)
{
    if (k == 0) {
        m_barCodeWindow.begin();
        m_productCodeWindow.begin();
    }
}

// Both columns: a bar code is also checked against the product codes.
void ProductTarget::listCode(const QByteArray& code)
{
    m_barCodeWindow.list(code);
    m_productCodeWindow.list(code);
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
    db::Query& q = m_spda;
    q.close();
    q.bindText(QStringLiteral("objid"), p.objid);
    q.bindText(QStringLiteral("spmc"), p.spmc);
    q.bindText(QStringLiteral("ggxh"), p.ggxh, cutOf(kSpda, "ggxh"));
    q.bindText(QStringLiteral("Gysbh"), p.gysbh);
    q.bindText(QStringLiteral("Gysmc"), p.gysmc, cutOf(kSpda, "gysmc"));
    q.bindText(QStringLiteral("splbbh"), p.splbbh);
    q.bindText(QStringLiteral("splbmc"), p.splbmc);
    q.bindText(QStringLiteral("zjm"), p.zjm);
    q.bindText(QStringLiteral("bzq"), p.bzq);
    q.bindText(QStringLiteral("chandi"), p.chandi);
    q.bindText(QStringLiteral("dengji"), p.dengji);
    q.bindText(QStringLiteral("pinpai"), p.pinpai);
    q.bindText(QStringLiteral("bz"), QByteArray());
    q.bindText(QStringLiteral("jyf"), "0");
    q.bindText(QStringLiteral("pinzhong"), QByteArray());
    q.bindText(QStringLiteral("xgrq"), m_run.stamp(), cutOf(kSpda, "xgrq"));
    q.bindText(QStringLiteral("zt"), "0");
    q.bindText(QStringLiteral("yjspf"), "0");
    q.bindText(QStringLiteral("scspf"), p.scspf);
    q.bindText(QStringLiteral("bjkcf"), p.bjkcf);
    q.bindText(QStringLiteral("xsfsbh"), p.xsfsbh);
    q.bindText(QStringLiteral("xsfs"), p.xsfs);
    q.bindText(QStringLiteral("jgkzfsbh"), p.jgkzfsbh);
    q.bindText(QStringLiteral("jgkzfs"), p.jgkzfs);
    q.bindText(QStringLiteral("mdbh"), QByteArray());
    q.bindText(QStringLiteral("blbh"), "01");
    q.bindText(QStringLiteral("blmc"), departmentName());
    q.bindText(QStringLiteral("ghfsbh"), p.ghfsbh);
    q.bindText(QStringLiteral("ghfsmc"), p.ghfsmc);
    q.bindText(QStringLiteral("hqbh"), p.hqbh);
    q.bindText(QStringLiteral("hqmc"), p.hqmc);
    q.bindAmount(QStringLiteral("jxtax"), p.jxtax);
    q.bindAmount(QStringLiteral("xxtax"), p.xxtax);
    q.bindAmount(QStringLiteral("lykdl"), p.lykdl);
    q.exec();
    if (m_inMemory)
        m_productCodes.add(p.objid);
    else
        m_productCodeWindow.add(p.objid);
}

void ProductTarget::unitWritten(const QByteArray& sptm)
{
    if (m_inMemory)
        m_barCodes.add(sptm);
    else
        m_barCodeWindow.add(sptm);
}

void ProductTarget::bindUnit(const QByteArray& objid, const UnitRow& u)
{
    db::Query& q = m_spdw;
    q.bindText(QStringLiteral("objid"), objid);
    q.bindText(QStringLiteral("dwmc"), u.dwmc, cutOf(kSpdw, "dwmc"));
    q.bindText(QStringLiteral("sptm"), u.sptm);
    q.bindText(QStringLiteral("ifjbdw"), u.ifjbdw);
    if (u.dwjlInteger)
        q.bindInteger(QStringLiteral("dwjl"), 1);
    else
        q.bindAmount(QStringLiteral("dwjl"), u.dwjl);
    q.bindAmount(QStringLiteral("jj"), u.jj);
    q.bindAmount(QStringLiteral("lsj"), u.lsj);
    q.bindAmount(QStringLiteral("hyj"), u.hyj);
    q.bindAmount(QStringLiteral("pfj"), u.pfj);
    q.bindAmount(QStringLiteral("jj_notax"), db::Amount());
    q.bindAmount(QStringLiteral("lsj_notax"), db::Amount());
    q.bindAmount(QStringLiteral("pfj_notax"), db::Amount());
}

void ProductTarget::writeUnit(const QByteArray& objid, const QByteArray& fid, const UnitRow& u)
{
    m_spdw.close();
    m_spdw.bindText(QStringLiteral("fid"), fid);
    bindUnit(objid, u);
    m_spdw.exec();
    unitWritten(u.sptm);
}

void ProductTarget::writeUnit(const QByteArray& objid, qint64 fid, const UnitRow& u)
{
    m_spdw.close();
    m_spdw.bindInteger(QStringLiteral("fid"), fid);
    bindUnit(objid, u);
    m_spdw.exec();
    unitWritten(u.sptm);
}

} // namespace target
