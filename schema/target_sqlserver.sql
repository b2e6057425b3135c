-- Quorvan V9 target tables that the converters write or read (SQL Server,
-- Transact-SQL). Widths are byte widths of the GBK text the converters cut
-- to: create the database with a Chinese collation (Chinese_PRC_CI_AS), whose
-- VARCHAR(n) holds n bytes of code page 936, the same bytes.
-- Every column that is not part of a key has a default, because some
-- statements fill rows in stages (mdspkc) or leave columns out (gysda.ghfw).
-- Statements end with a semicolon at the end of a line and nothing follows
-- on that line, so the file can be split into statements without a parser.

-- Warehouses.
CREATE TABLE ckda (
    objid       VARCHAR(15) NOT NULL,
    ckmc        VARCHAR(20) DEFAULT '',
    xgrq        VARCHAR(20) DEFAULT '',
    jyf         VARCHAR(1)  DEFAULT '',
    zt          VARCHAR(1)  DEFAULT '',
    ownermdbh   VARCHAR(15) DEFAULT '',
    ownermdmc   VARCHAR(20) DEFAULT '',
    PRIMARY KEY (objid)
);

-- Goods areas.
CREATE TABLE hqda (
    objid       VARCHAR(15) NOT NULL,
    hqmc        VARCHAR(20) DEFAULT '',
    xgrq        VARCHAR(20) DEFAULT '',
    PRIMARY KEY (objid)
);

-- Product categories; fbbh is the parent code, empty at the top level.
CREATE TABLE splbda (
    objid       VARCHAR(20) NOT NULL,
    splbmc      VARCHAR(40) DEFAULT '',
    fbbh        VARCHAR(20) DEFAULT '',
    xgrq        VARCHAR(20) DEFAULT '',
    PRIMARY KEY (objid)
);

-- Settings: one value per key. The category conversions update "01splbjc".
CREATE TABLE xx (
    objid       VARCHAR(20) NOT NULL,
    fvalue      VARCHAR(50) DEFAULT '',
    PRIMARY KEY (objid)
);

-- Suppliers.
CREATE TABLE gysda (
    objid       VARCHAR(15) NOT NULL,
    gysmc       VARCHAR(20) DEFAULT '',
    gyslbbh     VARCHAR(15) DEFAULT '',
    gyslbmc     VARCHAR(20) DEFAULT '',
    xsfsbh      VARCHAR(2)  DEFAULT '',
    xsfs        VARCHAR(20) DEFAULT '',
    jyf         VARCHAR(1)  DEFAULT '',
    xgrq        VARCHAR(20) DEFAULT '',
    zt          VARCHAR(1)  DEFAULT '',
    chuanzhen   VARCHAR(20) DEFAULT '',
    dianhua     VARCHAR(20) DEFAULT '',
    dizhi       VARCHAR(50) DEFAULT '',
    faren       VARCHAR(10) DEFAULT '',
    khh         VARCHAR(20) DEFAULT '',
    shuihao     VARCHAR(20) DEFAULT '',
    zhanghao    VARCHAR(20) DEFAULT '',
    lxr         VARCHAR(10) DEFAULT '',
    youbian     VARCHAR(10) DEFAULT '',
    bz          VARCHAR(20) DEFAULT '',
    sxksrq      VARCHAR(20) DEFAULT '',
    sxjsrq      VARCHAR(20) DEFAULT '',
    ghfw        VARCHAR(50) DEFAULT '',
    PRIMARY KEY (objid)
);

-- Supplier categories; fbbh is the parent code, empty at the top level.
CREATE TABLE gyslbda (
    objid       VARCHAR(20) NOT NULL,
    gyslbmc     VARCHAR(40) DEFAULT '',
    fbbh        VARCHAR(20) DEFAULT '',
    xgrq        VARCHAR(20) DEFAULT '',
    PRIMARY KEY (objid)
);

-- Products.
CREATE TABLE spda (
    objid       VARCHAR(20)  NOT NULL,
    spmc        VARCHAR(80)  DEFAULT '',
    ggxh        VARCHAR(10)  DEFAULT '',
    gysbh       VARCHAR(20)  DEFAULT '',
    gysmc       VARCHAR(20)  DEFAULT '',
    splbbh      VARCHAR(20)  DEFAULT '',
    splbmc      VARCHAR(40)  DEFAULT '',
    zjm         VARCHAR(255) DEFAULT '',
    bzq         VARCHAR(20)  DEFAULT '',
    chandi      VARCHAR(40)  DEFAULT '',
    dengji      VARCHAR(20)  DEFAULT '',
    pinpai      VARCHAR(40)  DEFAULT '',
    bz          VARCHAR(50)  DEFAULT '',
    jyf         VARCHAR(1)   DEFAULT '',
    pinzhong    VARCHAR(20)  DEFAULT '',
    xgrq        VARCHAR(20)  DEFAULT '',
    zt          VARCHAR(1)   DEFAULT '',
    yjspf       VARCHAR(1)   DEFAULT '',
    scspf       VARCHAR(1)   DEFAULT '',
    bjkcf       VARCHAR(1)   DEFAULT '',
    xsfsbh      VARCHAR(2)   DEFAULT '',
    xsfs        VARCHAR(20)  DEFAULT '',
    jgkzfsbh    VARCHAR(2)   DEFAULT '',
    jgkzfs      VARCHAR(20)  DEFAULT '',
    mdbh        VARCHAR(15)  DEFAULT '',
    blbh        VARCHAR(15)  DEFAULT '',
    blmc        VARCHAR(20)  DEFAULT '',
    ghfsbh      VARCHAR(2)   DEFAULT '',
    ghfsmc      VARCHAR(20)  DEFAULT '',
    hqbh        VARCHAR(20)  DEFAULT '',
    hqmc        VARCHAR(40)  DEFAULT '',
    jxtax       NUMERIC(18,4) DEFAULT 0,
    xxtax       NUMERIC(18,4) DEFAULT 0,
    lykdl       NUMERIC(18,4) DEFAULT 0,
    PRIMARY KEY (objid)
);

