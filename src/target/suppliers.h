#pragma once

#include "db/query.h"
#include "target/column.h"

#include <QStringList>
#include <optional>

// Suppliers and supplier categories.
namespace target {

inline constexpr Column kGysda[] = {
    {"objid", 15}, {"gysmc", 20}, {"gyslbbh", 15}, {"gyslbmc", 20},   {"xsfsbh"},      {"xsfs"},
    {"jyf"},       {"xgrq", 20},  {"zt"},          {"chuanzhen", 20}, {"dianhua", 20}, {"dizhi", 50},
    {"faren", 10}, {"khh", 20},   {"shuihao", 20}, {"zhanghao", 20},  {"lxr", 10},     {"youbian", 10},
    {"bz", 20},    {"sxksrq"},    {"sxjsrq"},      {"ghfw", 50},
};

inline constexpr Column kGyslbda[] = {
    {"objid"},
    {"gyslbmc"},
    {"fbbh"},
    {"xgrq"},
};

// The supplier row of gysda and the supplier category row of gyslbda;
// both families write them.
inline const QStringList kInsertGysda = {
    QStringLiteral("insert into gysda (objid,Gysmc,gyslbbh,gyslbmc, xsfsbh,xsfs,jyf,xgrq,zt,chuanzhen,dianhua,dizhi,"
                   "faren,khh,shuihao,zhanghao,lxr,youbian,bz,sxksrq,sxjsrq"),
    QStringLiteral(") values ("),
    QStringLiteral(":objid,:Gysmc,:gyslbbh,:gyslbmc,:xsfsbh,:xsfs,:jyf,:xgrq,:zt,:chuanzhen,:dianhua,:dizhi,:faren,"
                   ":khh,:shuihao,:zhanghao,:lxr,:youbian,:bz,:sxksrq,:sxjsrq)"),
};

// The same row with the goods scope ghfw, which only the V1 source has.
inline const QStringList kInsertGysdaWithScope = {
    QStringLiteral("insert into gysda (objid,Gysmc,gyslbbh,gyslbmc, xsfsbh,xsfs,jyf,xgrq,zt,chuanzhen,dianhua,dizhi,"
                   "faren,khh,shuihao,zhanghao,lxr,youbian,bz,sxksrq,sxjsrq,ghfw"),
    QStringLiteral(") values ("),
    QStringLiteral(":objid,:Gysmc,:gyslbbh,:gyslbmc,:xsfsbh,:xsfs,:jyf,:xgrq,:zt,:chuanzhen,:dianhua,:dizhi,:faren,"
                   ":khh,:shuihao,:zhanghao,:lxr,:youbian,:bz,:sxksrq,:sxjsrq,:ghfw)"),
};

inline const QStringList kInsertGyslbda = {
    QStringLiteral("insert into gyslbda (objid,gyslbmc,fbbh,xgrq"),
    QStringLiteral(") values ("),
    QStringLiteral(":objid,:gyslbmc,:fbbh,:xgrq)"),
};

// One supplier as read from the source; texts are GBK bytes as the source holds
// them, the code trimmed.
struct Supplier {
    QByteArray code;
    QByteArray name;
    QByteArray categoryCode;
    QByteArray categoryName; // looked up by the category code
    QByteArray saleModeName; // the sale mode of the supplier's first product
    QByteArray fax;
    QByteArray phone;
    QByteArray address;
    QByteArray manager; // empty where the source has none
    QByteArray bank;
    QByteArray taxNumber;
    QByteArray account;
    QByteArray contact;
    QByteArray postcode;
    QByteArray remark;                    // empty where the source has none
    std::optional<QByteArray> goodsScope; // bound only by the statement with ghfw
};

struct SaleMode {
    QByteArray code; // xsfsbh
    QByteArray name; // xsfs
};

// The four sale-mode names map to "0" to "3"; anything else counts as "经销", "0".
SaleMode saleMode(const QByteArray& name);

// Binds and executes one gysda row; today is the "yyyy-MM-dd" of the conversion.
void writeSupplier(db::Query& insert, const Supplier& supplier, const QByteArray& stamp, const QByteArray& today);

void writeSupplierCategory(db::Query& insert, const QByteArray& code, const QByteArray& name, const QByteArray& parent,
                           const QByteArray& stamp);

} // namespace target
