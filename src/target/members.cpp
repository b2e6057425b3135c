#include "target/members.h"

#include "shell/runframe.h"
#include "textutil/gbk.h"
#include "textutil/plib.h"
#include "textutil/scramble.h"

namespace target {

QByteArray cardNumber(const QByteArray& field) { return gbk::cut(gbk::trim(field), 13); }

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
    const QByteArray bound = gbk::cut(objid, 13);
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
    insert.bindText(QStringLiteral("objid"), row.objid, cutOf(kHyda, "objid"));
    insert.bindText(QStringLiteral("czf"), row.czf);
    insert.bindAmount(QStringLiteral("czye"), row.czye);
    insert.bindText(QStringLiteral("czjxm"), textutil::ScrambleBalance(row.objid, row.czye.raw()));
    insert.bindText(QStringLiteral("lbbh"), "01");
    insert.bindText(QStringLiteral("lbmc"), gbk::fromUnicode(QStringLiteral("会员卡")));
    insert.bindText(QStringLiteral("jyf"), textutil::ChooseValue<QByteArray>(isNormal, "0", "1"));
    insert.bindText(QStringLiteral("bz"), isNormal ? QByteArray() : row.zt, cutOf(kHyda, "bz"));
    insert.bindText(QStringLiteral("xgrq"), stamp);
    insert.bindText(QStringLiteral("jiezhi"), row.jiezhi);
    insert.bindText(QStringLiteral("zhongzhirq"), "2010-12-31");
    insert.bindText(QStringLiteral("sskhf"), row.sskhf);
    insert.bindText(QStringLiteral("xingming"), row.xingming, cutOf(kHyda, "xingming"));
    insert.bindText(QStringLiteral("xingbie"), row.xingbie, cutOf(kHyda, "xingbie"));
    insert.bindText(QStringLiteral("dizhi"), row.dizhi, cutOf(kHyda, "dizhi"));
    insert.bindText(QStringLiteral("shenfenzheng"), row.shenfenzheng, cutOf(kHyda, "shenfenzheng"));
    insert.bindText(QStringLiteral("dianhua"), row.dianhua, cutOf(kHyda, "dianhua"));
    insert.bindText(QStringLiteral("shengri"), row.shengri);
    insert.bindText(QStringLiteral("jifenf"), row.jifenf);
    insert.bindAmount(QStringLiteral("ljxfje"), row.ljxfje);
    insert.bindAmount(QStringLiteral("ljjf"), row.ljjf);
    insert.bindAmount(QStringLiteral("jfye"), row.jfye);
    insert.bindText(QStringLiteral("huiyuanf"), row.huiyuanf);
    insert.bindText(QStringLiteral("dazhef"), row.dazhef);
    if (const double* rate = std::get_if<double>(&row.dazhezk))
        insert.bindNumber(QStringLiteral("dazhezk"), *rate);
    else
        insert.bindInteger(QStringLiteral("dazhezk"), std::get<qint64>(row.dazhezk));
    insert.exec();
}

} // namespace target
