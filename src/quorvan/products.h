#pragma once

#include "db/query.h"
#include "quorvan/column.h"
#include "quorvan/rules.h"
#include "shell/keyed_access.h"
#include "shell/operation.h"

#include <QByteArray>
#include <QStringList>

namespace shell {
class Run;
}

// Products, their units and bar codes, and the default department.
namespace quorvan {

inline constexpr Column kSpda[] = {
    text("objid", 20).inKey(),
    text("spmc", 80),
    text("ggxh", 10).keepWidth(),
    text("gysbh", 20).spelled("Gysbh"),
    text("gysmc", 20).keepWidth().spelled("Gysmc"),
    text("splbbh", 20),
    text("splbmc", 40),
    text("zjm", 255),
    text("bzq", 20),
    text("chandi", 40),
    text("dengji", 20),
    text("pinpai", 40),
    text("bz", 50),
    text("jyf", 1).byDefault("0"),
    text("pinzhong", 20),
    text("xgrq", 20).keepWidth(),
    text("zt", 1).byDefault("0"),
    text("yjspf", 1).byDefault("0"),
    text("scspf", 1),
    text("bjkcf", 1),
    text("xsfsbh", 2),
    text("xsfs", 20),
    text("jgkzfsbh", 2),
    text("jgkzfs", 20),
    text("mdbh", 15),
    text("blbh", 15).byDefault("01"), // the default department, which ryblda holds
    text("blmc", 20).byDefault("无部类"),
    text("ghfsbh", 2),
    text("ghfsmc", 20),
    text("hqbh", 20),
    text("hqmc", 40),
    amount("jxtax"),
    amount("xxtax"),
    amount("lykdl"),
};
inline constexpr Table kSpdaTable = describe("spda", kSpda, Layout::Broken, "bjkcf");

inline constexpr Column kSpdw[] = {
    text("objid", 20).inKey(),
    integer("fid").inKey(), // the first row of a product binds it as the text "0"
    text("dwmc", 6).keepWidth(),
    text("sptm", 30),
    text("ifjbdw", 1),
    amount("dwjl").byDefault("1"), // one base unit where a row gives no other; some bind the integer 1
    amount("jj"),
    amount("lsj"),
    amount("hyj"),
    amount("pfj"),
    amount("jj_notax"),
    amount("lsj_notax"),
    amount("pfj_notax"),
};
inline constexpr Table kSpdwTable = describe("spdw", kSpdw, Layout::Spaced);

// Written by a fixed statement: the default department "01".
inline constexpr Column kRyblda[] = {
    text("objid", 15).inKey(),
    text("blmc", 20),
    text("xgrq", 20),
};
inline constexpr Table kRybldaTable = describe("ryblda", kRyblda);

// The product rows of spda and spdw, the default department of ryblda and the
// duplicate checks on the target; both families write them.
inline const QStringList kInsertSpda = insertLines(kSpdaTable);
inline const QStringList kInsertSpdw = insertLines(kSpdwTable);

inline const QStringList kFindBarCode = {QStringLiteral("select objid from spdw  where sptm =:sptm ")};
inline const QStringList kFindProductCode = {QStringLiteral("select objid from spda  where objid=:objid ")};

// The log-pane notices, GBK bytes; the code follows directly.
const QByteArray& noticeProductCode();        // 商品编号重复：
const QByteArray& noticeBarCode();            // 商品条码重复：
const QByteArray& noticeBarCodeIsProduct();   // 商品编号与条码重复：
const QByteArray& noticeScaleCode();          // 商品称码重复：
const QByteArray& noticeScaleCodeIsProduct(); // 商品编号与称码重复：

// The target tables a product conversion writes and reads: ryblda, spda, spdw.
QList<shell::TableUse> productTargetUses();

// Writes the products of one run. Constructing it resets ryblda to its default
// department (with the run's current stamp) and prepares the statements. The
// checks see every row written before them, rows of this run included: from
// the codes of spda and spdw read once and kept current, or on SQL Server by a
// query per batch of rows read ahead.
class ProductTarget {
public:
    explicit ProductTarget(shell::Run& run);

    bool barCodeTaken(const QByteArray& code);     // some spdw row has this sptm
    bool productCodeTaken(const QByteArray& code); // some spda row has this objid

    // Where the server's collation decides (the walk reads rows ahead): the
    // codes of the rows read ahead, each a product code or bar code that one of
    // them checks or writes, as it is bound. aheadRow(k) tells a row from a new batch at k == 0.
    void aheadRow(int k);
    void listCode(const QByteArray& code);

    // Logs inUnits + code when the code is in spdw, then asProduct + code when
    // it is a product code.
    void checkCode(const QByteArray& code, const QByteArray& inUnits, const QByteArray& asProduct);

    // A row of values by rules of spda or spdw.
    void writeProduct(const Rules& rules, const Values& values);
    void writeUnit(const Rules& rules, const Values& values);

private:
    static shell::Run& resetDepartments(shell::Run& run);

    shell::Run& m_run;
    shell::TargetKeys m_barCodes;     // spdw.sptm
    shell::TargetKeys m_productCodes; // spda.objid
    db::Query& m_spda;
    db::Query& m_spdw;
};

} // namespace quorvan
