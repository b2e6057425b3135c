-- Belmire V6/V7 source tables, as far as the converters read them (SQLite).
-- No keys: a shop database may hold duplicates and the converters cope.
-- Amounts are NUMERIC, flags and codes are text as Belmire stores them.
-- Statements end with a semicolon at the end of a line.

-- Warehouses.
CREATE TABLE ck (
    ckbh    TEXT,
    ckmc    TEXT
);

-- Goods areas.
CREATE TABLE hq (
    hqbh    TEXT,
    hqmc    TEXT
);

-- Product categories; jc is the level, 1 at the top.
CREATE TABLE splb (
    lbbh    TEXT,
    lbmc    TEXT,
    jc      INTEGER
);

-- Settings: xm names the item ("spjc", "gysjc" level settings), vals1 holds it.
CREATE TABLE xx (
    xm      TEXT,
    vals1   TEXT
);

-- Suppliers.
CREATE TABLE gys (
    gysbh   TEXT,
    gysmc   TEXT,
    gyslbbh TEXT,
    cz      TEXT,
    dh      TEXT,
    dz      TEXT,
    khh     TEXT,
    sh      TEXT,
    zh      TEXT,
    lxr     TEXT,
    yb      TEXT
);

-- Supplier categories; jc is the level, 1 at the top.
CREATE TABLE gyslb (
    gyslbbh TEXT,
    gyslbmc TEXT,
    jc      INTEGER
);

-- Products. buytaxrate and saletaxrate exist in V7 only; zhf '0' marks a
-- plain product, hjtm '1' one sold under its in-store code spdnm.
CREATE TABLE spxx (
    Spbh        TEXT,
    Spmc        TEXT,
    ggxh        TEXT,
    lbbh        TEXT,
    cd          TEXT,
    buytaxrate  NUMERIC,
    saletaxrate NUMERIC,
    hjtm        TEXT,
    jkc         TEXT,
    gysbh       TEXT,
    lykd        NUMERIC,
    fs          TEXT,
    jhjj        NUMERIC,
    hqbh        TEXT,
    lsj         NUMERIC,
    hyj         NUMERIC,
    pfj         NUMERIC,
    jldw        TEXT,
    spdnm       TEXT,
    sptm        TEXT,
    sptm1       TEXT,
    sptm2       TEXT,
    zhf         TEXT
);

-- Stock on hand per warehouse and product.
CREATE TABLE spkc (
    ckbh    TEXT,
    spbh    TEXT,
    yesl    NUMERIC
);

-- Member cards.
CREATE TABLE hyda (
    kbh     TEXT,
    czye    NUMERIC,
    czk     TEXT,
    zt      TEXT,
    klx     TEXT,
    skf     TEXT,
    xm      TEXT,
    dzh     TEXT,
    sfz     TEXT,
    dh      TEXT,
    jfk     TEXT,
    jfjelj  NUMERIC,
    jffslj  NUMERIC,
    jffsye  NUMERIC,
    hyk     TEXT,
    dzk     TEXT,
    dzbl    REAL
);
