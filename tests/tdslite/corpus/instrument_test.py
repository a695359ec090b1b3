"""The corpus runner's own judgement: how it compares values, types, result
sets and errors, and which cases it also sends through tsql. A fault here
would turn a wrong answer into a pass, so each rule has a case both ways.

Usage: instrument_test.py (no server needed)
"""
import datetime
import sys

sys.dont_write_bytecode = True

import corpus  # noqa: E402
from casekit import C, D, DT, R, split_cols  # noqa: E402

failures = []


def check(what, got, want):
    if got != want:
        failures.append("%s: got %r, expected %r" % (what, got, want))


UTC = datetime.timezone.utc
PLUS2 = datetime.timezone(datetime.timedelta(hours=2))

# (got, want, same?)
VALUES = [
    (1, 1, True),
    (True, 1, False),
    (1, True, False),
    (True, True, True),
    (D("30"), D("30.0000"), True),
    (D("30.1"), D("30.0000"), False),
    (30, D("30"), False),
    (2.5, 2.5, True),
    (2, 2.0, False),
    ("a", "a", True),
    ("a ", "a", False),
    (b"a", "a", False),
    (b"\x00", b"\x00", True),
    (None, None, True),
    (None, 0, False),
    ("", None, False),
    (DT(2024, 3, 5), datetime.date(2024, 3, 5), False),
    (datetime.date(2024, 3, 5), datetime.date(2024, 3, 5), True),
    (DT(2024, 3, 5, 10, tzinfo=PLUS2), DT(2024, 3, 5, 10, tzinfo=PLUS2), True),
    (DT(2024, 3, 5, 8, tzinfo=UTC), DT(2024, 3, 5, 10, tzinfo=PLUS2), False),
    (DT(2024, 3, 5, 10), DT(2024, 3, 5, 10, tzinfo=PLUS2), False),
]
for got, want, same in VALUES:
    check("same_value(%r, %r)" % (got, want), corpus.same_value(got, want), same)

check("split_cols", split_cols("a, :int, c:Decimal(11,4), d"),
      [("a", None), ("", "int"), ("c", "decimal(11,4)"), ("d", None)])
check("ordered rows", corpus.same_rows([(2,), (1,)], [(1,), (2,)], True), False)
check("unordered rows", corpus.same_rows([(2,), (1,)], [(1,), (2,)], False), True)
check("row count", corpus.same_rows([(1,)], [(1,), (1,)], False), False)


def answer(results=(), error=None):
    a = corpus.Answer()
    a.results = list(results)
    a.error = error
    return a


ONE = ([("n", "int")], [(1,)])
# (case, answer, passes?)
COMPARE = [
    (C("x", "q", cols="n:int", rows=[(1,)]), answer([ONE]), True),
    (C("x", "q", cols="n:bigint", rows=[(1,)]), answer([ONE]), False),
    (C("x", "q", cols="m", rows=[(1,)]), answer([ONE]), False),
    (C("x", "q", cols="n", rows=[(2,)]), answer([ONE]), False),
    (C("x", "q", cols="n", rows=[(1,)]), answer([ONE, ONE]), False),
    (C("x", "q", cols="s:nvarchar", rows=[("a",)]),
     answer([([("s", "nvarchar(30)")], [("a",)])]), True),
    (C("x", "q", cols="s:nvarchar(4)", rows=[("a",)]),
     answer([([("s", "nvarchar(3)")], [("a",)])]), False),
    (C("x", "q", cols="d:decimal(11,4)", rows=[(D("30.0000"),)]),
     answer([([("d", "decimal(4,0)")], [(D("30"),)])]), False),
    (C("x", "q", error=(208, 16)), answer(error=(208, 16, "Invalid object name")), True),
    (C("x", "q", error=(208, 16)), answer(error=(207, 16, "Invalid column name")), False),
    (C("x", "q", error=(2627, 14)), answer(error=(2627, 16, "Violation")), False),
    (C("x", "q", error=(208, 16)), answer([ONE]), False),
    (C("x", "q", cols="n", rows=[(1,)]), answer([ONE], error=(8134, 16, "Divide")), False),
    # The metadata of the failing statement may precede its error.
    (C("x", "q", error=(245, 16)), answer([([("n", "int")], [])], (245, 16, "Conversion")), True),
    (C("x", "q", results=[]), answer([ONE]), False),
    (C("x", "q", results=[R("b, a", [(2, 1)], subset=True)]),
     answer([([("a", "int"), ("b", "int"), ("c", "int")], [(1, 2, 3)])]), True),
    (C("x", "q", results=[R("b, z", [(2, 1)], subset=True)]),
     answer([([("a", "int"), ("b", "int")], [(1, 2)])]), False),
    (C("x", "q", results=[R("n", None)]), answer([ONE]), True),
    (C("x", "q", results=[R("n", [(1,)])], first=True), answer([ONE, ONE]), True),
]
for i, (case, ans, passes) in enumerate(COMPARE):
    diff = corpus.compare(case, ans)
    check("compare #%d (%s)" % (i, diff), diff is None, passes)

