"""Runs the Transact-SQL corpus against tdslite and measures how many cases
it answers exactly as SQL Server does.

Every group (groups/gNN_*.py) runs on a fresh server and database: the
group's SETUP batches first, then each case on a connection of its own
(python3-tds; the read-only cases whose values are numbers and strings also
through tsql). Each case ends as

  EXACT    the answer is SQL Server's: result sets (column names, types
           where the case gives them, values) or the error number and
           severity, and the rows of its follow-up query;
  REFUSED  tdslite answered with its clear "not supported" error 50100;
  WRONG    any other answer (a different value, type, error, or a
           dropped connection).

The run fails only when a case listed in exact.txt (the cases tdslite
answered exactly before) now answers WRONG, or when the server dies;
refusals never fail it.

Usage: corpus.py PATH/TO/tdslite [--only PREFIX] [--update] [--markdown] [--reasons] [--quiet]
  --only PREFIX  run the cases whose id starts with PREFIX
  --update       add every case answered exactly to exact.txt
  --markdown     print the per-group table in markdown as well
  --reasons      print, per group, how often each refusal message came back
  --quiet        leave out the list of wrong and refused cases
"""
import argparse
import datetime
import decimal
import glob
import importlib.util
import os
import re
import sys
import time

sys.dont_write_bytecode = True  # the groups are imported from the source tree
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "conformance"))
sys.path.insert(0, HERE)

import pytds  # noqa: E402
from pytds import tds_base  # noqa: E402
from pytds import tds_types  # noqa: E402

from harness import Server, tsql  # noqa: E402
from casekit import OUT  # noqa: E402

REFUSAL = 50100
VERSIONS = {"7.0": tds_base.TDS70, "7.1": tds_base.TDS71, "7.2": tds_base.TDS72,
            "7.3": tds_base.TDS73, "7.4": tds_base.TDS74}

FIXED = {48: "tinyint", 52: "smallint", 56: "int", 127: "bigint", 50: "bit", 59: "real",
         62: "float", 60: "money", 122: "smallmoney", 61: "datetime", 58: "smalldatetime",
         36: "uniqueidentifier", 40: "date", 35: "text", 99: "ntext", 34: "image",
         241: "xml", 98: "sql_variant"}
SIZED = {167: "varchar", 39: "varchar", 175: "char", 47: "char", 231: "nvarchar",
         239: "nchar", 165: "varbinary", 37: "varbinary", 173: "binary", 45: "binary"}
SCALED = {41: "time", 42: "datetime2", 43: "datetimeoffset"}
MAX_SERIALIZERS = {"VarCharMaxSerializer": "varchar(max)", "NVarCharMaxSerializer": "nvarchar(max)",
                   "VarBinarySerializerMax": "varbinary(max)"}


# python3-tds reads char/binary/nchar columns with the serializers of their
# variable-length kin and forgets the type on the wire: keep it.
_FIXED_LENGTH_WIRE_TYPES = (175, 47, 173, 45, 239)
_get_type_serializer = tds_types.SerializerFactory.get_type_serializer


def _wire_type_serializer(self, tds_type_id):
    cls = _get_type_serializer(self, tds_type_id)
    if tds_type_id not in _FIXED_LENGTH_WIRE_TYPES:
        return cls

    class Tagged:
        @staticmethod
        def from_stream(r):
            se = cls.from_stream(r)
            se.wire_type_id = tds_type_id
            return se
    return Tagged


tds_types.SerializerFactory.get_type_serializer = _wire_type_serializer


def type_name(col):
    """The column's type as its metadata names it: int, decimal(11,4), ..."""
    se = col.serializer
    tid = getattr(se, "wire_type_id", None) or se.get_typeid()
    cls = type(se).__name__
    if tid in (106, 108, 55, 63):
        return "decimal(%d,%d)" % (se.precision, se.scale)
    if tid in SCALED:
        return "%s(%d)" % (SCALED[tid], se.precision)
    # python3-tds reports nvarchar(max) under ntext's type number.
    if cls in MAX_SERIALIZERS:
        return MAX_SERIALIZERS[cls]
    if tid in SIZED:
        return "%s(%d)" % (SIZED[tid], int(se.size))
    if tid in FIXED:
        return FIXED[tid]
    return "type%d" % tid


