#include "quorvan/members.h"

#include "quorvan/row.h"
#include "shell/runframe.h"
#include "textutil/gbk.h"
#include "textutil/plib.h"
#include "textutil/scramble.h"

namespace quorvan {

QByteArray cardNumber(const QByteArray& field) { return gbk::cut(gbk::trim(field), cutOf(kHyda, "objid")); }

void resetMemberCategories(shell::Run& run)
{
    const QString crlf = QStringLiteral("\r\n");
    run.once({
        QStringLiteral("TRUNCATE TABLE hylbda "),
        QStringLiteral("insert into hylbda (ObjId,lbmc,xgrq") + crlf + QStringLiteral(" ) values (") + crlf +
            QStringLiteral(" '01','会员卡','") + QString::fromLatin1(run.stamp()) + QStringLiteral("' )") + crlf,
    });
}

QList<shell::TableUse> memberTargetUses()
{
    return {shell::targetUse(QStringLiteral("hylbda"), QStringLiteral("ObjId,lbmc,xgrq")),
            shell::insertUse(kInsertHyda)};
}

MemberCards::MemberCards(shell::Run& run)
    : m_inMemory(TargetKeys::usable(run)), m_keys(run, QStringLiteral("hyda"), QStringLiteral("objid")),
      m_window(run, QStringLiteral("hyda"), QStringLiteral("objid"), kCheckHyda, QStringLiteral("objid"))
{
}

bool MemberCards::present(const QByteArray& objid)
{
    return m_inMemory ? m_keys.contains(objid) : m_window.contains(objid);
}

void MemberCards::written(const QByteArray& objid)
{
    const QByteArray bound = gbk::cut(objid, cutOf(kHyda, "objid"));
    if (m_inMemory)
        m_keys.add(bound);
    else
        m_window.add(bound);
}

void MemberCards::listAhead(const QByteArray& objid, int k)
{
    if (k == 0)
        m_window.begin();
    m_window.list(objid);
}

void writeMember(db::Query& insert, const MemberRow& row, const QByteArray& stamp)
{
    static const QByteArray normal = gbk::fromUnicode(QStringLiteral("正常"));
    const bool isNormal = row.zt == normal;
    Row<kHydaTable> r;
    r.text<"objid">(row.objid);
    r.text<"xingming">(row.xingming);
    r.text<"xingbie">(row.xingbie);
    r.text<"dizhi">(row.dizhi);
    r.text<"shenfenzheng">(row.shenfenzheng);
    r.text<"dianhua">(row.dianhua);
    r.text<"shengri">(row.shengri);
    r.text<"jifenf">(row.jifenf);
    r.text<"huiyuanf">(row.huiyuanf);
    r.text<"jiezhi">(row.jiezhi);
    r.text<"jyf">(textutil::ChooseValue<QByteArray>(isNormal, "0", "1"));
    r.text<"bz">(isNormal ? QByteArray() : row.zt);
    r.text<"xgrq">(stamp);
    r.text<"sskhf">(row.sskhf);
    r.text<"czjxm">(textutil::ScrambleBalance(row.objid, row.czye.raw()));
    r.text<"czf">(row.czf);
    r.amount<"czye">(row.czye);
    r.amount<"ljxfje">(row.ljxfje);
    r.amount<"ljjf">(row.ljjf);
    r.amount<"jfye">(row.jfye);
    r.text<"dazhef">(row.dazhef);
    if (const double* rate = std::get_if<double>(&row.dazhezk))
        r.number<"dazhezk">(*rate);
    else
        r.integer<"dazhezk">(std::get<qint64>(row.dazhezk));
    r.insert(insert);
}

} // namespace quorvan
