#pragma once

#include "db/amount.h"
#include "db/query.h"
#include "shell/operation.h"
#include "target/column.h"
#include "target/target_keys.h"

#include <QByteArray>
#include <QStringList>

namespace shell {
class Run;
}

// Products, their units and bar codes, and the default department.
namespace target {

inline constexpr Column kSpda[] = {
    {"objid"},
    {"spmc"},
    {"ggxh", 10},
    {"gysbh"},
    {"gysmc", 20},
    {"splbbh"},
    {"splbmc"},
    {"zjm"},
    {"bzq"},
    {"chandi"},
    {"dengji"},
    {"pinpai"},
    {"bz"},
    {"jyf"},
    {"pinzhong"},
    {"xgrq", 20},
    {"zt"},
    {"yjspf"},
    {"scspf"},
    {"bjkcf"},
    {"xsfsbh"},
    {"xsfs"},
    {"jgkzfsbh"},
    {"jgkzfs"},
    {"mdbh"},
    {"blbh"},
    {"blmc"},
    {"ghfsbh"},
    {"ghfsmc"},
    {"hqbh"},
    {"hqmc"},
    {"jxtax", 0, Form::Amount},
    {"xxtax", 0, Form::Amount},
    {"lykdl", 0, Form::Amount},
};

inline constexpr Column kSpdw[] = {
    {"objid"},
    {"fid", 0, Form::Integer}, // the first row of a product binds it as the text "0"
    {"dwmc", 6},
    {"sptm"},
    {"ifjbdw"},
    {"dwjl", 0, Form::Amount}, // an integer where the source gives none
    {"jj", 0, Form::Amount},
    {"lsj", 0, Form::Amount},
    {"hyj", 0, Form::Amount},
    {"pfj", 0, Form::Amount},
    {"jj_notax", 0, Form::Amount},
    {"lsj_notax", 0, Form::Amount},
    {"pfj_notax", 0, Form::Amount},
};

// Written by a fixed statement: the default department "01".
inline constexpr Column kRyblda[] = {
    {"objid"},
    {"blmc"},
    {"xgrq"},
};

// The product rows of spda and spdw, the default department of ryblda and the
// duplicate checks on the target; both families write them.
inline const QStringList kInsertSpda = {
    QStringLiteral("insert into spda (objid,spmc,ggxh,Gysbh,Gysmc,splbbh,splbmc,zjm,bzq,chandi,dengji,pinpai,bz,jyf,"
                   "pinzhong,xgrq,zt,yjspf,scspf,"),
    QStringLiteral("bjkcf,xsfsbh,xsfs,jgkzfsbh,jgkzfs,mdbh,blbh,blmc,ghfsbh,ghfsmc,hqbh,hqmc,jxtax,xxtax,lykdl ) "
                   "values ("),
    QStringLiteral(":objid,:spmc,:ggxh,:Gysbh,:Gysmc,:splbbh,:splbmc,:zjm,:bzq,:chandi,:dengji,:pinpai,:bz,:jyf,"
                   ":pinzhong,:xgrq,:zt,:yjspf,:scspf,"),
    QStringLiteral(":bjkcf,:xsfsbh,:xsfs,:jgkzfsbh,:jgkzfs,:mdbh,:blbh,:blmc,:ghfsbh,:ghfsmc,:hqbh,:hqmc,:jxtax,:xxtax,"
                   ":lykdl)"),
};

inline const QStringList kInsertSpdw = {
    QStringLiteral("insert into spdw (objid,fid,dwmc,sptm,ifjbdw,dwjl,jj,lsj,hyj,pfj,jj_notax,lsj_notax,pfj_notax "),
    QStringLiteral(" ) values ("),
    QStringLiteral(" :objid,:fid,:dwmc,:sptm,:ifjbdw,:dwjl,:jj,:lsj,:hyj,:pfj,:jj_notax,:lsj_notax,:pfj_notax )"),
};

inline const QStringList kFindBarCode = {QStringLiteral("select objid from spdw  where sptm =:sptm ")};
inline const QStringList kFindProductCode = {QStringLiteral("select objid from spda  where objid=:objid ")};

// One spda row; texts are GBK bytes, cut to the column widths when bound.
struct ProductRow {
    QByteArray objid, spmc, ggxh, gysbh, gysmc, splbbh, splbmc, zjm, bzq, chandi, dengji, pinpai;
    QByteArray scspf, bjkcf, xsfsbh, xsfs, jgkzfsbh, jgkzfs, ghfsbh, ghfsmc, hqbh, hqmc;
    db::Amount jxtax, xxtax, lykdl;
};

// One spdw row of a product. dwjl is bound as the integer 1 when dwjlInteger is set.
struct UnitRow {
    QByteArray dwmc, sptm, ifjbdw;
    db::Amount dwjl = db::Amount::fromRaw(10000);
    bool dwjlInteger = false;
    db::Amount jj, lsj, hyj, pfj;
};

// The log-pane notices, GBK bytes; the code follows directly.
const QByteArray& noticeProductCode();        // 商品编号重复：
const QByteArray& noticeBarCode();            // 商品条码重复：
const QByteArray& noticeBarCodeIsProduct();   // 商品编号与条码重复：
const QByteArray& noticeScaleCode();          // 商品称码重复：
const QByteArray& noticeScaleCodeIsProduct(); // 商品编号与称码重复：

// The target tables a product conversion writes and reads: ryblda, spda, spdw.
QList<shell::TableUse> productTargetUses();

// Writes the products of one run. Constructing it resets ryblda to its default
// department (with the run's current stamp) and prepares the statements; the
// spda rows carry the stamp current when writeProduct is called. The checks see
// every row written before them, rows of this run included: from the codes of
// spda and spdw read once and kept current, or on SQL Server by a query per
// batch of rows read ahead.
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

    void writeProduct(const ProductRow& p);
    void writeUnit(const QByteArray& objid, const QByteArray& fid, const UnitRow& u); // fid bound as text
    void writeUnit(const QByteArray& objid, qint64 fid, const UnitRow& u);            // fid bound as integer

private:
    static shell::Run& resetDepartments(shell::Run& run);
    void bindUnit(const QByteArray& objid, const UnitRow& u);
    void unitWritten(const QByteArray& sptm);

    shell::Run& m_run;
    const bool m_inMemory;
    KeyWindow m_barCodeWindow; // where the server's collation decides
    KeyWindow m_productCodeWindow;
    db::Query& m_spda;
    db::Query& m_spdw;
    TargetKeys m_barCodes;     // spdw.sptm
    TargetKeys m_productCodes; // spda.objid
};

} // namespace target