# Output parameters and the return status of an RPC.
rpc_ans = answer([])
rpc_ans.outputs, rpc_ans.status = [42], 0
check("rpc outputs", corpus.compare(C("x", rpc=("p", ()), outputs=[42], status=0), rpc_ans), None)
check("rpc wrong status",
      corpus.compare(C("x", rpc=("p", ()), outputs=[42], status=3), rpc_ans) is None, False)
check("rpc wrong output",
      corpus.compare(C("x", rpc=("p", ()), outputs=[41], status=0), rpc_ans) is None, False)


class Ser:
    def __init__(self, tid, size=None, precision=None, scale=None, name="Ser"):
        self.tid, self.size, self.precision, self.scale = tid, size, precision, scale
        self.__class__ = type(name, (Ser,), {})

    def get_typeid(self):
        return self.tid


class Col:
    def __init__(self, ser):
        self.serializer = ser


TYPES = [
    (Ser(56), "int"),
    (Ser(106, precision=11, scale=4), "decimal(11,4)"),
    (Ser(108, precision=38, scale=0), "decimal(38,0)"),
    (Ser(167, size=30), "varchar(30)"),
    (Ser(231, size=4.0), "nvarchar(4)"),
    (Ser(231, name="NVarCharMaxSerializer"), "nvarchar(max)"),
    (Ser(173, size=2), "binary(2)"),
    (Ser(42, precision=3), "datetime2(3)"),
    (Ser(41, precision=7), "time(7)"),
    (Ser(40), "date"),
    (Ser(36), "uniqueidentifier"),
]
for ser, name in TYPES:
    check("type_name %s" % name, corpus.type_name(Col(ser)), name)

ELIGIBLE = [
    (C("x", "select 1 as n", cols="n", rows=[(1,)]), True),
    (C("x", "select 'a b' as s", cols="s", rows=[("a b",)]), True),
    (C("x", "select ' a' as s", cols="s", rows=[(" a",)]), False),
    (C("x", "insert into t values (1)", then=("select 1", [(1,)])), False),
    (C("x", "select * into t2 from t", cols="n", rows=[(1,)]), False),
    (C("x", "select getdate() as d", cols="d", rows=[(1,)]), False),
    (C("x", "select 2.5e0 as f", cols="f", rows=[(2.5,)]), False),
    (C("x", "select * from nosuch", error=(208, 16)), True),
    (C("x", "select 1 as n", cols="n", rows=[(1,)], tds="7.1"), False),
    (C("x", "select %s as n", params=(1,), cols="n", rows=[(1,)]), False),
    (C("x", "select 1 / 0", error=(8134, 16)), False),
    (C("x", "select 'a' + null as s", cols="s", rows=[(None,)]), False),
    (C("x", rpc=("p", ()), cols="n", rows=[(1,)]), False),
]
for case, eligible in ELIGIBLE:
    check("tsql_eligible %r" % case.sql, corpus.tsql_eligible(case), eligible)

for f in failures:
    print("FAIL " + f)
print("%d failure(s)" % len(failures) if failures else "ok")
sys.exit(1 if failures else 0)