-- Units and bar codes of a product: fid 0 is the first row of the product.
CREATE TABLE spdw (
    objid       VARCHAR(20) NOT NULL,
    fid         INTEGER     NOT NULL,
    dwmc        VARCHAR(6)  DEFAULT '',
    sptm        VARCHAR(30) DEFAULT '',
    ifjbdw      VARCHAR(1)  DEFAULT '',
    dwjl        NUMERIC(18,4) DEFAULT 0,
    jj          NUMERIC(18,4) DEFAULT 0,
    lsj         NUMERIC(18,4) DEFAULT 0,
    hyj         NUMERIC(18,4) DEFAULT 0,
    pfj         NUMERIC(18,4) DEFAULT 0,
    jj_notax    NUMERIC(18,4) DEFAULT 0,
    lsj_notax   NUMERIC(18,4) DEFAULT 0,
    pfj_notax   NUMERIC(18,4) DEFAULT 0,
    PRIMARY KEY (objid, fid)
);

CREATE INDEX spdw_sptm ON spdw (sptm);

-- Departments.
CREATE TABLE ryblda (
    objid       VARCHAR(15) NOT NULL,
    blmc        VARCHAR(20) DEFAULT '',
    xgrq        VARCHAR(20) DEFAULT '',
    PRIMARY KEY (objid)
);

-- Stock per warehouse and product.
CREATE TABLE spckkc (
    ckbh        VARCHAR(15) NOT NULL,
    ckmc        VARCHAR(20) DEFAULT '',
    spbh        VARCHAR(15) NOT NULL,
    spmc        VARCHAR(40) DEFAULT '',
    dwmc        VARCHAR(6)  DEFAULT '',
    yesl        NUMERIC(18,4) DEFAULT 0,
    yecbje      NUMERIC(18,4) DEFAULT 0,
    yesjje      NUMERIC(18,4) DEFAULT 0,
    bz          VARCHAR(50) DEFAULT '',
    qccbje      INTEGER     DEFAULT 0,
    qcsjje      INTEGER     DEFAULT 0,
    qcsl        INTEGER     DEFAULT 0,
    xgrq        VARCHAR(20) DEFAULT '',
    PRIMARY KEY (ckbh, spbh)
);

-- Stock per store and product, summed from spckkc. spmc holds the product
-- name followed by its model or size, so it is as wide as both together.
CREATE TABLE mdspkc (
    mdbh        VARCHAR(15) NOT NULL,
    mdmc        VARCHAR(40) DEFAULT '',
    spbh        VARCHAR(15) NOT NULL,
    spmc        VARCHAR(90) DEFAULT '',
    dwmc        VARCHAR(6)  DEFAULT '',
    yesl        NUMERIC(18,4) DEFAULT 0,
    yecbje      NUMERIC(18,4) DEFAULT 0,
    yesjje      NUMERIC(18,4) DEFAULT 0,
    xgrq        VARCHAR(20) DEFAULT '',
    PRIMARY KEY (mdbh, spbh)
);

-- Stores. The converters only read it, so it comes with the one store that
-- every converted warehouse belongs to.
CREATE TABLE mdda (
    objid       VARCHAR(15) NOT NULL,
    mdmc        VARCHAR(40) DEFAULT '',
    PRIMARY KEY (objid)
);

-- Members.
CREATE TABLE hyda (
    objid        VARCHAR(13) NOT NULL,
    lbbh         VARCHAR(15) DEFAULT '',
    lbmc         VARCHAR(20) DEFAULT '',
    xingming     VARCHAR(10) DEFAULT '',
    xingbie      VARCHAR(2)  DEFAULT '',
    dizhi        VARCHAR(30) DEFAULT '',
    shenfenzheng VARCHAR(18) DEFAULT '',
    dianhua      VARCHAR(15) DEFAULT '',
    shengri      VARCHAR(20) DEFAULT '',
    zhongzhirq   VARCHAR(20) DEFAULT '',
    jifenf       VARCHAR(1)  DEFAULT '',
    huiyuanf     VARCHAR(1)  DEFAULT '',
    jiezhi       VARCHAR(20) DEFAULT '',
    jyf          VARCHAR(1)  DEFAULT '',
    bz           VARCHAR(20) DEFAULT '',
    xgrq         VARCHAR(20) DEFAULT '',
    sskhf        VARCHAR(1)  DEFAULT '',
    czjxm        VARCHAR(64) DEFAULT '',
    czf          VARCHAR(1)  DEFAULT '',
    czye         NUMERIC(18,4) DEFAULT 0,
    ljxfje       NUMERIC(18,4) DEFAULT 0,
    ljjf         NUMERIC(18,4) DEFAULT 0,
    jfye         NUMERIC(18,4) DEFAULT 0,
    dazhef       VARCHAR(1)  DEFAULT '',
    dazhezk      FLOAT DEFAULT 0,
    PRIMARY KEY (objid)
);

-- Member categories.
CREATE TABLE hylbda (
    objid       VARCHAR(15) NOT NULL,
    lbmc        VARCHAR(20) DEFAULT '',
    xgrq        VARCHAR(20) DEFAULT '',
    PRIMARY KEY (objid)
);

INSERT INTO mdda (objid, mdmc) VALUES ('001', N'超市门店');

INSERT INTO xx (objid, fvalue) VALUES ('01splbjc', '');