def same_value(got, want):
    if want is None or got is None:
        return got is None and want is None
    if isinstance(want, bool) or isinstance(got, bool):
        return type(got) is type(want) and got == want
    if isinstance(want, decimal.Decimal):
        # python-tds divides by 10**scale, which drops trailing zeros.
        return isinstance(got, decimal.Decimal) and got == want
    if isinstance(want, float):
        return isinstance(got, float) and got == want
    if isinstance(want, int):
        return type(got) is int and got == want
    if isinstance(want, datetime.datetime):
        if type(got) is not type(want) or (got.tzinfo is None) != (want.tzinfo is None):
            return False
        return got == want and got.utcoffset() == want.utcoffset()
    if isinstance(want, (datetime.date, datetime.time)):
        return type(got) is type(want) and got == want
    if isinstance(want, (bytes, bytearray)):
        return isinstance(got, (bytes, bytearray)) and bytes(got) == bytes(want)
    return type(got) is type(want) and got == want


def same_rows(got, want, ordered):
    if len(got) != len(want):
        return False
    if not ordered:
        key = repr
        got, want = sorted(got, key=key), sorted(want, key=key)
    for g, w in zip(got, want):
        if len(g) != len(w) or not all(same_value(a, b) for a, b in zip(g, w)):
            return False
    return True


class Answer:
    def __init__(self):
        self.results = []   # [(cols [(name, type)], rows)]
        self.error = None   # (number, severity, message)
        self.lost = None    # the connection broke: why
        self.outputs = None
        self.status = None


def to_param(p):
    if isinstance(p, OUT):
        return pytds.output(value=p.value, param_type=p.sqltype)
    # python3-tds sends plain bytes as text unless they are marked binary.
    if isinstance(p, bytes):
        return tds_types.Binary(p)
    return p


def run_batch(cur, sql, params=None, rpc=None):
    ans = Answer()
    try:
        if rpc:
            name, args = rpc
            if isinstance(args, dict):
                args = {k: to_param(v) for k, v in args.items()}
            else:
                args = [to_param(v) for v in args]
            cur.callproc(name, args)
        elif params is not None:
            cur.execute(sql, tuple(to_param(p) for p in params))
        else:
            cur.execute(sql)
        while True:
            if cur.description is not None:
                cols = [(c.column_name, type_name(c)) for c in cur._session.res_info.columns]
                ans.results.append((cols, [tuple(r) for r in cur.fetchall()]))
            if not cur.nextset():
                break
        if rpc:
            # In call order. RETURNVALUE carries the parameter's position in
            # the call, which get_proc_outputs() takes for a position among
            # the output parameters only.
            ans.outputs = [p.value for _, p in sorted(cur._session.output_params.items())]
            ans.status = cur.get_proc_return_status()
    except pytds.Error as e:
        number = getattr(e, "msg_no", None) or getattr(e, "number", None)
        if number:
            ans.error = (number, getattr(e, "severity", None), str(e).splitlines()[0])
        else:
            ans.lost = "%s: %s" % (type(e).__name__, e)
    except Exception as e:  # noqa: BLE001 - a broken stream or client failure is an answer too
        ans.lost = "%s: %s" % (type(e).__name__, e)
    return ans


def show_results(results):
    return "; ".join("[%s] %r" % (", ".join("%s:%s" % c for c in cols), rows)
                     for cols, rows in results) or "no result"


