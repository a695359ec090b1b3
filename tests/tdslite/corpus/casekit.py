"""The vocabulary of the corpus files: a case is a statement or a small
batch a client script sends, with the answer SQL Server gives to it.

    C(id, sql, cols=..., rows=...)        one result set
    C(id, sql, results=[R(cols, rows), ...])  several result sets
    C(id, sql, error=(number, severity))  the batch ends in that error
    prep=[batch, ...]   batches run first on the same connection (must succeed)
    then=(sql, rows)    a query run afterwards on the same connection, whose
                        rows show what the batch changed (or did not change)
    apart=True          the prep batches run on a second connection that stays
                        open while the case runs; apart="closed" closes it first
    params=(...)        the batch is sent with these parameters (an RPC of
                        sp_executesql; `%s` marks a parameter in the text)
    rpc=(name, params)  instead of a batch, an RPC of procedure `name`; OUT(type)
                        marks an output parameter; outputs=[values], status=N
                        are the output parameters and the return status expected
    tds="7.1"           the protocol version of the connection (default 7.4)
    ordered=False       the rows may come in any order

R(cols, rows, subset=True) compares only the named columns of a result set
(clients that read a few columns of a procedure's wide answer); rows=None
compares the columns only. C(..., first=True) compares only the first result
sets given (a procedure that answers more than the client reads).

`cols` is a string of comma-separated columns, each `name` or `name:type`
(an empty name is written `:type` or left empty between commas); a type is
compared as the column metadata carries it, e.g. `decimal(11,4)`,
`varchar(3)`, `nvarchar(30)`, `datetime2(7)`, `varchar(max)`. decimal and
numeric are one type here. Decimal and money values are written with the
digits SQL Server prints (30.0000): python-tds drops trailing zeros, so
through it they compare by value (give the column's type to pin the scale),
and through tsql, which prints every digit, exactly.
"""
import datetime
import decimal
import uuid

D = decimal.Decimal
DT = datetime.datetime
DATE = datetime.date
TIME = datetime.time
UUID = uuid.UUID


def split_cols(text):
    """Splits `cols` at the commas outside parentheses."""
    out, depth, cur = [], 0, ""
    for ch in text:
        if ch == "(":
            depth += 1
        elif ch == ")":
            depth -= 1
        if ch == "," and depth == 0:
            out.append(cur.strip())
            cur = ""
        else:
            cur += ch
    out.append(cur.strip())
    cols = []
    for item in out:
        name, sep, typ = item.partition(":")
        cols.append((name.strip(), typ.strip().lower() if sep else None))
    return cols


class R:
    """One expected result set."""

    def __init__(self, cols, rows, subset=False):
        self.cols = split_cols(cols)
        self.rows = None if rows is None else [tuple(r) for r in rows]
        self.subset = subset


class OUT:
    """An output parameter of an RPC, of the given SQL type."""

    def __init__(self, sqltype, value=None):
        self.sqltype = sqltype
        self.value = value


class C:
    """One case of the corpus."""

    def __init__(self, id, sql=None, cols=None, rows=None, results=None, error=None, prep=(),
                 then=None, tds="7.4", ordered=True, note="", apart=False, params=None,
                 rpc=None, outputs=None, status=None, first=False):
        assert (cols is None) == (rows is None), id
        assert (sql is None) != (rpc is None), id
        if results is None:
            results = [R(cols, rows)] if cols is not None else []
        self.id = id
        self.sql = sql
        self.apart = apart
        self.params = params
        self.rpc = rpc
        self.outputs = outputs
        self.status = status
        self.first = first
        self.results = results
        self.error = error
        self.prep = list(prep)
        self.then = then
        self.tds = tds
        self.ordered = ordered
        self.note = note
        self.feature = None


# The tables every group starts with.
STANDARD = [
    "create table dept (id int not null primary key, name varchar(30) not null)",
    "insert into dept (id, name) values (10, 'Sales'), (20, 'Research'), (30, 'Accounting')",
    "create table emp (id int not null primary key, name varchar(30) not null, dept_id int null,"
    " salary decimal(10,2) null, hired datetime null, manager_id int null)",
    "insert into emp (id, name, dept_id, salary, hired, manager_id) values"
    " (1, 'Alice', 10, 5000.00, '2019-03-15', null),"
    " (2, 'Bob', 10, 4200.50, '2020-07-01', 1),"
    " (3, 'Carol', 20, 6100.00, '2018-01-10', 1),"
    " (4, 'Dave', 20, 3900.00, '2021-11-30', 3),"
    " (5, 'Eve', null, null, null, null)",
]
