-- Belmire V1 source tables, as far as the converters read them (PostgreSQL).
-- No keys: a shop database may hold duplicates and the converters cope.
-- Amounts are NUMERIC(18,4), truth values BOOLEAN, dates TIMESTAMP.
-- Statements end with a semicolon at the end of a line.

-- Warehouses.
CREATE TABLE Store (
    StoreId     TEXT,
    Store       TEXT
);

-- Goods areas.
CREATE TABLE Organise (
    OrganiseId  TEXT,
    Organise    TEXT
);

-- Product categories; parent is the parent's code, "-1" at the top.
CREATE TABLE GoodsType (
    GoodsTypeId   TEXT,
    GoodsTypeName TEXT,
    parent        TEXT
);

-- Settings: item names the entry ("GoodsLevel" category level setting).
CREATE TABLE AccountInfo (
    item    TEXT,
    vals2   TEXT
);

-- Products. Unit and the four plain prices belong to the basic unit, packUnit,
-- Conversion and the Pack prices to the package unit.
CREATE TABLE Goods (
    goodsid         TEXT,
    GoodsName       TEXT,
    Model           TEXT,
    GoodsTypeId     TEXT,
    GoodsTypeName   TEXT,
    Available       TEXT,
    ProducingArea   TEXT,
    grade           TEXT,
    Trademark       TEXT,
    StockTaxRate    NUMERIC(18,4),
    SaleTaxRate     NUMERIC(18,4),
    IfWeigh         BOOLEAN,
    IfStore         BOOLEAN,
    SupplierId      TEXT,
    SupplierName    TEXT,
    SaleDisCount    NUMERIC(18,4),
    Salemode        TEXT,
    IfChangePrice   BOOLEAN,
    ProvideType     TEXT,
    OrganiseId      TEXT,
    Organise        TEXT,
    Conversion      NUMERIC(18,4),
    StockPrice      NUMERIC(18,4),
    RetailPrice     NUMERIC(18,4),
    NumberPrice     NUMERIC(18,4),
    TradePrice      NUMERIC(18,4),
    Unit            TEXT,
    PackStockPrice  NUMERIC(18,4),
    PackRetailPrice NUMERIC(18,4),
    PackNumberPrice NUMERIC(18,4),
    PackTradePrice  NUMERIC(18,4),
    packUnit        TEXT,
    WeighId         TEXT,
    GoodsBarCode    TEXT
);

-- Bar codes of a product; Type is "基本单位" (basic unit) or "包装单位"
-- (package unit).
CREATE TABLE GoodsBarCode (
    GoodsId      TEXT,
    GoodsBarCode TEXT,
    Type         TEXT
);

-- Stock on hand per warehouse and product, with both names.
CREATE TABLE GoodsStoreBalance (
    StoreId     TEXT,
    GoodsId     TEXT,
    Store       TEXT,
    Goods       TEXT,
    BalanceNum  NUMERIC(18,4)
);

-- Suppliers.
CREATE TABLE Supplier (
    SupplierId      TEXT,
    Supplier        TEXT,
    SupplierTypeid  TEXT,
    Fax             TEXT,
    Phone           TEXT,
    Address         TEXT,
    manager         TEXT,
    Bank            TEXT,
    TaxCode         TEXT,
    Accounts        TEXT,
    Linkman         TEXT,
    Zip             TEXT,
    GoodsScope      TEXT,
    memo1           TEXT
);

-- Supplier categories; parent is the parent's code, "-1" at the top.
CREATE TABLE SupplierType (
    SupplierTypeId  TEXT,
    parent          TEXT,
    SupplierType    TEXT
);

-- Member cards.
CREATE TABLE card (
    cardid       TEXT,
    cashbala     NUMERIC(18,4),
    ifcash       BOOLEAN,
    state        TEXT,
    cardmake     TEXT,
    ifflash      BOOLEAN,
    fname        TEXT,
    sex          TEXT,
    address      TEXT,
    idcard       TEXT,
    tel          TEXT,
    birthday     TIMESTAMP,
    ifcent       BOOLEAN,
    moneysum     NUMERIC(18,4),
    centsum      NUMERIC(18,4),
    centbala     NUMERIC(18,4),
    ifmembercard BOOLEAN,
    ifdiscount   BOOLEAN
);