def compare(case, ans):
    """Answers None when `ans` is SQL Server's answer, else what differs."""
    got = list(ans.results)
    want = case.results
    if case.error:
        if ans.error is None:
            return "no error (expected %d): %s" % (case.error[0], show_results(got))
        if tuple(ans.error[:2]) != tuple(case.error):
            return "error %d severity %s (expected %d severity %d): %s" % (
                ans.error[0], ans.error[1], case.error[0], case.error[1], ans.error[2])
        # The metadata of the statement that failed may come before the error.
        if len(got) == len(want) + 1 and not got[-1][1]:
            got = got[:-1]
        if want and len(got) != len(want):
            return "%d result set(s) before the error (expected %d)" % (len(got), len(want))
    elif ans.error:
        return "error %d severity %s: %s" % ans.error
    if case.first and len(got) > len(want):
        got = got[:len(want)]
    if len(got) != len(want):
        return "%d result set(s) (expected %d): %s" % (len(got), len(want), show_results(got))
    for i, ((cols, rows), r) in enumerate(zip(got, want)):
        names = [c[0] for c in cols]
        if r.subset:
            missing = [c[0] for c in r.cols if c[0] not in names]
            if missing:
                return "result %d has no column %r: %r" % (i + 1, missing, names)
            pick = [names.index(c[0]) for c in r.cols]
            cols = [cols[k] for k in pick]
            rows = [tuple(row[k] for k in pick) for row in rows]
            names = [c[0] for c in cols]
        if names != [c[0] for c in r.cols]:
            return "result %d columns %r (expected %r)" % (i + 1, names, [c[0] for c in r.cols])
        for (name, typ), (_, wtyp) in zip(cols, r.cols):
            if wtyp is None:
                continue
            if typ != wtyp and not ("(" not in wtyp and typ.split("(")[0] == wtyp):
                return "result %d column %r is %s (expected %s)" % (i + 1, name, typ, wtyp)
        if r.rows is not None and not same_rows(rows, r.rows, case.ordered):
            return "result %d rows %r (expected %r)" % (i + 1, rows, r.rows)
    if case.outputs is not None:
        if ans.outputs is None or not same_rows([tuple(ans.outputs)], [tuple(case.outputs)], True):
            return "output parameters %r (expected %r)" % (ans.outputs, case.outputs)
    if case.status is not None and ans.status != case.status:
        return "return status %r (expected %r)" % (ans.status, case.status)
    return None


# tsql prints numbers and strings as they are; only read-only cases with such
# values are run through it as well (a changing batch would run twice).
CHANGES = re.compile(r"\b(insert|update|delete|create|drop|alter|truncate|exec|execute|into|"
                     r"merge|set|waitfor|use|sp_\w+|raiserror|throw|print|newid|getdate|"
                     r"sysdatetime|getutcdate|rand)\b", re.I)


def tsql_text(v):
    if v is None:
        return "NULL"
    if isinstance(v, bool):
        return "1" if v else "0"
    return str(v)


# python-tds logs in as an ODBC client, for which SQL Server turns on
# ANSI_WARNINGS, ANSI_NULLS and CONCAT_NULL_YIELDS_NULL; the answers that hang
# on those settings (NULL comparisons and concatenation, arithmetic and
# truncation errors) are not asked of tsql, whose login may not.
SETTING_ERRORS = {8134, 8115, 220, 8152}
NULLS = re.compile(r"\bnull\b", re.I)


def tsql_eligible(case):
    if case.rpc or case.params is not None or case.first or any(r.subset for r in case.results):
        return False
    if case.error and case.error[0] in SETTING_ERRORS:
        return False
    if NULLS.search(case.sql):
        return False
    if case.prep or case.then or case.tds != "7.4" or CHANGES.search(case.sql):
        return False
    if "\ngo" in case.sql.lower() or "\t" in case.sql:
        return False
    if case.error:
        return not case.results
    if len(case.results) != 1 or not case.ordered:
        return False
    for row in case.results[0].rows or [None]:
        if row is None:
            return False
        for v in row:
            if v is not None and not isinstance(v, (int, str, decimal.Decimal)):
                return False
            if isinstance(v, str) and (v != v.strip() or "\n" in v or "\t" in v or v == ""):
                return False
    return True


def tsql_check(port, case):
    rc, out, err = tsql(port, case.sql + "\ngo\n")
    if case.error:
        m = re.search(r"Msg (\d+) \(severity (\d+)", err)
        if not m or (int(m.group(1)), int(m.group(2))) != tuple(case.error):
            return "tsql: %r (expected Msg %d severity %d)" % (err.strip()[:200], *case.error)
        return None
    if "Msg " in err:
        return "tsql: %s" % err.strip()[:200]
    r = case.results[0]
    lines = [ln for ln in out.split("\n") if ln != ""]
    want = ["\t".join(c[0] for c in r.cols)] + ["\t".join(tsql_text(v) for v in row)
                                                for row in r.rows]
    if all(c[0] == "" for c in r.cols):
        want = want[1:]
        lines = lines[1:] if lines and lines[0].strip() == "" else lines
    if lines != want:
        return "tsql printed %r (expected %r)" % (lines, want)
    return None


