#include "quorvan/suppliers.h"

#include "shell/runframe.h"
#include "textutil/gbk.h"

#include <array>
#include <memory>

namespace quorvan {
namespace {

struct SaleMode {
    QByteArray code; // xsfsbh
    QByteArray name; // xsfs
};

SaleMode saleMode(const QByteArray& name)
{
    static const std::array<SaleMode, 4> modes = {
        SaleMode{"0", gbk::fromUnicode(QStringLiteral("经销"))},
        SaleMode{"1", gbk::fromUnicode(QStringLiteral("代销"))},
        SaleMode{"2", gbk::fromUnicode(QStringLiteral("联营"))},
        SaleMode{"3", gbk::fromUnicode(QStringLiteral("租赁"))},
    };
    for (const SaleMode& mode : modes)
        if (mode.name == name)
            return mode;
    return modes[0];
}

} // namespace

QByteArray saleModeCode(const QByteArray& name) { return saleMode(name).code; }

QByteArray saleModeName(const QByteArray& name) { return saleMode(name).name; }

shell::Operation suppliers(Rules suppliers, Rules categories, const std::optional<shell::SettingRow>& levels)
{
    const auto s = std::make_shared<const Rules>(std::move(suppliers));
    const auto c = std::make_shared<const Rules>(std::move(categories));
    std::optional<Asking> levelSetting;
    QByteArray key;
    if (levels) {
        levelSetting.emplace(levels->table, levels->keyColumn, levels->valueColumn);
        key = levels->key.toLatin1();
    }
    shell::Operation op;
    op.id = QStringLiteral("suppliers");
    op.title = QStringLiteral("供应商转换");
    op.completion = QStringLiteral("档案转换完毕！");
    op.body = [s, c, levelSetting, key](shell::Run& run) {
        walkRows(run, *s, QStringLiteral(" "));
        run.target(c->insertLines());
        run.retakeStamp();
        const QByteArray levels = c->readsLevels() && levelSetting ? levelSetting->answer(run, key) : QByteArray();
        walkRows(run, *c, QStringLiteral("  "), levels);
    };
    op.uses = sourceUsesOf({s.get(), c.get()});
    if (levels) {
        op.uses << shell::sourceUse(levels->table, levels->valueColumn + u',' + levels->keyColumn);
        op.settings = {*levels};
    }
    op.uses << shell::insertUse(s->insertLines()) << shell::insertUse(c->insertLines());
    op.fields = s->widthChecked() + c->widthChecked();
    op.reconciliation.rows = {{s->sourceTable(), QString(), s->key(), QStringLiteral("gysda")},
                              {c->sourceTable(), QString(), c->key(), QStringLiteral("gyslbda")}};
    return op;
}

} // namespace quorvan
