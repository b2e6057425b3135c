"""Transact-SQL as a given SQL Server version takes it, for tests/tds_responder.py.

Which statement forms a version refuses, and with which error (as Microsoft's
documentation of each version describes the syntax); the transaction count a
session keeps; and Engine, which runs what a session receives on SQLite as
such a server would. Python 3 standard library only.
"""

import datetime
import re
import sqlite3
import zlib

# LOGINACK program versions (major, minor, build) and the newest TDS each speaks.
VERSIONS = {
    "8.0": ((8, 0, 2039), 0x71000001),    # SQL Server 2000 SP4
    "9.0": ((9, 0, 5000), 0x72090002),    # SQL Server 2005 SP4
    "10.50": ((10, 50, 6000), 0x730B0003),  # SQL Server 2008 R2 SP3
    "13.0": ((13, 0, 5026), 0x74000004),  # SQL Server 2016 SP2
    "16.0": ((16, 0, 1000), 0x74000004),  # SQL Server 2022
}

# Built-in functions and the major version that brought them.
FUNCTIONS_SINCE = {"schema_name": 9, "xact_state": 9, "error_number": 9, "error_message": 9, "row_number": 9,
                   "iif": 11, "concat": 11, "try_convert": 11, "try_cast": 11, "format": 11, "choose": 11,
                   "string_agg": 14, "trim": 14, "concat_ws": 14}

_TOKEN = re.compile(r"""
    (?P<space>\s+) | (?P<comment>--[^\n]*|/\*.*?\*/) |
    (?P<string>[Nn]?'(?:[^']|'')*') | (?P<quoted>\[[^\]]*\]|"[^"]*") |
    (?P<number>\d+(?:\.\d*)?(?:[eE][-+]?\d+)?|\.\d+) |
    (?P<word>(?:@@|@|\#\#|\#)?[^\W\d]\w*|@\w+) |
    (?P<op><=|>=|<>|!=|!<|!>|\|\||.)
""", re.VERBOSE | re.DOTALL)


class Token:
    __slots__ = ("kind", "text", "start")

    def __init__(self, kind, text, start):
        self.kind, self.text, self.start = kind, text, start

    @property
    def low(self):
        return self.text.lower()

    def __repr__(self):
        return "%s:%r" % (self.kind, self.text)


def tokenize(text):
    """The tokens of a statement text, blanks and comments left out."""
    out = []
    for m in _TOKEN.finditer(text):
        kind = m.lastgroup
        if kind not in ("space", "comment"):
            out.append(Token(kind, m.group(), m.start()))
    return out


def _is(tokens, i, *words):
    return 0 <= i < len(tokens) and tokens[i].low in words


def _after_group(tokens, i):
    """The index after the parenthesised group that opens at tokens[i]."""
    depth = 0
    for j in range(i, len(tokens)):
        if tokens[j].text == "(":
            depth += 1
        elif tokens[j].text == ")":
            depth -= 1
            if depth == 0:
                return j + 1
    return len(tokens)


def _items(tokens, stop=()):
    """The comma-separated items of a token list at its outermost level, up to
    a word of stop at that level."""
    items, current, depth = [], [], 0
    for t in tokens:
        if t.text == "(":
            depth += 1
        elif t.text == ")":
            depth -= 1
        if depth == 0 and t.low in stop:
            break
        if depth == 0 and t.text == ",":
            items.append(current)
            current = []
            continue
        current.append(t)
    if current:
        items.append(current)
    return items


class SqlError(Exception):
    """A server error: its number, message and severity; ends_transaction if the
    server rolls the transaction back with it."""

    def __init__(self, number, message, severity=16, ends_transaction=False, line=1):
        super().__init__(message)
        self.number, self.message, self.severity = number, message, severity
        self.ends_transaction, self.line = ends_transaction, line


def _line(text, token):
    return text.count("\n", 0, token.start) + 1


def _syntax_error(major, text, token):
    """The error a version gives for an unexpected token: SQL Server 2000 says
    170 "Line n: ..." for a plain word, every version 156 for a reserved keyword."""
    line = _line(text, token)
    if token.low in ("values", "over", "select", "from", "where", "except", "intersect", "with"):
        return SqlError(156, "Incorrect syntax near the keyword '%s'." % token.low, 15, line=line)
    if major < 9:
        return SqlError(170, "Line %d: Incorrect syntax near '%s'." % (line, token.text), 15, line=line)
    return SqlError(102, "Incorrect syntax near '%s'." % token.text, 15, line=line)


def refusal(text, version):
    """The error with which the server of the given version ("8.0", "9.0",
    "10.50", "13.0", "16.0"; None: any form accepted) refuses the batch, or None.

    Table value constructors and INSERT with several VALUES rows came with 2008
    (10.0); APPLY, OVER, TOP (expression), EXCEPT/INTERSECT, common table
    expressions, the sys schema's catalog views and varchar(max) with 2005
    (9.0); built-in functions as FUNCTIONS_SINCE says. A syntax error is found
    when the batch is compiled, before a missing object."""
    if version is None:
        return None
    major = VERSIONS[version][0][0]
    tokens = tokenize(text)
    syntax, unknown_function, missing = None, None, None
    for i, t in enumerate(tokens):
        found = None
        if major < 10 and t.low == "values":
            if _is(tokens, i - 1, "("):
                found = t
            elif _is(tokens, i + 1, "("):
                after = _after_group(tokens, i + 1)
                if _is(tokens, after, ","):
                    found = tokens[after]
        if t.low in FUNCTIONS_SINCE and major < FUNCTIONS_SINCE[t.low] and _is(tokens, i + 1, "(") and \
                not _is(tokens, i - 1, ".") and unknown_function is None:
            unknown_function = SqlError(195, "'%s' is not a recognized %sfunction name." % (
                t.text, "" if major < 9 else "built-in "), 15, line=_line(text, t))
        if major < 9:
            if t.low == "apply" and _is(tokens, i - 1, "cross", "outer"):
                found = t
            elif t.low == "top" and _is(tokens, i + 1, "("):
                found = tokens[i + 1]
            elif t.low in ("except", "intersect") or (t.low == "with" and i == 0):
                found = t
            elif t.low == "over" and _is(tokens, i + 1, "("):
                found = t
            elif t.low == "max" and _is(tokens, i - 1, "(") and _is(tokens, i - 2, "varchar", "nvarchar",
                                                                    "varbinary"):
                found = t
            elif t.low == "sys" and _is(tokens, i + 1, ".") and i + 2 < len(tokens) and missing is None \
                    and not _is(tokens, i - 1, "."):
                missing = SqlError(208, "Invalid object name 'sys.%s'." % tokens[i + 2].text,
                                   16, line=_line(text, t))
        if found is not None and syntax is None:
            syntax = _syntax_error(major, text, found)
    return syntax or unknown_function or missing


