"""Transact-SQL as a given SQL Server version takes it, for tests/tds_responder.py.

Which statement forms a version refuses, and with which error (as Microsoft's
documentation of each version describes the syntax), and the transaction count
a session keeps. Python 3 standard library only.
"""

import re

# LOGINACK program versions (major, minor, build) and the newest TDS each speaks.
VERSIONS = {
    "8.0": ((8, 0, 2039), 0x71000001),    # SQL Server 2000 SP4
    "9.0": ((9, 0, 5000), 0x72090002),    # SQL Server 2005 SP4
    "10.50": ((10, 50, 6000), 0x730B0003),  # SQL Server 2008 R2 SP3
    "16.0": ((16, 0, 1000), 0x74000004),  # SQL Server 2022
}

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
    if token.low in ("values", "over", "select", "from", "where"):
        return SqlError(156, "Incorrect syntax near the keyword '%s'." % token.low, 15, line=line)
    if major < 9:
        return SqlError(170, "Line %d: Incorrect syntax near '%s'." % (line, token.text), 15, line=line)
    return SqlError(102, "Incorrect syntax near '%s'." % token.text, 15, line=line)


def refusal(text, version):
    """The error with which the server of the given version ("8.0", "9.0",
    "10.50", "16.0"; None: any form accepted) refuses the batch, or None.

    Table value constructors and INSERT with several VALUES rows came with 2008
    (10.0); APPLY, OVER, the sys schema's catalog views, schema_name() and
    varchar(max) with 2005 (9.0). A syntax error is found when the batch is
    compiled, before a missing object."""
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
        if major < 9:
            if t.low == "apply" and _is(tokens, i - 1, "cross", "outer"):
                found = t
            elif t.low == "over" and _is(tokens, i + 1, "("):
                found = t
            elif t.low == "max" and _is(tokens, i - 1, "(") and _is(tokens, i - 2, "varchar", "nvarchar",
                                                                    "varbinary"):
                found = t
            elif t.low == "schema_name" and _is(tokens, i + 1, "(") and unknown_function is None:
                unknown_function = SqlError(195, "'%s' is not a recognized function name." % t.text,
                                            15, line=_line(text, t))
            elif t.low == "sys" and _is(tokens, i + 1, ".") and i + 2 < len(tokens) and missing is None \
                    and not _is(tokens, i - 1, "."):
                missing = SqlError(208, "Invalid object name 'sys.%s'." % tokens[i + 2].text,
                                   16, line=_line(text, t))
        if found is not None and syntax is None:
            syntax = _syntax_error(major, text, found)
    return syntax or unknown_function or missing


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
