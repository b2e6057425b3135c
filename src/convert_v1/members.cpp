#include "quorvan/members.h"
#include "convert_v1/conversions.h"
#include "shell/runframe.h"
#include "textutil/plib.h"

#include <QDate>

#include <cstdio>

namespace convert_v1 {
namespace {

// A boolean card field as the flag "1" or "0"; NULL is false.
QByteArray flag(const db::Query& row, const QString& field)
{
    return textutil::ChooseValue<QByteArray>(row.truth(field), "1", "0");
}

// "yyyy-MM-dd"; a missing birthday is day 0 of the date system, 1899-12-30.
QByteArray birthday(const db::Query& row)
{
    QDate d = row.date(QStringLiteral("birthday"));
    if (!d.isValid())
        d = QDate(1899, 12, 30);
    if (d.year() < 1 || d.year() > 9999)
        return d.toString(QStringLiteral("yyyy-MM-dd")).toLatin1();
    char text[11];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", d.year(), d.month(), d.day());
    return QByteArray(text, 10);
}

} // namespace

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
        const auto cardOf = [](const db::Query& row) {
            return quorvan::cardNumber(row.text(QStringLiteral("cardid")));
        };
        run.walk(
            QStringLiteral("select * from card  "), true, cardOf,
            [&](const db::Query& row, const QByteArray& card) {
                const db::Amount balance = row.amount(QStringLiteral("cashbala"));
                if (cards.present(card)) {
                    run.skipRow(QStringLiteral("会员卡号已存在"), {}, shell::Run::SkipProgress::DropCode);
                    return;
                }
                // Fields are read in the order their columns are bound.
                quorvan::MemberRow m;
                m.objid = card;
                m.czf = flag(row, QStringLiteral("ifcash"));
                m.czye = balance;
                m.zt = row.text(QStringLiteral("state"));
                m.jiezhi = row.text(QStringLiteral("cardmake"));
                m.sskhf = flag(row, QStringLiteral("ifflash"));
                m.xingming = row.text(QStringLiteral("fname"));
                m.xingbie = row.text(QStringLiteral("sex"));
                m.dizhi = row.text(QStringLiteral("address"));
                m.shenfenzheng = row.text(QStringLiteral("idcard"));
                m.dianhua = row.text(QStringLiteral("tel"));
                m.shengri = birthday(row);
                m.jifenf = flag(row, QStringLiteral("ifcent"));
                m.ljxfje = row.amount(QStringLiteral("moneysum"));
                m.ljjf = row.amount(QStringLiteral("centsum"));
                m.jfye = row.amount(QStringLiteral("centbala"));
                m.huiyuanf = flag(row, QStringLiteral("ifmembercard"));
                m.dazhef = flag(row, QStringLiteral("ifdiscount"));
                m.dazhezk = qint64(0);
                quorvan::writeMember(insert, m, run.stamp());
                cards.written(m.objid);
            },
            [&](const db::Query& row, int k) { cards.listAhead(cardOf(row), k); });
    };
    op.uses =
        QList<shell::TableUse>{shell::sourceUse(
            QStringLiteral("card"), QStringLiteral("cardid,cashbala,ifcash,state,cardmake,ifflash,fname,sex,address,"
                                                   "idcard,tel,birthday,ifcent,moneysum,centsum,centbala,ifmembercard,"
                                                   "ifdiscount"))} +
        quorvan::memberTargetUses();
    op.fields =
        quorvan::fieldsInto(QStringLiteral("card"), QStringLiteral("hyda"), QStringLiteral("cardmake>jiezhi"), false);
    // A card already in hyda is skipped, a repeated source card included.
    op.reconciliation.rows = {
        {QStringLiteral("card"),
         QString(),
         {{QStringLiteral("cardid"), QStringLiteral("objid"), quorvan::cutOf(quorvan::kHyda, "objid")}},
         QStringLiteral("hyda"),
         true}};
    return op;
}

} // namespace convert_v1