def limit_error(text, parameters):
    """The error for a request beyond SQL Server's limits: more than 2,100
    parameters in one RPC (8003); an INSERT with more than 1,000 VALUES rows
    (10738)."""
    if parameters > 2100:
        return SqlError(8003, "The incoming request has too many parameters. The server supports a maximum of "
                        "2100 parameters. Reduce the number of parameters and resend the request.")
    tokens = tokenize(text)
    for i, t in enumerate(tokens):
        if t.low == "values" and not _is(tokens, i - 1, "(") and _is(tokens, i + 1, "("):
            rows, j = 0, i + 1
            while _is(tokens, j, "("):
                rows += 1
                j = _after_group(tokens, j)
                j += 1 if _is(tokens, j, ",") else 0
            if rows > 1000:
                return SqlError(10738, "The number of row value expressions in the INSERT statement exceeds the "
                                "maximum allowed number of 1000 row values.")
    return None


_BEGIN = re.compile(r"begin\s+tran(?:saction)?\b", re.I)
_COMMIT = re.compile(r"commit(?:\s+tran(?:saction)?)?\b", re.I)
_SAVE = re.compile(r"save\s+tran(?:saction)?\s+(\w+)", re.I)
_ROLLBACK = re.compile(r"rollback(?:\s+tran(?:saction)?)?(?:\s+(\w+))?\s*;?\s*$", re.I)
_IF_OPEN = re.compile(r"if\s+@@trancount\s*>\s*0\s+(.*)$", re.I | re.S)
_TRANCOUNT = re.compile(r"select\s+@@trancount\s*;?\s*$", re.I)
_XACT_ABORT = re.compile(r"set\s+xact_abort\s+(on|off)\s*;?\s*$", re.I)

NO_BEGIN_ROLLBACK = "The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION."


class Transactions:
    """A session's transaction count and savepoints, as the server keeps them.

    control() takes one statement: for BEGIN/COMMIT/SAVE/ROLLBACK TRANSACTION
    (also behind "IF @@TRANCOUNT > 0") it returns the engine statements that
    carry it out (a list, maybe empty) or raises the server's error; for any
    other statement it returns None. An error that ends the transaction sets
    the count to 0, so a later rollback to a savepoint gets 3903."""

    def __init__(self, xact_abort=False):
        self.count, self.savepoints, self.xact_abort = 0, [], xact_abort

    def control(self, statement):
        s = statement.strip().rstrip(";").strip()
        m = _IF_OPEN.match(s)
        if m:
            return self.control(m.group(1)) or [] if self.count > 0 else []
        if m := _XACT_ABORT.match(s):
            self.xact_abort = m.group(1).lower() == "on"
            return []
        if _BEGIN.match(s):
            self.count += 1
            return ["BEGIN"] if self.count == 1 else []
        if _COMMIT.match(s):
            if self.count == 0:
                raise SqlError(3902, "The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION.")
            self.count -= 1
            if self.count == 0:
                self.savepoints = []
                return ["COMMIT"]
            return []
        if m := _SAVE.match(s):
            if self.count == 0:
                raise SqlError(628, "Cannot issue SAVE TRANSACTION when there is no active transaction.")
            self.savepoints.append(m.group(1).lower())
            return ["SAVEPOINT " + m.group(1)]
        if m := _ROLLBACK.match(s):
            if self.count == 0:
                raise SqlError(3903, NO_BEGIN_ROLLBACK)
            name = m.group(1)
            if name and name.lower() not in ("transaction", "tran"):
                if name.lower() not in self.savepoints:
                    raise SqlError(6401, "Cannot roll back %s. No transaction or savepoint of that name was "
                                   "found." % name)
                return ["ROLLBACK TO SAVEPOINT " + name]
            self.end()
            return ["ROLLBACK"]
        return None

    def failed(self, error):
        """Takes note of an error: true if it ended the transaction."""
        ends = error.ends_transaction or (self.xact_abort and error.severity == 16)
        if ends and self.count > 0:
            self.end()
            return True
        return False

    def end(self):
        self.count, self.savepoints = 0, []

    @staticmethod
    def asks_count(statement):
        return bool(_TRANCOUNT.match(statement.strip()))


# ---------------------------------------------------------------------------
# Running what a session receives on SQLite, answering as SQL Server would.


DEFAULT_COLLATION = "Chinese_PRC_CI_AS"
VARIANT_FUNCTIONS = ("serverproperty", "collationproperty", "databasepropertyex", "sql_variant_property")
STARTERS = {"select", "insert", "update", "delete", "truncate", "create", "drop", "alter", "begin", "commit",
            "rollback", "save", "set", "declare", "exec", "execute", "if", "print", "use"}
CATALOG = ("sys_columns", "sys_objects", "sys_tables", "sys_triggers", "sys_databases", "syscolumns", "sysobjects",
           "sysdatabases", "information_schema_columns", "information_schema_tables")


def collation_key(name):
    """The sort key of a collation: *_CI_* folds case, every SQL Server
    comparison of texts ignores trailing blanks, Chinese_PRC sorts by GBK bytes
    (pinyin order for the common characters), _BIN by code points."""
    insensitive = "_ci" in name.lower()

    def key(text):
        text = text.rstrip(" ")
        if insensitive:
            # width-insensitive too (CI_AS is kana- and width-insensitive): full-width ASCII as ASCII
            text = "".join(chr(ord(c) - 0xFEE0) if 0xFF01 <= ord(c) <= 0xFF5E else c for c in text).lower()
        return text.encode("gbk", "replace") if name.lower().startswith("chinese") else text
    return key


def gbk_len(value):
    if value is None:
        return None
    return len(str(value).encode("gbk", "replace"))


def object_id(name):
    """A table's number, the same for the same name on every connection."""
    if name is None:
        return None
    name = str(name).split(".")[-1].strip("[]").lower()
    return zlib.crc32(name.encode()) & 0x3FFFFFFF


def code_page(collation):
    if collation is None:
        return None
    low = str(collation).lower()
    if low.endswith("_utf8") or "_utf8_" in low:
        return 65001
    if low.startswith("chinese_prc") or low.startswith("chinese_simplified"):
        return 936
    if low.startswith("chinese_taiwan") or low.startswith("chinese_hong_kong"):
        return 950
    if low.startswith("japanese"):
        return 932
    if low.startswith("korean"):
        return 949
    if low.startswith("latin1") or low.startswith("sql_latin1"):
        return 1252
    return None


