#!/usr/bin/env python3
"""A stand-in for the server side of TDS 7.x (SQL Server), for tests on loopback.

Listens on 127.0.0.1 (a free port unless --port), prints the port on the first
line of stdout, and serves each connection:

  PRELOGIN  answered "encryption not supported" and MARS off; the client's
            encryption byte, MARS byte and instance name are recorded. With
            --tls (a self-signed certificate made at start with openssl) it
            answers as MS-TDS 2.2.6.5 has a server with a certificate:
            "available" encrypts the login alone for a client that can
            encrypt (ENCRYPT_OFF), everything for one that asks (ENCRYPT_ON);
            "required" (Force Encryption) encrypts everything and ends the
            connection of a client that cannot (ENCRYPT_NOT_SUP). The TLS
            handshake travels inside PRELOGIN packets, then TLS records go on
            the socket bare, each holding TDS packets.
  LOGIN7    recorded (TDS version offered and answered, packet size, host,
            user, database, app, server name; the password only by its
            length) and answered with
            LOGINACK "Microsoft SQL Server", ENVCHANGE database, SQL collation
            (Chinese_PRC_CI_AS: varchar data is GBK, code page 936), packet size
            and character set, then DONE. The TDS version answered is the
            client's, at most the newest the server version speaks (7.1 for
            8.0, 7.2 for 9.0, 7.3 for 10.50, else 7.4) and at most 7.1 with
            --tds 7.1; tokens then take that version's forms (before 7.2: 2-byte
            user types and line numbers, 4-byte DONE counts, a text column's
            table name without its part count). --refuse-login answers
            error 18456 and DONE, with no LOGINACK.
  SQL batch and RPC (sp_executesql, sp_prepexec, sp_execute, sp_prepare,
            sp_unprepare)  recorded (statement text, each parameter's type,
            declared size, length and value) and answered with the first
            scripted result whose "match" the statement text contains (case
            folded), else with DONE.
            From TDS 7.2 on, a statement that begins or ends the session's
            transaction is answered with ENVCHANGE 8 (begin, a new 8-byte
            descriptor), 9 (commit) or 10 (rollback) first, as MS-TDS has it.
  ATTENTION answered with DONE (attention).

The script (--script, JSON):
  {"results": [{"match": "select k",
                "columns": [{"name": "k", "type": "varchar", "size": 6},
                            {"name": "n", "type": "nvarchar", "size": 20},
                            {"name": "i", "type": "int"}],
                "rows": [["张三丰", "张三丰", 7]]},
               {"match": "bad", "error": [2627, "Violation of PRIMARY KEY"]},
               {"match": "conv", "error": [245, "Conversion failed"], "ends_transaction": true}]}
varchar values go out as GBK under Chinese_PRC_CI_AS, nvarchar as UTF-16.
An error ends the session's transaction where the entry says so (by default
for 1205, 245 and 8114), or for any run-time error under XACT_ABORT ON.
Without a scripted result, BEGIN/COMMIT/SAVE/ROLLBACK TRANSACTION keep the
session's transaction count as the server does (a ROLLBACK with no transaction
gets 3903) and "select @@trancount" answers it.

--server-version 8.0|9.0|10.50|13.0|16.0 puts that version into LOGINACK and
refuses, before any script, the statement forms the version lacks (see
tds_sqlite.refusal): VALUES lists of several rows below 10.0; APPLY, OVER,
TOP (n), sys.* and schema_name() below 9.0. --xact-abort starts sessions with
XACT_ABORT ON, as a server whose 'user options' set it.

--sqlite FILE replaces the script: each session runs what it receives on that
SQLite database (tds_sqlite.Engine), as a SQL Server of the chosen version
whose database collation is Chinese_PRC_CI_AS would: T-SQL translated, texts
compared case-insensitively and without trailing blanks, VARCHAR widths
checked in GBK bytes, transactions and savepoints kept, the catalog views
(sys.columns, syscolumns, information_schema.columns, sys.databases...)
answered from the SQLite schema, rows sent with the declared types.
--compatibility-level sets the level those views report.

Every event is one JSON line in --record. The responder exits when every
connection has closed and none came for --idle seconds after the last one, or
after --timeout seconds in all. Python 3 standard library only.
"""

import argparse
import datetime
import decimal
import json
import os
import socket
import ssl
import struct
import subprocess
import sys
import tempfile
import threading
import time

from tds_sqlite import VERSIONS, Engine, SqlError, Transactions, code_page, limit_error, refusal

PRELOGIN, LOGIN7, BATCH, RPC, ATTENTION, REPLY = 0x12, 0x10, 0x01, 0x03, 0x06, 0x04
# Chinese_PRC_CI_AS: LCID 0x0804, case and kana/width insensitive, sort id 0.
COLLATION = bytes([0x04, 0x08, 0xD0, 0x00, 0x00])
LCIDS = {"chinese_prc": 0x0804, "chinese_taiwan": 0x0404, "japanese": 0x0411, "korean": 0x0412, "latin1": 0x0409,
         "sql_latin1": 0x0409}


