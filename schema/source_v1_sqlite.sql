-- Belmire V1 source tables, as far as the converters read them (SQLite).
-- No keys: a shop database may hold duplicates and the converters cope.
-- Amounts are NUMERIC, truth values INTEGER 0/1, dates text
-- "yyyy-MM-dd hh:mm:ss" in a DATETIME column.
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
    StockTaxRate    NUMERIC,
    SaleTaxRate     NUMERIC,
    IfWeigh         INTEGER,
    IfStore         INTEGER,
    SupplierId      TEXT,
    SupplierName    TEXT,
    SaleDisCount    NUMERIC,
    Salemode        TEXT,
    IfChangePrice   INTEGER,
    ProvideType     TEXT,
    OrganiseId      TEXT,
    Organise        TEXT,
    Conversion      NUMERIC,
    StockPrice      NUMERIC,
    RetailPrice     NUMERIC,
    NumberPrice     NUMERIC,
    TradePrice      NUMERIC,
    Unit            TEXT,
    PackStockPrice  NUMERIC,
    PackRetailPrice NUMERIC,
    PackNumberPrice NUMERIC,
    PackTradePrice  NUMERIC,
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
    BalanceNum  NUMERIC
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
    cashbala     NUMERIC,
    ifcash       INTEGER,
    state        TEXT,
    cardmake     TEXT,
    ifflash      INTEGER,
    fname        TEXT,
    sex          TEXT,
    address      TEXT,
    idcard       TEXT,
    tel          TEXT,
    birthday     DATETIME,
    ifcent       INTEGER,
    moneysum     NUMERIC,
    centsum      NUMERIC,
    centbala     NUMERIC,
    ifmembercard INTEGER,
    ifdiscount   INTEGER
);