# A declared type as SQLite keeps it: "VARCHAR(15)", "NUMERIC(18,4)", and for a
# text column created with a collation other than the database's, that
# collation as a second word: "VARCHAR Latin1_General_CI_AS(20)".
DECLARED = re.compile(r"\s*(\w+)(?:\s+(\w+))?(?:\s*\(\s*(\w+)\s*(?:,\s*(\d+)\s*)?\))?")


def type_of(declared):
    """A column description from a declared type."""
    m = DECLARED.match(declared or "")
    if not m:
        return None
    name, collation, size, scale = m.group(1).lower(), m.group(2), m.group(3), m.group(4)
    if name in ("text", "ntext"):
        return {"type": name, "collation": collation or DEFAULT_COLLATION}
    if name in ("varchar", "char", "nvarchar", "nchar"):
        n = 8000 if (size or "").lower() == "max" else int(size or 1)
        if name.startswith("n"):
            return {"type": "nvarchar", "size": min(n, 4000), "collation": collation or DEFAULT_COLLATION}
        return {"type": "varchar", "size": min(n, 8000), "collation": collation or DEFAULT_COLLATION}
    if name in ("int", "integer"):
        return {"type": "int"}
    if name == "bigint":
        return {"type": "bigint"}
    if name in ("smallint", "tinyint"):
        return {"type": "smallint"}
    if name == "bit":
        return {"type": "bit"}
    if name in ("float", "real", "double"):
        return {"type": "float"}
    if name in ("numeric", "decimal", "money", "smallmoney"):
        precision = int(size) if size and size.isdigit() else (19 if "money" in name else 18)
        return {"type": "decimal", "precision": precision, "scale": int(scale or (4 if "money" in name else 0))}
    if name in ("datetime", "smalldatetime", "date", "datetime2"):
        return {"type": "datetime"}
    return None


def inferred_type(values):
    """A column description from the values of an expression's column."""
    present = [v for v in values if v is not None]
    if not present:
        return {"type": "int"}
    if all(isinstance(v, int) for v in present):
        return {"type": "int"} if all(-2 ** 31 <= v < 2 ** 31 for v in present) else {"type": "bigint"}
    if all(isinstance(v, (int, float)) for v in present):
        return {"type": "float"}
    texts = [str(v) for v in present]
    return {"type": "nvarchar", "size": max(1, min(4000, max(len(t) for t in texts)))}


class Table:
    """What the catalog needs of one table: its columns (name, declared type,
    nullable, default collation) in order."""

    def __init__(self, name, columns):
        self.name, self.columns = name, columns


