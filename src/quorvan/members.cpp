#include "quorvan/members.h"

#include "quorvan/row.h"
#include "shell/runframe.h"
#include "textutil/gbk.h"
#include "textutil/plib.h"
#include "textutil/scramble.h"

#include <memory>

namespace quorvan {
namespace {

// The cards of target hyda for one run, rows of this run included: read once
// and kept current, or on SQL Server asked of the target per batch of rows read ahead.
class MemberCards {
public:
    explicit MemberCards(shell::Run& run);
    bool present(const QByteArray& objid);
    // The card of a hyda row just written (cut as it is bound).
    void written(const QByteArray& objid);
    // Where the server's collation decides (the walk reads rows ahead): the
    // card of a row read ahead, the k-th of its batch.
    void listAhead(const QByteArray& objid, int k);

private:
    shell::TargetKeys m_keys;
};

// Empties hylbda and writes its one category "01" with the run time stamp.
void resetMemberCategories(shell::Run& run)
{
    const QString crlf = QStringLiteral("\r\n");
    run.once({
        QStringLiteral("TRUNCATE TABLE hylbda "),
        QStringLiteral("insert into hylbda (ObjId,lbmc,xgrq") + crlf + QStringLiteral(" ) values (") + crlf +
            QStringLiteral(" '01','会员卡','") + QString::fromLatin1(run.stamp()) + QStringLiteral("' )") + crlf,
    });
}

MemberCards::MemberCards(shell::Run& run) : m_keys(run, QStringLiteral("hyda"), QStringLiteral("objid"), kCheckHyda) {}

bool MemberCards::present(const QByteArray& objid) { return m_keys.contains(objid); }

void MemberCards::written(const QByteArray& objid) { m_keys.add(gbk::cut(objid, cutOf(kHyda, "objid"))); }

void MemberCards::listAhead(const QByteArray& objid, int k)
{
    if (k == 0)
        m_keys.begin();
    m_keys.list(objid);
}

// jyf and bz of the status the rules put into bz, czjxm of card and balance.
void finishMember(Values& v)
{
    static const QByteArray normal = gbk::fromUnicode(QStringLiteral("正常"));
    constexpr std::size_t bz = indexOf(kHyda, "bz");
    const QByteArray* status = std::get_if<QByteArray>(&v[bz]);
    const bool isNormal = status && *status == normal;
    v[indexOf(kHyda, "jyf")] = textutil::ChooseValue<QByteArray>(isNormal, "0", "1");
    if (isNormal)
        v[bz] = QByteArray();
    const QByteArray& card = std::get<QByteArray>(v[indexOf(kHyda, "objid")]);
    const db::Amount balance = std::get<db::Amount>(v[indexOf(kHyda, "czye")]);
    v[indexOf(kHyda, "czjxm")] = textutil::ScrambleBalance(card, balance.raw());
}

} // namespace

shell::Operation members(const QString& sourceTable, std::initializer_list<Rule> list)
{
    const auto rules = std::make_shared<const Rules>(kHydaTable, sourceTable, list);
    shell::Operation op;
    op.id = QStringLiteral("members");
    op.title = QStringLiteral("会员信息转换");
    op.completion = QStringLiteral("档案转换完毕！");
    op.body = [rules](shell::Run& run) {
        const Rules& r = *rules;
        resetMemberCategories(run);
        MemberCards cards(run);
        db::Query& insert = run.target(kInsertHyda);
        run.retakeStamp(); // the xgrq of every member row
        const auto cardOf = [&](const db::Query& row) { return r.code(row); };
        Values values = r.blank(); // a row written sets every column of the rules and finishMember's
        run.walk(
            QStringLiteral("select * from ") + r.sourceTable() + QStringLiteral("  "), true, cardOf,
            [&](const db::Query& row, const QByteArray& card) {
                r.read(row, {card, run.stamp()}, values, Rules::Reading::BeforeCheck);
                if (cards.present(card)) {
                    run.skipRow(QStringLiteral("会员卡号已存在"), {}, shell::Run::SkipProgress::DropCode);
                    return;
                }
                r.read(row, {card, run.stamp()}, values, Rules::Reading::AfterCheck);
                finishMember(values);
                r.insert(insert, values);
                cards.written(card);
            },
            [&](const db::Query& row, int k) { cards.listAhead(cardOf(row), k); });
    };
    op.uses = {shell::sourceUse(sourceTable, rules->fieldList()),
               shell::targetUse(QStringLiteral("hylbda"), QStringLiteral("ObjId,lbmc,xgrq")),
               shell::insertUse(kInsertHyda)};
    op.fields = rules->widthChecked();
    op.reconciliation.rows = {{sourceTable, QString(), rules->key(), QStringLiteral("hyda"), true}};
    return op;
}

} // namespace quorvan