def collation_bytes(name):
    """The 5 bytes of a collation: LCID and flags (case, accent, kana, width
    insensitive unless the name says _CS/_AS/_KS/_WS), then the SQL sort id."""
    if not name or name.lower() == "chinese_prc_ci_as":
        return COLLATION
    low = name.lower()
    lcid = next((v for k, v in LCIDS.items() if low.startswith(k)), 0x0409)
    flags = (1 if "_ci" in low else 0) | (0 if "_as" in low or "_bin" in low else 2) | \
        (0 if "_ks" in low else 4) | (0 if "_ws" in low else 8)
    sort_id = 52 if low == "sql_latin1_general_cp1_ci_as" else 0
    return struct.pack("<I", lcid | flags << 20) + bytes([sort_id])


def code_page_codec(column):
    page = code_page(column.get("collation")) or 936
    return "gbk" if page == 936 else "cp%d" % page


TDS74 = 0x74000004
TDS71 = 0x71000001
ENCRYPT_OFF, ENCRYPT_ON, ENCRYPT_NOT_SUP, ENCRYPT_REQ = 0, 1, 2, 3
# The TDS version of the session the current thread serves: before 7.2 a DONE
# counts rows in 4 bytes, and user types and an error's line number take 2.
WIRE = threading.local()


def tds72():
    return getattr(WIRE, "version", TDS74) >= 0x72000000


def user_type():
    return struct.pack("<I" if tds72() else "<H", 0)


# What the server is (main sets it from the arguments): TLS mode and context, the highest TDS version it
# answers, whether it refuses every login.
SERVER = {"tls": None, "context": None, "tds": TDS74, "refuse_login": False}


def make_tls_context(directory):
    """A server context with a self-signed certificate made now. TLS 1.2 at most: SQL Server speaks no
    later TLS inside TDS 7.x (TLS 1.3 comes with TDS 8)."""
    cert, key = os.path.join(directory, "cert.pem"), os.path.join(directory, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                    "-days", "1", "-subj", "/CN=localhost"], check=True, capture_output=True)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.maximum_version = ssl.TLSVersion.TLSv1_2
    context.load_cert_chain(cert, key)
    return context


class Tls:
    """The server end of a TLS session over memory buffers: the session moves the bytes."""

    def __init__(self, context):
        self.incoming, self.outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
        self.obj = context.wrap_bio(self.incoming, self.outgoing, server_side=True)
        self.plain = b""
PROCS = {1: "sp_cursor", 2: "sp_cursoropen", 3: "sp_cursorprepare", 4: "sp_cursorexecute",
         5: "sp_cursorprepexec", 6: "sp_cursorunprepare", 7: "sp_cursorfetch", 8: "sp_cursoroption",
         9: "sp_cursorclose", 10: "sp_executesql", 11: "sp_prepare", 12: "sp_execute",
         13: "sp_prepexec", 14: "sp_prepexecrpc", 15: "sp_unprepare"}
TYPE_NAMES = {0x26: "intn", 0x68: "bitn", 0x6D: "floatn", 0x6A: "decimal", 0x6C: "numeric",
              0xA7: "varchar", 0xAF: "char", 0xE7: "nvarchar", 0xEF: "nchar", 0xA5: "varbinary",
              0xAD: "binary", 0x63: "ntext", 0x23: "text", 0x22: "image", 0x6F: "datetimen",
              0x28: "date", 0x29: "time", 0x2A: "datetime2", 0x38: "int", 0x7F: "bigint",
              0x30: "tinyint", 0x34: "smallint", 0x32: "bit", 0x3E: "float", 0x3D: "datetime"}
FIXED = {0x30: 1, 0x32: 1, 0x34: 2, 0x38: 4, 0x7F: 8, 0x3E: 8, 0x3B: 4, 0x3D: 8, 0x3A: 4, 0x7A: 4, 0x3C: 8}


class Recorder:
    def __init__(self, path):
        self.lock = threading.Lock()
        self.file = open(path, "w", encoding="utf-8")

    def __call__(self, **event):
        with self.lock:
            self.file.write(json.dumps(event, ensure_ascii=False) + "\n")
            self.file.flush()