class Engine:
    """One session's SQLite connection, run as a SQL Server of the given version
    whose database default collation is Chinese_PRC_CI_AS."""

    def __init__(self, path, version, database, server_name="RESPONDER", session=1, xact_abort=False,
                 compatibility_level=None):
        self.version, self.database, self.server_name, self.session = version, database, server_name, session
        self.level = compatibility_level
        self.transactions = Transactions(xact_abort)
        self.textsize, self.rowcount = 4096, 0
        self.db = sqlite3.connect(path, isolation_level=None, timeout=30, check_same_thread=False)
        self.db.execute("PRAGMA journal_mode=WAL")
        self.collations = set()
        self.collation(DEFAULT_COLLATION)
        self.types, self.cache = {}, {}
        f = self.db.create_function
        f("gbk_len", 1, gbk_len, deterministic=True)
        f("object_id", 1, self.object_id)
        f("object_id", 2, lambda name, kind: self.object_id(name))
        f("db_name", 0, lambda: self.database)
        f("db_name", 1, lambda n: self.database)
        f("schema_name", 0, lambda: "dbo")
        f("user_name", 0, lambda: "dbo")
        f("serverproperty", 1, self.server_property)
        f("databasepropertyex", 2, self.database_property)
        f("collationproperty", 2, lambda c, p: code_page(c) if str(p).lower() == "codepage" else None)
        f("tsql_version", 0, self.version_text)
        f("tsql_len", 1, lambda v: None if v is None else len(str(v).rstrip(" ")), deterministic=True)
        f("datalength", 1, gbk_len, deterministic=True)
        f("tsql_code_page", 2, lambda t, page: t if not isinstance(t, str) else
          t.encode("gbk" if page == 936 else "cp%d" % page, "replace").decode("gbk" if page == 936 else
                                                                             "cp%d" % page), deterministic=True)
        f("replicate", 2, lambda t, n: None if t is None or n is None else str(t) * max(0, int(n)))
        f("concat", -1, lambda *parts: "".join("" if p is None else str(p) for p in parts))
        f("getdate", 0, lambda: datetime.datetime.now().strftime("%Y-%m-%d %H:%M:%S.%f")[:23])

    # -- what the server tells about itself
    def product_version(self):
        (major, minor, build), _ = VERSIONS.get(self.version or "16.0")
        return "%d.%s.%d.0" % (major, "%02d" % minor if major < 10 else str(minor), build) \
            if major >= 9 else "8.00.%d" % build

    def compatibility_level(self):
        if self.level:
            return self.level
        major = VERSIONS.get(self.version or "16.0")[0][0]
        return 80 if major == 8 else 90 if major == 9 else 100 if major == 10 else major * 10

    def version_text(self):
        years = {8: "2000", 9: "2005", 10: "2008 R2", 13: "2016", 16: "2022"}
        major = VERSIONS.get(self.version or "16.0")[0][0]
        return "Microsoft SQL Server %s - %s (X64) \n\tCopyright (c) Microsoft Corporation\n\tStandard Edition " \
               "on tds_responder\n" % (years[major], self.product_version())

    def server_property(self, name):
        return {"productversion": self.product_version(), "servername": self.server_name,
                "machinename": self.server_name, "collation": DEFAULT_COLLATION, "edition": "Standard Edition",
                "productlevel": "SP4" if self.version in ("8.0", "9.0") else "RTM", "engineedition": 2,
                "instancename": None}.get(str(name).lower())

    def database_property(self, database, name):
        return {"collation": DEFAULT_COLLATION, "status": "ONLINE", "updateability": "READ_WRITE"}.get(
            str(name).lower())

    def object_id(self, name):
        """A table's number, or NULL where there is no such table."""
        if name is None:
            return None
        table = str(name).split(".")[-1].strip("[]")
        found = self.db.execute("select 1 from main.sqlite_master where type in ('table', 'view') and "
                                "lower(name) = lower(?)", (table,)).fetchone()
        return object_id(table) if found else None

    def collation(self, name):
        if name.lower() not in self.collations:
            key = collation_key(name)
            self.db.create_collation(name, lambda a, b: (key(a) > key(b)) - (key(a) < key(b)))
            self.collations.add(name.lower())

    # -- the catalog
    def tables(self):
        out = []
        for (name,) in self.db.execute("select name from main.sqlite_master where type='table' and "
                                       "name not like 'sqlite%' order by name"):
            columns = [(c[1], c[2], not c[3]) for c in self.db.execute('PRAGMA main.table_info("%s")' % name)]
            out.append(Table(name, columns))
        return out

    def refresh_catalog(self):
        """The catalog views of SQL Server, as temporary tables filled from what SQLite knows."""
        d = self.db
        for t in CATALOG:
            d.execute("DROP TABLE IF EXISTS temp.%s" % t)
        d.execute("CREATE TEMP TABLE sys_columns (object_id INT, name NVARCHAR(128), column_id INT, "
                  "system_type_id INT, max_length SMALLINT, precision INT, scale INT, is_nullable BIT, "
                  "collation_name NVARCHAR(128))")
        d.execute("CREATE TEMP TABLE sys_objects (object_id INT, name NVARCHAR(128), type CHAR(2), schema_id INT, "
                  "parent_object_id INT)")
        d.execute("CREATE TEMP TABLE sys_tables (object_id INT, name NVARCHAR(128), schema_id INT)")
        d.execute("CREATE TEMP TABLE sys_triggers (object_id INT, name NVARCHAR(128), parent_id INT, "
                  "is_disabled BIT)")
        d.execute("CREATE TEMP TABLE sys_databases (database_id INT, name NVARCHAR(128), "
                  "compatibility_level INT, collation_name NVARCHAR(128))")
        d.execute("CREATE TEMP TABLE syscolumns (id INT, name NVARCHAR(128), colid SMALLINT, xtype INT, "
                  "length SMALLINT, prec SMALLINT, scale INT, isnullable INT, collation NVARCHAR(128))")
        d.execute("CREATE TEMP TABLE sysobjects (id INT, name NVARCHAR(128), xtype CHAR(2), type CHAR(2), "
                  "uid SMALLINT, parent_obj INT)")
        d.execute("CREATE TEMP TABLE sysdatabases (dbid SMALLINT, name NVARCHAR(128), cmptlevel INT)")
        d.execute("CREATE TEMP TABLE information_schema_columns (table_catalog NVARCHAR(128), "
                  "table_schema NVARCHAR(128), table_name NVARCHAR(128), column_name NVARCHAR(128), "
                  "ordinal_position INT, column_default NVARCHAR(4000), is_nullable VARCHAR(3), "
                  "data_type NVARCHAR(128), character_maximum_length INT, character_octet_length INT, "
                  "numeric_precision INT, numeric_scale INT, collation_name NVARCHAR(128))")
        d.execute("CREATE TEMP TABLE information_schema_tables (table_catalog NVARCHAR(128), "
                  "table_schema NVARCHAR(128), table_name NVARCHAR(128), table_type VARCHAR(10))")
        type_ids = {"varchar": 167, "char": 175, "nvarchar": 231, "nchar": 239, "text": 35, "ntext": 99, "int": 56,
                    "integer": 56, "bigint": 127, "smallint": 52, "tinyint": 48, "bit": 104, "float": 62,
                    "real": 59, "numeric": 108, "decimal": 106, "datetime": 61, "money": 60}
        for t in self.tables():
            oid = object_id(t.name)
            d.execute("INSERT INTO sys_objects VALUES (?, ?, 'U', 1, 0)", (oid, t.name))
            d.execute("INSERT INTO sys_tables VALUES (?, ?, 1)", (oid, t.name))
            d.execute("INSERT INTO sysobjects VALUES (?, ?, 'U', 'U', 1, 0)", (oid, t.name))
            d.execute("INSERT INTO information_schema_tables VALUES (?, 'dbo', ?, 'BASE TABLE')",
                      (self.database, t.name))
            for k, (name, declared, nullable) in enumerate(t.columns, 1):
                m = DECLARED.match(declared or "")
                base = (m.group(1) if m else "int").lower()
                size = m.group(3) if m else None
                texty = base in ("varchar", "char", "text", "nvarchar", "nchar", "ntext")
                chars = -1 if (size or "").lower() == "max" else int(size) if size and size.isdigit() else \
                    (2147483647 if base in ("text", "ntext") else 1 if texty else None)
                length = chars if not texty or chars in (None, -1) else (2 * chars if base.startswith("n")
                                                                             else chars)
                collation = ((m.group(2) if m else None) or DEFAULT_COLLATION) if texty else None
                # The catalogs' byte length: a text or ntext column holds a 16-byte text pointer.
                stored = 16 if base in ("text", "ntext") else length if texty else 8
                precision = int(size) if base in ("numeric", "decimal") and size else None
                scale = int(m.group(4) or 0) if base in ("numeric", "decimal") and m else None
                d.execute("INSERT INTO sys_columns VALUES (?,?,?,?,?,?,?,?,?)",
                          (oid, name, k, type_ids.get(base, 56), stored, precision or 0,
                           scale or 0, int(nullable), collation))
                d.execute("INSERT INTO syscolumns VALUES (?,?,?,?,?,?,?,?,?)",
                          (oid, name, k, type_ids.get(base, 56), stored, precision or 0,
                           scale or 0, int(nullable), collation))
                d.execute("INSERT INTO information_schema_columns VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?)",
                          (self.database, "dbo", t.name, name, k, None, "YES" if nullable else "NO",
                           base if base != "integer" else "int", chars if texty else None,
                           length if texty else None, precision, scale, collation))
        d.execute("INSERT INTO sys_databases VALUES (5, ?, ?, ?)",
                  (self.database, self.compatibility_level(), DEFAULT_COLLATION))
        d.execute("INSERT INTO sysdatabases VALUES (5, ?, ?)", (self.database, self.compatibility_level()))

    # -- what every version refuses and SQLite would take
    def check(self, tokens):
        """Raises the error SQL Server gives where SQLite is more lenient: a
        derived table without a name (102), a derived table's column without a
        name (8155), ORDER BY in a derived table or subquery without TOP (1033),
        a selected column neither grouped nor aggregated (8120), SQLite's LIMIT
        and || (102)."""
        low = [t.low for t in tokens]
        for k, t in enumerate(tokens):
            if t.low == "limit" and k + 1 < len(tokens) and tokens[k + 1].kind in ("number", "word"):
                raise SqlError(102, "Incorrect syntax near '%s'." % tokens[k + 1].text, 15)
            if t.text == "||":
                raise SqlError(102, "Incorrect syntax near '|'.", 15)
            if t.text != "(" or k + 1 >= len(tokens) or low[k + 1] != "select":
                continue
            end = _after_group(tokens, k)
            inner = tokens[k + 1:end - 1]
            depth, ordered = 0, False
            for x in inner:
                depth += 1 if x.text == "(" else -1 if x.text == ")" else 0
                ordered = ordered or (depth == 0 and x.low == "order")
            if ordered and not (len(inner) > 1 and inner[1].low == "top"):
                raise SqlError(1033, "The ORDER BY clause is invalid in views, inline functions, derived tables, "
                               "subqueries, and common table expressions, unless TOP or FOR XML is also specified.")
            if k > 0 and (low[k - 1] in ("from", "join") or (low[k - 1] == "," and self.in_from(tokens, k))):
                after = tokens[end] if end < len(tokens) else None
                if after is None or not (after.low == "as" or (after.kind in ("word", "quoted") and after.low not in
                                         ("where", "group", "order", "union", "join", "inner", "left", "right",
                                          "cross", "outer", "on", "having"))):
                    raise SqlError(102, "Incorrect syntax near ')'.", 15)
                alias = tokens[end + 1] if after.low == "as" else after
                named = end + 2 < len(tokens) and tokens[end + 2].text == "(" if after.low == "as" else \
                    end + 1 < len(tokens) and tokens[end + 1].text == "("
                if not named:
                    for n, item in enumerate(self.select_list(inner), 1):
                        if self.item_name(item)[0] == "" and item[-1].text != "*":
                            raise SqlError(8155, "No column was specified for column %d of '%s'." % (n, alias.text))
        self.check_grouping(tokens)

    @staticmethod
    def in_from(tokens, k):
        """Whether tokens[k] stands in a FROM clause: the nearest clause word before it at its level is FROM."""
        depth = 0
        for j in range(k - 1, -1, -1):
            t = tokens[j].low
            if t == ")":
                depth += 1
            elif t == "(":
                if depth == 0:
                    return False
                depth -= 1
            elif depth == 0 and t in ("select", "from", "where", "group", "order", "having", "set", "values", "on"):
                return t == "from"
        return False

    AGGREGATES = ("min", "max", "sum", "count", "avg", "count_big", "stdev", "var")
    NOT_COLUMNS = {"case", "when", "then", "else", "end", "null", "and", "or", "not", "is", "in", "like", "between",
                   "exists", "distinct", "as", "collate", "cast", "convert"}

    def check_grouping(self, tokens):
        low = [t.low for t in tokens]
        depth, group = 0, None
        for k, t in enumerate(tokens):
            depth += 1 if t.text == "(" else -1 if t.text == ")" else 0
            if depth == 0 and t.low == "group" and k + 1 < len(tokens) and low[k + 1] == "by":
                group = k + 2
                break
        if group is None:
            return
        groups = _items(tokens[group:], ("having", "order", "union"))
        wanted = {self.normal(g) for g in groups}
        for item in self.select_list(tokens):
            name, expr = self.item_name(item)
            if self.normal(expr) in wanted:
                continue
            k = 0
            while k < len(expr):
                t = expr[k]
                if t.low in self.AGGREGATES and k + 1 < len(expr) and expr[k + 1].text == "(":
                    k = _after_group(expr, k + 1)
                    continue
                if t.text == "(" and k + 1 < len(expr) and expr[k + 1].low == "select":
                    k = _after_group(expr, k)  # a subquery's columns are its own
                    continue
                if t.low == "collate":
                    k += 2
                    continue
                if t.kind in ("word", "quoted") and not t.text.startswith("@") and t.low not in self.NOT_COLUMNS \
                        and not (k + 1 < len(expr) and expr[k + 1].text in ("(", ".")):
                    column = expr[k - 2:k + 1] if k >= 2 and expr[k - 1].text == "." else [t]
                    if self.normal(column) not in wanted:
                        raise SqlError(8120, "Column '%s' is invalid in the select list because it is not "
                                       "contained in either an aggregate function or the GROUP BY clause." %
                                       "".join(c.text for c in column))
                k += 1

    @staticmethod
    def normal(tokens):
        return " ".join(t.low for t in tokens)

    @staticmethod
    def item_name(item):
        """A select-list item's column name ("" for an unnamed expression) and its expression."""
        words = [t.low for t in item]
        if len(item) >= 2 and words[-2] == "as":
            return item[-1].text.strip('[]"'), item[:-2]
        if len(item) >= 2 and item[-1].kind in ("word", "quoted") and (
                item[-2].kind in ("word", "quoted", "string", "number") or item[-2].text == ")") and \
                words[-2] not in ("collate",):
            return item[-1].text.strip('[]"'), item[:-1]
        if len(item) in (1, 3) and item[-1].kind == "word" and (len(item) == 1 or item[1].text == "."):
            return item[-1].text, item
        return "", item

    # -- splitting a batch into statements
    @staticmethod
    def statements(text):
        """The statements of a batch, each as its list of tokens: a statement
        ends at ';' or where a word that can only begin one stands at the
        outermost level. "IF cond statement" is one statement."""
        out, current, depth, if_body = [], [], 0, False
        for t in tokenize(text):
            if t.text == "(":
                depth += 1
            elif t.text == ")":
                depth -= 1
            if depth == 0 and t.text == ";":
                if current:
                    out.append(current)
                current, if_body = [], False
                continue
            if depth == 0 and t.kind == "word" and t.low in STARTERS and current:
                first, prev = current[0].low, current[-1].low
                new = True
                if t.low == "select" and (prev in ("union", "all", "except", "intersect") or first == "insert"):
                    new = False
                elif t.low == "set" and first == "update":
                    new = False
                elif first == "if" and not if_body:
                    new, if_body = False, True
                elif first == "create" and t.low == "table":
                    new = False
                if new:
                    out.append(current)
                    current, if_body = [], False
            current.append(t)
        if current:
            out.append(current)
        return out

    # -- translation into SQLite
    def text_columns(self):
        if "text_columns" not in self.types:
            names = set()
            for t in self.tables():
                for name, declared, _ in t.columns:
                    if re.match(r"\s*n?(var)?char|\s*n?text", declared or "", re.I):
                        names.add(name.lower())
            self.types["text_columns"] = names
        return self.types["text_columns"]

    def translate(self, tokens):
        """SQLite text for one T-SQL statement's tokens."""
        toks = [t for t in tokens]
        low = [t.low for t in toks]
        if low[:2] == ["truncate", "table"]:
            return "DELETE FROM " + " ".join(t.text for t in toks[2:])
        if low[:1] == ["create"]:
            return self.translate_create(toks)
        out = []          # one output text per token, "" to drop it
        tail = {}         # index -> texts inserted before that token
        i = 0
        n = len(toks)
        while i < n:
            t, w = toks[i], low[i]
            text = t.text
            if t.kind == "string" and text[0] in "Nn":
                text = text[1:]
            elif t.kind == "quoted":
                text = '"' + text[1:-1] + '"'
            elif w == "select" and i + 1 < n and low[i + 1] == "top":
                # "select top N ..." : the limit goes where this select ends
                j = i + 2
                paren = low[j] == "("
                limit = toks[j + 1].text if paren else toks[j].text
                skip = 4 if paren else 2
                end, depth = i + 1 + skip, 0
                while end < n:
                    if low[end] == "(":
                        depth += 1
                    elif low[end] == ")":
                        if depth == 0:
                            break
                        depth -= 1
                    elif depth == 0 and low[end] in ("union", "except", "intersect"):
                        break
                    end += 1
                tail.setdefault(end, []).append("LIMIT " + limit)
                out.append("select")
                out.extend([""] * skip)
                i += 1 + skip
                continue
            elif w == "@@version":
                text = "tsql_version()"
            elif w == "@@trancount":
                text = str(self.transactions.count)
            elif w == "@@rowcount":
                text = str(self.rowcount)
            elif w == "@@spid":
                text = str(50 + self.session)
            elif w == "@@servername":
                text = "'%s'" % self.server_name
            elif w == "@@error":
                text = "0"
            elif w == "isnull" and i + 1 < n and low[i + 1] == "(":
                text = "ifnull"
            elif w == "len" and i + 1 < n and low[i + 1] == "(":
                text = "tsql_len"
            elif w in ("dbo", "master", self.database.lower()) and i + 1 < n and low[i + 1] == "." and \
                    (i == 0 or low[i - 1] != "."):
                # database and owner parts of a name ("master.dbo.sysdatabases", "db..t", "dbo.t"): the rest
                j = i
                while j + 1 < n and low[j + 1] == "." and j + 2 < n and (low[j] in ("dbo", "master",
                                                                                     self.database.lower(), ".")):
                    j += 1
                    if low[j + 1] != ".":
                        j += 1
                        if low[j] not in ("dbo",):
                            break
                out.extend([""] * (j - i))
                i = j
                continue
            elif w in ("sys", "information_schema") and i + 2 < n and low[i + 1] == ".":
                text = w + "_" + low[i + 2]
                out.extend([text, "", ""])
                i += 3
                continue
            elif w == "collate" and i + 1 < n:
                self.collation(toks[i + 1].text)
            elif w == "+" and self.concatenates(toks, i):
                text = "||"
            elif w == "values" and i > 0 and low[i - 1] == "(":
                # "(values (...),(...)) as v(a, b)": SQLite names the columns column1, column2...
                close = _after_group(toks, i - 1) - 1
                k = close + 1
                if k < n and low[k] == "as":
                    k += 1
                if k + 1 < n and toks[k].kind == "word" and low[k + 1] == "(":
                    names_end = _after_group(toks, k + 1)
                    names = [x.text for x in toks[k + 2:names_end - 1] if x.text != ","]
                    inner = self.translate(toks[i:close])
                    select = "select " + ", ".join("column%d as %s" % (c + 1, name) for c, name in
                                                   enumerate(names)) + " from (" + inner + ")"
                    out[-1] = "(" + select + ")"
                    out.extend([""] * (close - i + 1))
                    out.append(toks[k].text)
                    out.extend([""] * (names_end - k - 1))
                    i = names_end
                    continue
            elif w == "convert" and i + 1 < n and low[i + 1] == "(":
                # convert(type, expr[, style]) -> cast(expr as type)
                close = _after_group(toks, i + 1) - 1
                comma = next((k for k in range(i + 2, close) if low[k] == "," and
                              sum(1 if low[x] == "(" else -1 if low[x] == ")" else 0
                                  for x in range(i + 2, k)) == 0), None)
                if comma is not None:
                    type_text = " ".join(x.text for x in toks[i + 2:comma])
                    second = next((k for k in range(comma + 1, close) if low[k] == "," and
                                   sum(1 if low[x] == "(" else -1 if low[x] == ")" else 0
                                       for x in range(comma + 1, k)) == 0), close)
                    expr = self.translate(toks[comma + 1:second])
                    out.append("cast(%s as %s)" % (expr, type_text))
                    out.extend([""] * (close - i))
                    i = close + 1
                    continue
            out.append(text)
            i += 1
        pieces = []
        for k, text in enumerate(out):
            pieces.extend(tail.get(k, []))
            pieces.append(text)
        pieces.extend(tail.get(len(out), []))
        sql = ""
        for p in pieces:
            if not p:
                continue
            if sql and not (p == "." or sql.endswith(".")):
                sql += " "
            sql += p
        return self.rewrite_update_from(self.rewrite_apply(sql))

    def concatenates(self, toks, i):
        """Whether the + at toks[i] joins texts: a text literal or text column beside it."""
        def texty(k):
            if not 0 <= k < len(toks):
                return False
            t = toks[k]
            if t.kind == "string":
                return True
            return t.kind == "word" and t.low in self.text_columns() and not (k + 1 < len(toks) and
                                                                            toks[k + 1].text == "(")
        return texty(i - 1) or texty(i + 1)

    @staticmethod
    def rewrite_update_from(sql):
        """update T set ... from T A, X B where ...  ->  update T as A set ... from X B where ..."""
        m = re.match(r"(?is)^(\s*update\s+)(\w+)(\s+set\s+)(.*?)(\s+from\s+)(\w+)(?:\s+(?:as\s+)?(?!where\b)(\w+))?"
                     r"\s*(,\s*.*?)?(\s+where\s+.*)?$", sql)
        if not m or m.group(2).lower() != m.group(6).lower():
            return sql
        out = m.group(1) + m.group(2)
        if m.group(7):
            out += " as " + m.group(7)
        out += m.group(3) + m.group(4)
        others = (m.group(8) or "").strip()
        if others.startswith(","):
            out += " from " + others[1:].strip()
        return out + (m.group(9) or "")

    @staticmethod
    def rewrite_apply(sql):
        """A cross apply of a plain query on one table, "cross apply (select COLS
        from T t where COND) x", as a join in the table's order per outer row."""
        m = re.search(r"(?is)\bcross\s+apply\s*\(\s*select\s+(.*?)\s+from\s+(\w+)\s+(\w+)\s+where\s+(.*?)\)\s*"
                      r"(?:as\s+)?(\w+)\s*$", sql)
        if not m:
            return sql
        columns, table, alias, cond, x = m.groups()
        head = sql[:m.start()]
        names = [c.strip().split(".")[-1] for c in columns.split(",")]
        head = re.sub(r"\b%s\.\*" % x, ", ".join("%s.%s" % (alias, c) for c in names), head)
        head = re.sub(r"\b%s\.(\w+)" % x, r"%s.\1" % alias, head)
        order = ""
        first = re.match(r"(?is)\s*select\s+(\w+\.\w+)", head)
        if first:
            order = " order by %s, %s.rowid" % (first.group(1), alias)
        return head + " join %s %s on %s" % (table, alias, cond) + order

    def translate_create(self, toks):
        """CREATE TABLE with SQL Server's types: texts take the database's collation and
        their width in GBK bytes (characters for n-types) is checked as the server does."""
        low = [t.low for t in toks]
        drop = {"clustered", "nonclustered"}
        if low[:2] != ["create", "table"]:
            return " ".join(t.text for t in toks if t.low not in drop)
        head = " ".join(t.text for t in toks[:toks.index(next(t for t in toks if t.text == "("))])
        open_at = low.index("(")
        close = _after_group(toks, open_at) - 1
        parts = _items(toks[open_at + 1:close])
        defs, stored = [], []
        for p in parts:
            words = [t.low for t in p]
            text = " ".join((t.text[1:] if t.kind == "string" and t.text[0] in "Nn" else t.text)
                            for t in p if t.low not in drop)
            text = re.sub(r"\s*\(\s*", "(", text).replace(" )", ")").replace(" ,", ",")
            if words[0] not in ("primary", "constraint", "unique", "foreign", "check") and len(p) > 1:
                name, kind = p[0].text, p[1].low
                size = p[3].text if len(p) > 3 and p[2].text == "(" else None
                if kind in ("varchar", "char", "nvarchar", "nchar", "text", "ntext"):
                    if "collate" in words:
                        collation = p[words.index("collate") + 1].text
                        self.collation(collation)
                        if collation.lower() != DEFAULT_COLLATION.lower():
                            if kind in ("varchar", "char", "text"):
                                stored.append((name, code_page(collation) or 1252))
                            # the catalog and the rows sent read the column's collation from its type
                            text = text[:len(name) + 1 + len(kind)] + " " + collation + text[len(name) + 1 + len(kind):]
                    else:
                        head_end = text.index(")") + 1 if size else len(name) + 1 + len(kind)
                        text = text[:head_end] + " COLLATE " + DEFAULT_COLLATION + text[head_end:]
                if size and size.isdigit() and kind in ("varchar", "char"):
                    text += " CONSTRAINT w_%s CHECK (gbk_len(%s) <= %s)" % (name, name, size)
                elif size and size.isdigit() and kind in ("nvarchar", "nchar"):
                    text += " CONSTRAINT w_%s CHECK (length(%s) <= %s)" % (name, name, size)
                elif kind in ("int", "integer", "bigint", "smallint", "tinyint", "bit"):
                    # a text that is no number fails to convert; an empty or blank one is 0
                    text += " CONSTRAINT ci_%s CHECK (typeof(%s) <> 'text' OR trim(%s) = '')" % (name, name, name)
                elif kind in ("numeric", "decimal", "money", "float", "real"):
                    text += " CONSTRAINT c%s_%s CHECK (typeof(%s) <> 'text')" % (
                        "f" if kind in ("float", "real") else "n", name, name)
            defs.append(text)
        self.types.pop("text_columns", None)
        table = toks[2].text
        sql = head + " (\n    " + ",\n    ".join(defs) + "\n)"
        # A column of another code page holds what that code page can: the rest becomes '?'.
        for name, page in stored:
            for event in ("INSERT", "UPDATE OF %s" % name):
                sql += ";\nCREATE TRIGGER cp_%s_%s_%s AFTER %s ON %s BEGIN UPDATE %s SET %s = " \
                       "tsql_code_page(new.%s, %d) WHERE rowid = new.rowid AND %s IS NOT tsql_code_page(new.%s, %d); " \
                       "END" % (table, name, event.split()[0].lower(), event, table, table, name, name, page, name,
                                name, page)
        return sql

    # -- running
    def run(self, text, params=None):
        """Runs one batch (or the statement of an RPC) with its parameters
        ({"P1": value}). Returns the results in order: {"columns": [...],
        "rows": [...]} for a row set, {"count": n} for a write, {} for anything
        else, {"error": SqlError} for a statement the server refused; a batch
        goes on after an error that ends only its statement."""
        results = []
        split = self.cache.get(text)
        if split is None:
            split = self.cache[text] = self.statements(text)
        for tokens in split:
            try:
                results.append(self.statement(tokens, params or {}))
            except SqlError as e:
                ended = self.transactions.failed(e)
                if ended and self.db.in_transaction:
                    self.db.execute("ROLLBACK")
                results.append({"error": e, "ended": ended})
                if e.severity < 16 or e.ends_transaction or self.transactions.xact_abort:
                    break
        return results

    def statement(self, tokens, params):
        low = [t.low for t in tokens]
        text = " ".join(t.text for t in tokens)
        control = self.transactions.control(text)
        if control is not None:
            for sql in control:
                self.db.execute(sql)
            return {}
        if low[0] == "if":
            body = next((k for k in range(2, len(tokens)) if low[k] in STARTERS and
                         sum(1 if x == "(" else -1 if x == ")" else 0 for x in low[1:k]) == 0), None)
            if body is None:
                raise SqlError(102, "Incorrect syntax near '%s'." % tokens[-1].text, 15)
            test = "select case when %s then 1 else 0 end" % self.translate(tokens[1:body])
            if self.execute(test, params).fetchone()[0]:
                return self.statement(tokens[body:], params)
            return {}
        if low[0] == "set":
            if low[1:2] == ["textsize"]:
                # 0 or -1 restores the default of 4 KB
                size = int(low[2]) if len(low) > 2 and low[2].isdigit() else 0
                self.textsize = size if size > 0 else 4096
            return {}
        if low[0] in ("declare", "exec", "execute", "print", "use"):
            return {}
        key = ("sql", text)
        sql = self.cache.get(key)
        if sql is None:
            self.check(tokens)
            sql = self.translate(tokens)
            if "@@" not in text:
                self.cache[key] = sql
        if any(name in sql for name in CATALOG):
            self.refresh_catalog()
        *before, sql = sql.split(";\n") if low[0] == "create" else [sql]
        for part in before:  # a table's triggers come after it
            self.execute(part, params)
        cursor = self.execute(sql, params)
        if cursor.description is None:
            self.rowcount = cursor.rowcount if cursor.rowcount >= 0 else 0
            if low[0] in ("create", "drop", "alter"):
                self.types.clear()
                self.cache.clear()
            return {"count": self.rowcount} if low[0] in ("insert", "update", "delete") else {}
        rows = cursor.fetchall()
        self.rowcount = len(rows)
        return {"columns": self.describe(tokens, sql, cursor.description, rows), "rows": rows}

    def execute(self, sql, params):
        wanted = {m.group(1) for m in re.finditer(r"@(\w+)", sql)}
        values = {k: v for k, v in params.items() if k in wanted}
        try:
            try:
                return self.db.execute(sql, values)
            except sqlite3.OperationalError as e:
                # a column's collation another session created the table with
                m = re.match(r"no such collation sequence: (\w+)", str(e))
                if not m:
                    raise
                self.collation(m.group(1))
                return self.db.execute(sql, values)
        except sqlite3.Error as e:
            raise self.server_error(str(e), sql) from None

    def server_error(self, message, sql):
        m = re.match(r"UNIQUE constraint failed: (\w+)\.", message)
        if m:
            return SqlError(2627, "Violation of PRIMARY KEY constraint 'PK_%s'. Cannot insert duplicate key in "
                            "object 'dbo.%s'." % (m.group(1), m.group(1)), 14)
        m = re.match(r"NOT NULL constraint failed: (\w+)\.(\w+)", message)
        if m:
            return SqlError(515, "Cannot insert the value NULL into column '%s', table '%s.dbo.%s'; column does "
                            "not allow nulls. %s fails." % (m.group(2), self.database, m.group(1),
                                                           sql.split()[0].upper()))
        m = re.match(r"CHECK constraint failed: w_(\w+)", message)
        if m:
            if self.version in (None, "16.0"):
                table = re.search(r"(?i)^\s*(?:insert\s+into|update)\s+(\w+)", sql)
                return SqlError(2628, "String or binary data would be truncated in table '%s.dbo.%s', column "
                                "'%s'." % (self.database, table.group(1) if table else "?", m.group(1)))
            return SqlError(8152, "String or binary data would be truncated.")
        m = re.match(r"CHECK constraint failed: c([inf])_(\w+)", message)
        if m:
            if m.group(1) != "i":
                return SqlError(8114, "Error converting data type nvarchar to %s." % (
                    "numeric" if m.group(1) == "n" else "float"), ends_transaction=True)
            return SqlError(245, "Syntax error converting the nvarchar value to a column of data type int."
                            if self.version == "8.0" else
                            "Conversion failed when converting the nvarchar value to data type int.",
                            ends_transaction=True)
        m = re.match(r"no such table: (?:\w+\.)?(\w+)", message)
        if m:
            return SqlError(208, "Invalid object name '%s'." % m.group(1))
        m = re.match(r"no such function: (\w+)", message)
        if m:
            return SqlError(195, "'%s' is not a recognized built-in function name." % m.group(1), 15)
        m = re.match(r"no such column: (?:\w+\.)?(\w+)", message)
        if m:
            return SqlError(207, "Invalid column name '%s'." % m.group(1))
        m = re.match(r"table (\w+) already exists", message)
        if m:
            return SqlError(2714, "There is already an object named '%s' in the database." % m.group(1))
        m = re.match(r'near "(.*?)": syntax error', message)
        if m:
            return SqlError(102, "Incorrect syntax near '%s'." % m.group(1), 15)
        if "locked" in message or "busy" in message:
            return SqlError(1222, "Lock request time out period exceeded.")
        return SqlError(50000, "%s [%s]" % (message, sql))

    # -- typing the columns of a row set
    @staticmethod
    def select_list(tokens):
        """The items of a statement's outermost select list, each as its tokens."""
        depth = 0
        for k, t in enumerate(tokens):
            if t.low == "select" and depth == 0:
                break
            depth += 1 if t.text == "(" else -1 if t.text == ")" else 0
        else:
            return []
        rest = tokens[k + 1:]
        if rest and rest[0].low == "distinct":
            rest = rest[1:]
        if len(rest) >= 2 and rest[0].low == "top":
            rest = rest[4:] if rest[1].text == "(" else rest[2:]
        return _items(rest, ("from", "into", "where", "union", "group", "order", "having"))

    def declared_types(self, sql):
        key = ("view", sql)
        if key not in self.types:
            parts = []
            for t in tokenize(sql):
                parts.append("NULL" if t.text.startswith("@") and not t.text.startswith("@@") else t.text)
            try:
                self.db.execute("CREATE TEMP VIEW tds_types AS " + " ".join(parts))
                try:
                    self.types[key] = [c[2] for c in self.db.execute("PRAGMA temp.table_info(tds_types)")]
                finally:
                    self.db.execute("DROP VIEW temp.tds_types")
            except sqlite3.Error:
                self.types[key] = None
        return self.types[key]

    def describe(self, tokens, sql, description, rows):
        items = self.select_list(tokens)
        if any(item[-1].text == "*" and (len(item) == 1 or item[-2].text == ".") for item in items):
            items = None
        declared = self.declared_types(sql) or []
        columns = []
        for k, d in enumerate(description):
            item = items[k] if items and k < len(items) else None
            name = d[0]
            column = None
            if item is not None:
                name, expr = self.item_name(item)
                ewords = [t.low for t in expr]
                if ewords and ewords[0] in VARIANT_FUNCTIONS and _after_group(expr, 1) == len(expr):
                    column = {"type": "sql_variant"}
                elif ewords[:2] == ["cast", "("] and _after_group(expr, 1) == len(expr) and "as" in ewords:
                    at = len(ewords) - 1 - ewords[::-1].index("as")
                    column = type_of(" ".join(t.text for t in expr[at + 1:-1]))
                elif ewords and (ewords[0] in ("count", "object_id", "len", "datalength", "@@trancount",
                                               "@@rowcount", "@@spid", "@@error") or
                                 (ewords[0] == "collationproperty")):
                    column = {"type": "int"}
                elif ewords in (["@@version"],):
                    column = {"type": "nvarchar", "size": 300}
                elif ewords[:1] in (["db_name"], ["schema_name"], ["user_name"], ["@@servername"]):
                    column = {"type": "nvarchar", "size": 128}
                elif len(expr) == 1 and expr[0].kind == "string":
                    literal = expr[0].text
                    n_type = literal[0] in "Nn"
                    body = literal[2:-1] if n_type else literal[1:-1]
                    column = {"type": "nvarchar" if n_type else "varchar", "size": max(1, len(body))}
            if column is None and k < len(declared) and declared[k]:
                column = type_of(declared[k])
            if column is None:
                column = inferred_type([r[k] for r in rows])
            column = dict(column)
            column["name"] = name if re.fullmatch(r"[^\W\d]\w*", name or "") else ""
            if column["type"] in ("text", "ntext"):
                column["textsize"] = self.textsize
            columns.append(column)
        return columns