def load_groups():
    groups = []
    for path in sorted(glob.glob(os.path.join(HERE, "groups", "g*.py"))):
        name = os.path.splitext(os.path.basename(path))[0]
        found = importlib.util.spec_from_file_location(name, path)
        mod = importlib.util.module_from_spec(found)
        found.loader.exec_module(mod)
        for c in mod.CASES:
            c.feature = mod.FEATURE
        groups.append(mod)
    return groups


def connect(port, tds):
    return pytds.connect(server="127.0.0.1", port=port, user="sa", password="",
                         tds_version=VERSIONS[tds], autocommit=True, login_timeout=10,
                         timeout=30)


def run_case(port, case):
    """Answers (verdict, detail)."""
    try:
        conn = connect(port, case.tds)
    except Exception as e:  # noqa: BLE001 - any failure to log in is a wrong answer
        return "WRONG", "cannot connect: %s" % e
    other = None
    try:
        cur = conn.cursor()
        if case.apart:
            other = connect(port, case.tds)
            prep_cur = other.cursor()
        else:
            prep_cur = cur
        for batch in case.prep:
            a = run_batch(prep_cur, batch)
            if a.lost:
                return "WRONG", "preparation lost the connection: %s" % a.lost
            if a.error:
                verdict = "REFUSED" if a.error[0] == REFUSAL else "WRONG"
                return verdict, "preparation %r: error %d: %s" % (batch[:60], a.error[0],
                                                                 a.error[2])
        if other is not None and case.apart == "closed":
            other.close()
            other = None
        ans = run_batch(cur, case.sql, case.params, case.rpc)
        # The server may finish with a closed connection a moment later.
        deadline = time.time() + 5
        while (case.apart == "closed" and compare(case, ans) and time.time() < deadline
               and not (ans.error and ans.error[0] == REFUSAL)):
            time.sleep(0.2)
            ans = run_batch(cur, case.sql, case.params, case.rpc)
        if ans.lost:
            return "WRONG", "connection lost: %s" % ans.lost
        if ans.error and ans.error[0] == REFUSAL and not (case.error and case.error[0] == REFUSAL):
            return "REFUSED", ans.error[2]
        diff = compare(case, ans)
        if diff:
            return "WRONG", diff
        if case.then:
            sql, rows = case.then
            a = run_batch(cur, sql)
            if a.lost or a.error:
                if a.error and a.error[0] == REFUSAL:
                    return "REFUSED", "follow-up: " + a.error[2]
                return "WRONG", "follow-up %r: %s" % (sql, a.lost or a.error[2])
            got = a.results[0][1] if a.results else []
            if not same_rows(got, [tuple(r) for r in rows], case.ordered):
                return "WRONG", "follow-up %r gave %r (expected %r)" % (sql, got, rows)
        return "EXACT", ""
    finally:
        for c in (conn, other):
            try:
                if c is not None:
                    c.close()
            except Exception:  # noqa: BLE001 - the verdict is already known
                pass


def run_group(binary, group, only, tsql_cases, died):
    cases = [c for c in group.CASES if not only or c.id.startswith(only)]
    if not cases:
        return []
    out = []
    with Server(binary) as srv:
        conn = connect(srv.port, "7.4")
        cur = conn.cursor()
        for batch in getattr(group, "SETUP", []):
            a = run_batch(cur, batch)
            if a.error or a.lost:
                raise RuntimeError("%s: setup %r failed: %s" % (group.__name__, batch[:60],
                                                               a.error or a.lost))
        conn.close()
        for case in cases:
            if not srv.alive():
                if not died:
                    died.append("%s: the server died (status %s) before %s" % (
                        group.FEATURE, srv.proc.returncode, case.id))
                out.append((case, "WRONG", "the server is no longer running"))
                continue
            verdict, detail = run_case(srv.port, case)
            if verdict == "EXACT" and tsql_eligible(case):
                tsql_cases[0] += 1
                diff = tsql_check(srv.port, case)
                if diff:
                    verdict, detail = "WRONG", diff
            out.append((case, verdict, detail))
        if not srv.alive() and not died:
            died.append("%s: the server died (status %s) after the last case" % (
                group.FEATURE, srv.proc.returncode))
    return out