def b_varchar(text):
    data = text.encode("utf-16-le")
    return bytes([len(data) // 2]) + data


def us_varchar(text):
    data = text.encode("utf-16-le")
    return struct.pack("<H", len(data) // 2) + data


def envchange(kind, new, old=""):
    body = bytes([kind]) + b_varchar(new) + b_varchar(old)
    return b"\xE3" + struct.pack("<H", len(body)) + body


def transaction_envchange(kind, descriptor):
    """ENVCHANGE of a transaction begun (8: the new descriptor), committed (9) or rolled back (10: the old
    one), as servers send it from TDS 7.2 on."""
    value = bytes([8]) + struct.pack("<Q", descriptor)
    body = bytes([kind]) + (value + b"\x00" if kind == 8 else b"\x00" + value)
    return b"\xE3" + struct.pack("<H", len(body)) + body


def done(status=0, count=None, token=0xFD):
    if count is not None:
        status |= 0x10
    return bytes([token]) + struct.pack("<HHQ" if tds72() else "<HHI", status, 0xC1, count or 0)


class Reader:
    """Reads the fields of one request message."""

    def __init__(self, data):
        self.data, self.pos = data, 0

    def take(self, n):
        if self.pos + n > len(self.data):
            raise ValueError("request ends early")
        out = self.data[self.pos:self.pos + n]
        self.pos += n
        return out

    def u8(self):
        return self.take(1)[0]

    def u16(self):
        return struct.unpack("<H", self.take(2))[0]

    def u32(self):
        return struct.unpack("<I", self.take(4))[0]

    def u64(self):
        return struct.unpack("<Q", self.take(8))[0]

    def done(self):
        return self.pos >= len(self.data)


def skip_all_headers(r):
    total = struct.unpack("<I", r.data[r.pos:r.pos + 4])[0] if len(r.data) >= r.pos + 4 else 0
    # TDS 7.2+ puts ALL_HEADERS (its own length first, at least 4) before the request.
    if 4 <= total <= len(r.data) - r.pos and total < 1000:
        r.take(total)


def read_type_info(r):
    t = r.u8()
    info = {"type": TYPE_NAMES.get(t, hex(t))}
    if t in FIXED:
        info["declared"] = FIXED[t]
    elif t in (0x26, 0x68, 0x6D, 0x6F, 0x3A, 0x7A, 0x24):
        info["declared"] = r.u8()
    elif t in (0x6A, 0x6C):
        info["declared"] = r.u8()
        info["precision"], info["scale"] = r.u8(), r.u8()
    elif t in (0xA7, 0xAF, 0xE7, 0xEF, 0xA5, 0xAD):
        info["declared"] = r.u16()
        if t in (0xA7, 0xAF, 0xE7, 0xEF):
            info["collation"] = r.take(5).hex()
        if info["declared"] == 0xFFFF:
            info["plp"] = True
    elif t in (0x63, 0x23, 0x22):
        info["declared"] = r.u32()
        if t != 0x22:
            info["collation"] = r.take(5).hex()
    elif t == 0x28:
        pass
    elif t in (0x29, 0x2A, 0x2B):
        info["scale"] = r.u8()
    else:
        raise ValueError("type %#x not modelled" % t)
    info["code"] = t
    return info


def decode_text(code, raw):
    if code in (0xE7, 0xEF, 0x63):
        return raw.decode("utf-16-le", "replace")
    if code in (0xA7, 0xAF, 0x23):
        return raw.decode("gbk", "replace")
    return raw.hex()


def read_value(r, info):
    t = info["code"]
    if t in FIXED:
        raw = r.take(FIXED[t])
        return len(raw), int.from_bytes(raw, "little", signed=True) if t != 0x3E else struct.unpack("<d", raw)[0]
    if t in (0x26, 0x68, 0x6D, 0x6F, 0x6A, 0x6C, 0x28, 0x29, 0x2A, 0x2B, 0x24):
        n = r.u8()
        if n == 0:
            return 0, None
        raw = r.take(n)
        if t in (0x26, 0x68):
            return n, int.from_bytes(raw, "little", signed=True)
        if t == 0x6D:
            return n, struct.unpack("<d" if n == 8 else "<f", raw)[0]
        if t in (0x6A, 0x6C):
            magnitude = int.from_bytes(raw[1:], "little")
            text = str(magnitude).rjust(info["scale"] + 1, "0")
            if info["scale"]:
                text = text[:-info["scale"]] + "." + text[-info["scale"]:]
            return n, ("" if raw[0] else "-") + text
        return n, raw.hex()
    if info.get("plp"):
        total = r.u64()
        if total == 0xFFFFFFFFFFFFFFFF:
            return 0, None
        raw = b""
        while True:
            n = r.u32()
            if n == 0:
                break
            raw += r.take(n)
        return len(raw), decode_text(t, raw)
    if t in (0x63, 0x23, 0x22):
        n = r.u32()
        if n == 0xFFFFFFFF:
            return 0, None
        return n, decode_text(t, r.take(n))
    n = r.u16()
    if n == 0xFFFF:
        return 0, None
    return n, decode_text(t, r.take(n))


def parse_rpc(r):
    skip_all_headers(r)
    n = r.u16()
    proc = PROCS.get(r.u16(), "proc#?") if n == 0xFFFF else r.take(2 * n).decode("utf-16-le")
    r.u16()  # option flags
    params = []
    while not r.done():
        if r.data[r.pos] in (0x80, 0xFF, 0xFE):  # the next RPC of a batch: not modelled
            break
        name = r.take(2 * r.u8()).decode("utf-16-le")
        status = r.u8()
        info = read_type_info(r)
        length, value = read_value(r, info)
        p = {"name": name, "type": info["type"], "declared": info.get("declared"), "length": length,
             "value": value, "output": bool(status & 1)}
        for key in ("precision", "scale", "collation", "plp"):
            if key in info:
                p[key] = info[key]
        params.append(p)
    return proc, params


class Script:
    def __init__(self, path):
        with open(path, encoding="utf-8") as f:
            self.results = json.load(f).get("results", [])

    def find(self, text):
        folded = text.casefold()
        for result in self.results:
            if result["match"].casefold() in folded:
                return result
        return None


def column_metadata(columns):
    """COLMETADATA for columns {"name", "type", ...}: varchar and nvarchar with
    "size" in characters (varchar: GBK bytes), text and ntext with "textsize"
    (the session's TEXTSIZE in bytes), int, bigint, smallint, bit, float,
    decimal with "precision" and "scale", datetime, sql_variant."""
    out = b"\x81" + struct.pack("<H", len(columns))
    for c in columns:
        kind = c["type"]
        out += user_type() + struct.pack("<H", 0x0009)  # flags: nullable, updatable unknown
        if kind == "varchar":
            out += b"\xA7" + struct.pack("<H", c["size"]) + collation_bytes(c.get("collation"))
        elif kind == "nvarchar":
            out += b"\xE7" + struct.pack("<H", 2 * c["size"]) + collation_bytes(c.get("collation"))
        elif kind in INT_SIZES:
            out += b"\x26" + bytes([INT_SIZES[kind]])
        elif kind == "bit":
            out += b"\x68\x01"
        elif kind == "float":
            out += b"\x6D\x08"
        elif kind == "decimal":
            out += b"\x6A" + bytes([decimal_size(c["precision"]), c["precision"], c["scale"]])
        elif kind == "datetime":
            out += b"\x6F\x08"
        elif kind == "sql_variant":
            out += b"\x62" + struct.pack("<I", 8016)
        elif kind in ("text", "ntext"):
            table = us_varchar(c.get("table", "t"))
            out += (b"\x23" if kind == "text" else b"\x63") + struct.pack("<I", 0x7FFFFFFF) + \
                collation_bytes(c.get("collation")) + \
                (b"\x01" + table if tds72() else table)
        else:
            raise ValueError("column type %s not modelled" % kind)
        out += b_varchar(c["name"])
    return out


INT_SIZES = {"int": 4, "bigint": 8, "smallint": 2}


def decimal_size(precision):
    return 5 if precision <= 9 else 9 if precision <= 19 else 13 if precision <= 28 else 17


def datetime_value(v):
    """DATETIME's 8 bytes (days since 1900-01-01, 1/300 s since midnight) of a stored text, or None."""
    text = str(v).strip().replace("T", " ")
    for form in ("%Y-%m-%d %H:%M:%S.%f", "%Y-%m-%d %H:%M:%S", "%Y-%m-%d %H:%M", "%Y-%m-%d"):
        try:
            when = datetime.datetime.strptime(text, form)
            break
        except ValueError:
            continue
    else:
        return None
    days = (when.date() - datetime.date(1900, 1, 1)).days
    seconds = when.hour * 3600 + when.minute * 60 + when.second + when.microsecond / 1e6
    return struct.pack("<iI", days, round(seconds * 300))


def value(c, v):
    """One column's value in a row."""
    kind = c["type"]
    if kind in ("varchar", "nvarchar"):
        if v is None:
            return b"\xFF\xFF"
        if isinstance(v, bytes):
            v = v.decode("utf-8", "replace")
        data = str(v).encode(code_page_codec(c), "replace") if kind == "varchar" else str(v).encode("utf-16-le")
        limit = c["size"] * (1 if kind == "varchar" else 2)
        if len(data) > limit:
            raise ValueError("value %r wider than its column" % v)
        return struct.pack("<H", len(data)) + data
    if v is None:
        return b"\x00\x00\x00\x00" if kind == "sql_variant" else b"\x00"
    if kind in ("text", "ntext"):
        # text pointer, time stamp, then the value cut to the session's TEXTSIZE
        data = str(v).encode(code_page_codec(c), "replace") if kind == "text" else str(v).encode("utf-16-le")
        data = data[:c.get("textsize", len(data)) & ~(1 if kind == "ntext" else 0)]
        return b"\x10" + bytes(16) + bytes(8) + struct.pack("<I", len(data)) + data
    if kind in INT_SIZES:
        size = INT_SIZES[kind]
        return bytes([size]) + int(float(v or 0)).to_bytes(size, "little", signed=True)
    if kind == "bit":
        return b"\x01" + (b"\x01" if float(v or 0) else b"\x00")
    if kind == "float":
        return b"\x08" + struct.pack("<d", float(v))
    if kind == "decimal":
        number = decimal.Decimal(str(v)).quantize(decimal.Decimal(1).scaleb(-c["scale"]), decimal.ROUND_HALF_UP)
        size = decimal_size(c["precision"])
        magnitude = int(abs(number).scaleb(c["scale"]))
        return bytes([size, 0 if number < 0 else 1]) + magnitude.to_bytes(size - 1, "little")
    if kind == "datetime":
        data = datetime_value(v)
        return b"\x00" if data is None else b"\x08" + data
    if kind == "sql_variant":
        if isinstance(v, int):
            body = b"\x38\x00" + struct.pack("<i", v)
        elif isinstance(v, float):
            body = b"\x3E\x00" + struct.pack("<d", v)
        else:
            text = str(v).encode("utf-16-le")
            body = b"\xE7\x07" + struct.pack("<H", max(2, len(text))) + COLLATION + text
        return struct.pack("<I", len(body)) + body
    raise ValueError("column type %s not modelled" % kind)


def row(columns, values):
    return b"\xD1" + b"".join(value(c, v) for c, v in zip(columns, values))


def error_token(number, message, severity=16, line=1):
    body = struct.pack("<IBB", number, 1, severity) + us_varchar(message) + b_varchar("tds_responder") + \
        b_varchar("") + struct.pack("<I" if tds72() else "<H", line)
    return b"\xAA" + struct.pack("<H", len(body)) + body


# Errors after which the server has rolled the transaction back: a deadlock victim, conversion failures.
ENDS_TRANSACTION = {1205, 245, 8114}


def scripted_error(result):
    """The SqlError of a scripted error entry: "error": [number, message], optionally
    "ends_transaction": true or false (by default only 1205, 245 and 8114 end it)."""
    number, message = result["error"][:2]
    return SqlError(number, message, ends_transaction=result.get("ends_transaction", number in ENDS_TRANSACTION))


def answer(result, text, final_token):
    """Tokens for one statement: its scripted result, else DONE with a row count for a write. Inside a
    procedure's answer (DONEINPROC) the server says more follows: the return status and values, DONEPROC."""
    more = 0x01 if final_token == 0xFF else 0
    if result is None:
        words = text.strip().split(None, 1)
        writes = words and words[0].lower() in ("insert", "update", "delete", "merge")
        return done(status=more, count=1 if writes else None, token=final_token)
    columns = result["columns"]
    out = column_metadata(columns)
    for values in result.get("rows", []):
        out += row(columns, values)
    return out + done(status=more, count=len(result.get("rows", [])), token=final_token)


class Settings:
    """What kind of server the responder plays: its version (None: the LOGINACK
    of old and every statement form accepted) and whether sessions start with
    XACT_ABORT ON (the server's 'user options')."""

    def __init__(self, version=None, xact_abort=False, sqlite=None, compatibility_level=None):
        self.version, self.xact_abort, self.sqlite = version, xact_abort, sqlite
        self.compatibility_level = compatibility_level
        self.server_name = "RESPONDER"


class Session:
    def __init__(self, sock, script, record, number, settings=None):
        self.sock, self.script, self.record, self.number = sock, script, record, number
        self.settings = settings or Settings()
        self.transactions = Transactions(self.settings.xact_abort)
        self.packet_size = 4096
        self.next_handle = 1
        self.handles = {}
        self.tls, self.tls_scope = None, None  # once negotiated: the TLS session, "login" or "all"
        self.database, self.engine, self.tds_version = "master", None, TDS74
        self.descriptor, self.begun = 0, 0  # the open transaction's descriptor (0 outside one); how many began

    def transaction_changes(self, before, text):
        """From TDS 7.2 on, the ENVCHANGE that says a statement began or ended the session's transaction."""
        after = self.transactions.count
        if not tds72() or (before > 0) == (after > 0):
            return b""
        if after > 0:
            self.begun += 1
            self.descriptor = (self.number << 32) + self.begun
            return transaction_envchange(8, self.descriptor)
        ended, self.descriptor = self.descriptor, 0
        return transaction_envchange(9 if "commit" in text.lower() else 10, ended)

    def respond(self, text, final_token, params=None, parameters=0):
        """The tokens that answer one statement text: refused if the server's
        version does not take its form; else the scripted result; else the
        transaction statements and @@TRANCOUNT as the server keeps them."""
        more = 0x01 if final_token == 0xFF else 0
        try:
            error = refusal(text, self.settings.version) or limit_error(text, parameters)
            if error is not None:
                raise error
            if self.settings.sqlite:
                return self.executed(text, params or {}, final_token)
            result = self.script.find(text)
            if result is not None and "error" in result:
                raise scripted_error(result)
            if result is None:
                self.transactions.control(text)
                if Transactions.asks_count(text):
                    columns = [{"name": "", "type": "int"}]
                    return column_metadata(columns) + row(columns, [self.transactions.count]) + \
                        done(status=more, count=1, token=final_token)
            return answer(result, text, final_token)
        except SqlError as e:
            ended = self.transactions.failed(e)
            self.record(event="error", connection=self.number, number=e.number, ended_transaction=ended)
            return error_token(e.number, e.message, e.severity, e.line) + \
                done(status=0x02 | more, token=final_token)

    def executed(self, text, params, final_token):
        """The answer of the SQLite database to a batch or RPC statement."""
        if self.engine is None:
            self.engine = Engine(self.settings.sqlite, self.settings.version, self.database, session=self.number,
                                 xact_abort=self.settings.xact_abort, server_name=self.settings.server_name,
                                 compatibility_level=self.settings.compatibility_level)
            self.transactions = self.engine.transactions
        results = self.engine.run(text, params)
        tokens = b""
        for k, result in enumerate(results or [{}]):
            more = 0x01 if final_token == 0xFF or k + 1 < len(results) else 0
            if "error" in result:
                e = result["error"]
                self.record(event="error", connection=self.number, number=e.number, message=e.message,
                            ended_transaction=result["ended"])
                tokens += error_token(e.number, e.message, e.severity, e.line) + \
                    done(status=0x02 | more, token=final_token)
            elif "columns" in result:
                columns = result["columns"]
                tokens += column_metadata(columns) + b"".join(row(columns, r) for r in result["rows"]) + \
                    done(status=more, count=len(result["rows"]), token=final_token)
            else:
                tokens += done(status=more, count=result.get("count"), token=final_token)
        return tokens

    def read_message(self):
        """One whole request: (type, payload), or None when the client has gone."""
        kind, payload = None, b""
        while True:
            header = self.recv_exact(8)
            if header is None:
                return None
            kind = header[0]
            length = struct.unpack(">H", header[2:4])[0]
            body = self.recv_exact(length - 8)
            if body is None:
                return None
            payload += body
            if header[1] & 0x01:
                return kind, payload

    def recv_exact(self, n):
        if self.tls:
            while len(self.tls.plain) < n:
                try:
                    self.tls.plain += self.tls.obj.read(65536)
                except ssl.SSLWantReadError:
                    chunk = self.sock.recv(65536)
                    if not chunk:
                        return None
                    self.tls.incoming.write(chunk)
            data, self.tls.plain = self.tls.plain[:n], self.tls.plain[n:]
            return data
        data = b""
        while len(data) < n:
            chunk = self.sock.recv(n - len(data))
            if not chunk:
                return None
            data += chunk
        return data

    def send(self, tokens, kind=REPLY):
        size = self.packet_size - 8
        chunks = [tokens[i:i + size] for i in range(0, len(tokens), size)] or [b""]
        for i, chunk in enumerate(chunks):
            last = 0x01 if i == len(chunks) - 1 else 0x00
            packet = struct.pack(">BBHHBB", kind, last, len(chunk) + 8, 0, i + 1, 0) + chunk
            if self.tls:
                self.tls.obj.write(packet)
                packet = self.tls.outgoing.read()
            self.sock.sendall(packet)

    def handshake(self, tls):
        """The TLS handshake, its records inside PRELOGIN packets both ways."""
        while True:
            try:
                tls.obj.do_handshake()
                finished = True
            except ssl.SSLWantReadError:
                finished = False
            out = tls.outgoing.read()
            if out:
                self.send(out, kind=PRELOGIN)
            if finished:
                return True
            message = self.read_message()
            if message is None:
                return False
            tls.incoming.write(message[1])

    def prelogin(self, payload):
        options, i = {}, 0
        while i < len(payload) and payload[i] != 0xFF:
            kind, offset, length = payload[i], *struct.unpack(">HH", payload[i + 1:i + 5])
            options[kind] = payload[offset:offset + length]
            i += 5
        instance = options.get(2, b"").split(b"\0")[0].decode("latin-1")
        self.record(event="prelogin", connection=self.number,
                    encryption=options[1][0] if options.get(1) else None,
                    mars=options[4][0] if options.get(4) else None, instance=instance)
        # The server's answer and what gets encrypted (MS-TDS 2.2.6.5): without a certificate nothing; with one,
        # the login alone for a client that can encrypt, everything for one that asks or where the server
        # forces it, and a client that cannot meets a forcing server's end of the connection.
        client = options[1][0] if options.get(1) else ENCRYPT_NOT_SUP
        encryption, scope = ENCRYPT_NOT_SUP, None
        if SERVER["tls"] == "available" and client != ENCRYPT_NOT_SUP:
            encryption, scope = (ENCRYPT_ON, "all") if client == ENCRYPT_ON else (ENCRYPT_OFF, "login")
        elif SERVER["tls"] == "required":
            encryption, scope = (ENCRYPT_ON if client == ENCRYPT_ON else ENCRYPT_REQ), "all"
        # version 15.0, no instance check, MARS off
        values = [(0, bytes([15, 0, 0x07, 0xD0, 0, 0])), (1, bytes([encryption])), (2, b"\x00"), (4, b"\x00")]
        offset = 5 * len(values) + 1
        head, body = b"", b""
        for kind, value in values:
            head += struct.pack(">BHH", kind, offset + len(body), len(value))
            body += value
        self.send(head + b"\xFF" + body)
        if SERVER["tls"] == "required" and client == ENCRYPT_NOT_SUP:
            self.record(event="terminated", connection=self.number, reason="encryption required")
            return False
        if scope:
            tls = Tls(SERVER["context"])
            if not self.handshake(tls):
                return False
            self.tls, self.tls_scope = tls, scope
            self.record(event="tls", connection=self.number, scope=scope, protocol=tls.obj.version())
        return True

    def login(self, payload):
        version, packet_size = struct.unpack("<II", payload[4:12])
        fields = {}
        for name, at in (("host", 36), ("user", 40), ("password", 44), ("app", 48), ("server", 52),
                         ("library", 60), ("language", 64), ("database", 68)):
            offset, chars = struct.unpack("<HH", payload[at:at + 4])
            fields[name] = payload[offset:offset + 2 * chars].decode("utf-16-le", "replace")
        password_chars = len(fields.pop("password"))
        # The newest TDS the server's version speaks (MS-TDS LOGINACK: 2000 7.1, 2005 7.2, 2008 7.3, 2012 on 7.4),
        # at most what --tds allows and what the client offered.
        highest = min(SERVER["tds"], VERSIONS[self.settings.version][1]) if self.settings.version else SERVER["tds"]
        answer_version = min(version, highest) if version >= 0x70000000 else highest
        self.record(event="login", connection=self.number, tds_version="%#x" % version,
                    answered_tds="%#x" % answer_version, packet_size=packet_size, password_chars=password_chars,
                    **fields)
        WIRE.version = answer_version
        if self.tls_scope == "login":  # the answer and everything after it go unencrypted
            self.tls = None
        if SERVER["refuse_login"]:
            self.record(event="refused", connection=self.number)
            self.send(error_token(18456, "Login failed for user '%s'." % fields["user"]) + done(status=0x02))
            return False
        self.packet_size = packet_size if 512 <= packet_size <= 32767 else 4096
        database = fields["database"] or "master"
        self.database = database
        major, minor, build = VERSIONS[self.settings.version][0] if self.settings.version else (15, 0, 2000)
        ack_body = b"\x01" + struct.pack(">I", answer_version) + b_varchar("Microsoft SQL Server") + \
            bytes([major, minor]) + struct.pack(">H", build)
        self.tds_version = answer_version
        tokens = envchange(1, database, "master")
        tokens += b"\xE3" + struct.pack("<H", 3 + len(COLLATION)) + bytes([7, len(COLLATION)]) + COLLATION + b"\x00"
        tokens += envchange(3, "cp936", "iso_1")
        tokens += b"\xAD" + struct.pack("<H", len(ack_body)) + ack_body
        tokens += envchange(4, str(self.packet_size), "4096")
        tokens += done()
        self.send(tokens)
        return True

    def batch(self, payload):
        r = Reader(payload)
        skip_all_headers(r)
        text = r.data[r.pos:].decode("utf-16-le", "replace")
        self.record(event="batch", connection=self.number, text=text)
        before = self.transactions.count
        tokens = self.respond(text, 0xFD)
        self.send(self.transaction_changes(before, text) + tokens)

    def rpc(self, payload):
        proc, params = parse_rpc(Reader(payload))
        values = [p for p in params if not p["output"]]
        text, inputs, handle_out = "", values, None
        if proc in ("sp_executesql",):
            text, inputs = (values[0]["value"] or ""), values[2:]
        elif proc in ("sp_prepexec", "sp_prepare"):
            handle_out = self.next_handle
            self.next_handle += 1
            text = (values[1]["value"] or "") if len(values) > 1 else ""
            self.handles[handle_out] = text
            inputs = values[2:]
        elif proc == "sp_execute":
            text, inputs = self.handles.get(params[0]["value"], ""), params[1:]
        elif proc == "sp_unprepare":
            text, inputs = "", []
        self.record(event="rpc", connection=self.number, proc=proc, text=text,
                    declaration=values[1]["value"] if proc in ("sp_executesql",) and len(values) > 1
                    else (values[0]["value"] if proc in ("sp_prepexec", "sp_prepare") and values else None),
                    params=inputs)
        tokens, before = b"", self.transactions.count
        if proc in ("sp_prepare", "sp_unprepare") or not text:
            tokens = done(status=0x01, token=0xFF) if proc == "sp_prepare" else b""
        else:
            tokens = self.respond(text, 0xFF, {(p["name"] or "@P%d" % (k + 1)).lstrip("@"): p["value"]
                                               for k, p in enumerate(inputs)}, len(params))
        tokens = self.transaction_changes(before, text) + tokens
        tokens += b"\x79" + struct.pack("<i", 0)  # return status
        if handle_out is not None:
            tokens += b"\xAC" + struct.pack("<H", 0) + b_varchar("") + b"\x01" + user_type() + \
                struct.pack("<H", 0x0009) + \
                b"\x26\x04" + b"\x04" + struct.pack("<i", handle_out)
        tokens += done(token=0xFE)
        self.send(tokens)

    def serve(self):
        try:
            while True:
                message = self.read_message()
                if message is None:
                    break
                kind, payload = message
                if kind == PRELOGIN:
                    if not self.prelogin(payload):
                        break
                elif kind == LOGIN7:
                    if not self.login(payload):
                        break
                elif kind == BATCH:
                    self.batch(payload)
                elif kind == RPC:
                    self.rpc(payload)
                elif kind == ATTENTION:
                    self.send(done(status=0x20))
                else:
                    self.record(event="unexpected", connection=self.number, packet_type=kind)
                    break
        except (BrokenPipeError, ConnectionResetError):
            # The client may leave without reading the answer to its last request (FreeTDS's sp_unprepare on close).
            self.record(event="left", connection=self.number)
        except (OSError, ValueError, IndexError, KeyError, struct.error) as e:
            self.record(event="failed", connection=self.number, reason=str(e))
        finally:
            self.record(event="closed", connection=self.number)
            self.sock.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--script")
    parser.add_argument("--record", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--idle", type=float, default=1.0)
    parser.add_argument("--timeout", type=float, default=60.0)
    parser.add_argument("--tls", choices=("available", "required"),
                        help="a certificate; required: Force Encryption")
    parser.add_argument("--tds", choices=("7.1", "7.4"), default="7.4", help="the highest TDS version answered")
    parser.add_argument("--refuse-login", action="store_true", help="answer every login with error 18456")
    parser.add_argument("--server-version", choices=sorted(VERSIONS),
                        help="the SQL Server version in LOGINACK; statement forms it lacks are refused")
    parser.add_argument("--sqlite", help="run what arrives on this SQLite database instead of a script")
    parser.add_argument("--compatibility-level", type=int,
                        help="the database's level in sys.databases and sysdatabases (default: the version's own)")
    parser.add_argument("--xact-abort", action="store_true",
                        help="sessions start with XACT_ABORT ON: any run-time error ends the transaction")
    args = parser.parse_args()
    certificates = tempfile.TemporaryDirectory()
    SERVER.update(tls=args.tls, tds=TDS71 if args.tds == "7.1" else TDS74, refuse_login=args.refuse_login,
                  context=make_tls_context(certificates.name) if args.tls else None)
    settings = Settings(args.server_version, args.xact_abort, args.sqlite, args.compatibility_level)

    if not args.script and not args.sqlite:
        parser.error("give --script or --sqlite")
    script, record = Script(args.script) if args.script else None, Recorder(args.record)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", args.port))
    listener.listen(8)
    listener.settimeout(0.2)
    print(listener.getsockname()[1], flush=True)
    settings.server_name = "RESPONDER%d" % listener.getsockname()[1]  # one name per server, as machines have

    started = time.monotonic()
    open_sessions, served, last_close = [], 0, None
    while time.monotonic() - started < args.timeout:
        open_sessions = [t for t in open_sessions if t.is_alive()]
        if open_sessions:
            last_close = time.monotonic()
        elif served and time.monotonic() - last_close >= args.idle:
            return 0
        try:
            sock, _ = listener.accept()
        except socket.timeout:
            continue
        sock.settimeout(args.timeout)
        served += 1
        last_close = time.monotonic()
        thread = threading.Thread(target=Session(sock, script, record, served, settings).serve, daemon=True)
        thread.start()
        open_sessions.append(thread)
    record(event="timeout")
    return 1


if __name__ == "__main__":
    sys.exit(main())
