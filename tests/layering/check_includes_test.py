#!/usr/bin/env python3
"""The include check against small trees: it must pass a tree that follows
the folder order and fail each way of breaking it."""
import os
import subprocess
import sys
import tempfile

CHECK = os.path.join(os.path.dirname(os.path.abspath(__file__)), "check_includes.py")

CASES = [
    # (name, {file: text}, expected exit status)
    ("downward includes pass",
     {"tdslite/exec/a.cc": '#include "tdslite/sql/b.h"\n#include "c.h"\n',
      "tdslite/exec/c.h": "", "tdslite/sql/b.h": '#include "tdslite/common/d.h"\n',
      "tdslite/common/d.h": "#include <string>\n"}, 0),
    ("upward include by full path fails",
     {"tdslite/sql/b.h": '#include "tdslite/exec/session.h"\n', "tdslite/exec/session.h": ""}, 1),
    ("include two layers up fails",
     {"tdslite/common/d.h": '#include "tdslite/protocol/p.h"\n', "tdslite/protocol/p.h": ""}, 1),
    ("sideways include between siblings fails",
     {"lob/a.cc": '#include "web/web.h"\n', "web/web.h": ""}, 1),
    ("relative include out of the folder fails",
     {"tdslite/sql/b.cc": '#include "../exec/session.h"\n', "tdslite/exec/session.h": ""}, 1),
    ("transitive use is allowed",
     {"tdslite/protocol/p.cc": '#include "tdslite/common/d.h"\n', "tdslite/common/d.h": ""}, 0),
    ("includes of files outside the table are not checked",
     {"server/a.cc": '#include "sqlite3.h"\n#include "tests/x.h"\n', "tests/x.h": ""}, 0),
]


def run(files):
    with tempfile.TemporaryDirectory() as root:
        for rel, text in files.items():
            path = os.path.join(root, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w") as f:
                f.write(text)
        return subprocess.run([sys.executable, CHECK, root], capture_output=True, text=True)


def main():
    failures = 0
    for name, files, expected in CASES:
        result = run(files)
        if result.returncode != expected:
            failures += 1
            print(f"FAIL {name}: exit {result.returncode}, expected {expected}\n{result.stdout}")
    print(f"{len(CASES) - failures}/{len(CASES)} cases pass")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