def read_exact():
    path = os.path.join(HERE, "exact.txt")
    if not os.path.exists(path):
        return set()
    with open(path) as f:
        return {ln.strip() for ln in f if ln.strip() and not ln.startswith("#")}


def write_exact(ids):
    with open(os.path.join(HERE, "exact.txt"), "w") as f:
        f.write("# Corpus cases tdslite answers exactly; a WRONG answer to one of these fails\n"
                "# the test. Grow it with `corpus.py PATH/TO/tdslite --update`.\n")
        for i in sorted(ids):
            f.write(i + "\n")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("binary")
    ap.add_argument("--only", default="")
    ap.add_argument("--update", action="store_true")
    ap.add_argument("--markdown", action="store_true")
    ap.add_argument("--reasons", action="store_true")
    ap.add_argument("--quiet", action="store_true")
    args = ap.parse_args()

    groups = load_groups()
    ids = [c.id for g in groups for c in g.CASES]
    dup = sorted({i for i in ids if ids.count(i) > 1})
    if dup:
        print("duplicate case ids: %s" % ", ".join(dup))
        return 1
    exact_before = read_exact()
    unknown = sorted(exact_before - set(ids))
    tsql_cases = [0]
    died = []
    table, wrong, refused, regressed, lost, newly = [], [], [], [], [], []
    total = [0, 0, 0, 0]
    for g in groups:
        res = run_group(args.binary, g, args.only, tsql_cases, died)
        if not res:
            continue
        n = {"EXACT": 0, "WRONG": 0, "REFUSED": 0}
        for case, verdict, detail in res:
            n[verdict] += 1
            if verdict == "WRONG":
                wrong.append((case, detail))
                if case.id in exact_before:
                    regressed.append((case, detail))
            elif verdict == "REFUSED":
                refused.append((case, detail))
                if case.id in exact_before:
                    lost.append((case, detail))
            elif case.id not in exact_before:
                newly.append(case.id)
        table.append((g.FEATURE, n["EXACT"], len(res), n["WRONG"], n["REFUSED"]))
        for i, k in enumerate(("EXACT", "WRONG", "REFUSED")):
            total[i] += n[k]
        total[3] += len(res)

    if not args.quiet:
        for case, detail in wrong:
            print("WRONG   %s: %s" % (case.id, detail))
        for case, detail in refused:
            print("REFUSED %s: %s" % (case.id, detail))
        print()
    width = max(len(t[0]) for t in table) if table else 10
    for feature, ex, m, w, r in table:
        print("%-*s %3d of %3d answered exactly (%d wrong, %d refused)" % (width, feature, ex, m, w,
                                                                           r))
    print("%-*s %3d of %3d answered exactly (%d wrong, %d refused); %d also through tsql" % (
        width, "total", total[0], total[3], total[1], total[2], tsql_cases[0]))
    if args.reasons:
        print()
        for feature in [t[0] for t in table]:
            counts = {}
            for case, detail in refused:
                if case.feature == feature:
                    key = re.sub(r"^preparation .*?: error \d+: ", "", detail)
                    counts[key] = counts.get(key, 0) + 1
            for msg, n in sorted(counts.items(), key=lambda kv: -kv[1]):
                print("%s: %d x %s" % (feature, n, msg))
    if args.markdown:
        print("\n| feature | exact | wrong | refused |\n|---|---|---|---|")
        for feature, ex, m, w, r in table:
            print("| %s | %d/%d | %d | %d |" % (feature, ex, m, w, r))
        print("| total | %d/%d | %d | %d |" % (total[0], total[3], total[1], total[2]))
    if newly:
        print("now exact, not yet in exact.txt: %s" % " ".join(newly))
    if unknown and not args.only:
        print("exact.txt names cases the corpus no longer has: %s" % " ".join(unknown))
    for case, detail in lost:
        print("NOTE %s was answered exactly before and is now refused: %s" % (case.id, detail))
    if args.update:
        write_exact(exact_before | set(newly))
    for d in died:
        print("FAIL %s: a crash is never an answer" % d)
    for case, detail in regressed:
        print("FAIL %s was answered exactly before and is now wrong: %s" % (case.id, detail))
    return 1 if regressed or died else 0


if __name__ == "__main__":
    sys.exit(main())
