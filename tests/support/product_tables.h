#pragma once

// The product tables as the product tests read them back.
#include "db/amount.h"
#include "support/testdb.h"

namespace testing_support {

inline const QString kSpda = QStringLiteral(
    "select objid,spmc,ggxh,gysbh,gysmc,splbbh,splbmc,zjm,bzq,chandi,dengji,pinpai,bz,jyf,pinzhong,xgrq,zt,yjspf,"
    "scspf,bjkcf,xsfsbh,xsfs,jgkzfsbh,jgkzfs,mdbh,blbh,blmc,ghfsbh,ghfsmc,hqbh,hqmc,jxtax,xxtax,lykdl from spda "
    "order by objid");
inline const QString kSpdw = QStringLiteral(
    "select objid,fid,dwmc,sptm,ifjbdw,dwjl,jj,lsj,hyj,pfj,jj_notax,lsj_notax,pfj_notax from spdw order by objid,fid");

inline QString row(std::initializer_list<QString> fields) { return QStringList(fields).join(u'|'); }

// Rows with the amount columns from..to written as "12.5000" whatever the database prints.
inline QStringList rows(TestDb& db, const QString& sql, int from, int to)
{
    QStringList out;
    for (const QString& r : db.rows(sql)) {
        QStringList f = r.split(u'|');
        for (int i = from; i <= to && i < f.size(); ++i)
            if (const auto a = db::Amount::parse(f[i]))
                f[i] = a->toString();
        out << f.join(u'|');
    }
    return out;
}

} // namespace testing_support
