#include "quorvan/members.h"
#include "convert_v67/conversions.h"
#include "shell/runframe.h"

namespace convert_v67 {

shell::Operation members()
{
    shell::Operation op;
    op.id = QStringLiteral("members");
    op.title = QStringLiteral("会员信息转换");
    op.completion = QStringLiteral("档案转换完毕！");
    op.body = [](shell::Run& run) {
        quorvan::resetMemberCategories(run);
        quorvan::MemberCards cards(run);
        db::Query& insert = run.target(quorvan::kInsertHyda);
        run.retakeStamp(); // the xgrq of every member row
        const auto cardOf = [](const db::Query& row) { return quorvan::cardNumber(row.text(QStringLiteral("kbh"))); };
        run.walk(
            QStringLiteral("select * from hyda  "), true, cardOf,
            [&](const db::Query& row, const QByteArray& card) {
                const db::Amount balance = row.amount(QStringLiteral("czye"));
                if (cards.present(card)) {
                    run.skipRow(QStringLiteral("会员卡号已存在"), {}, shell::Run::SkipProgress::DropCode);
                    return;
                }
                // Fields are read in the order their columns are bound.
                quorvan::MemberRow m;
                m.objid = card;
                m.czf = row.text(QStringLiteral("czk"));
                m.czye = balance;
                m.zt = row.text(QStringLiteral("zt"));
                m.jiezhi = row.text(QStringLiteral("klx"));
                m.sskhf = row.text(QStringLiteral("skf"));
                m.xingming = row.text(QStringLiteral("xm"));
                m.dizhi = row.text(QStringLiteral("dzh"));
                m.shenfenzheng = row.text(QStringLiteral("sfz"));
                m.dianhua = row.text(QStringLiteral("dh"));
                m.jifenf = row.text(QStringLiteral("jfk"));
                m.ljxfje = row.amount(QStringLiteral("jfjelj"));
                m.ljjf = row.amount(QStringLiteral("jffslj"));
                m.jfye = row.amount(QStringLiteral("jffsye"));
                m.huiyuanf = row.text(QStringLiteral("hyk"));
                m.dazhef = row.text(QStringLiteral("dzk"));
                m.dazhezk = row.number(QStringLiteral("dzbl"));
                quorvan::writeMember(insert, m, run.stamp());
                cards.written(m.objid);
            },
            [&](const db::Query& row, int k) { cards.listAhead(cardOf(row), k); });
    };
    op.uses =
        QList<shell::TableUse>{shell::sourceUse(
            QStringLiteral("hyda"), QStringLiteral("kbh,czye,czk,zt,klx,skf,xm,dzh,sfz,dh,jfk,jfjelj,jffslj,jffsye,hyk,"
                                                   "dzk,dzbl"))} +
        quorvan::memberTargetUses();
    op.fields =
        quorvan::fieldsInto(QStringLiteral("hyda"), QStringLiteral("hyda"),
                            QStringLiteral("czk>czf,klx>jiezhi,skf>sskhf,jfk>jifenf,hyk>huiyuanf,dzk>dazhef"), false);
    // A card already in hyda is skipped, a repeated source card included.
    op.reconciliation.rows = {
        {QStringLiteral("hyda"),
         QString(),
         {{QStringLiteral("kbh"), QStringLiteral("objid"), quorvan::cutOf(quorvan::kHyda, "objid")}},
         QStringLiteral("hyda"),
         true}};
    return op;
}

} // namespace convert_v67
