-- Belmire V6/V7 source tables, as far as the converters read them (PostgreSQL).
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
    buytaxrate  NUMERIC(18,4),
    saletaxrate NUMERIC(18,4),
    hjtm        TEXT,
    jkc         TEXT,
    gysbh       TEXT,
    lykd        NUMERIC(18,4),
    fs          TEXT,
    jhjj        NUMERIC(18,4),
    hqbh        TEXT,
    lsj         NUMERIC(18,4),
    hyj         NUMERIC(18,4),
    pfj         NUMERIC(18,4),
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
    yesl    NUMERIC(18,4)
);

-- Member cards.
CREATE TABLE hyda (
    kbh     TEXT,
    czye    NUMERIC(18,4),
    czk     TEXT,
    zt      TEXT,
    klx     TEXT,
    skf     TEXT,
    xm      TEXT,
    dzh     TEXT,
    sfz     TEXT,
    dh      TEXT,
    jfk     TEXT,
    jfjelj  NUMERIC(18,4),
    jffslj  NUMERIC(18,4),
    jffsye  NUMERIC(18,4),
    hyk     TEXT,
    dzk     TEXT,
    dzbl    DOUBLE PRECISION
);
