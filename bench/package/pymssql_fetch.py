"""pymssql's fetchall of the whole table b; prints the seconds."""
import sys
import time

import pymssql

host, port = sys.argv[1].rsplit(":", 1)
connection = pymssql.connect(server=host, port=port, user="bench", password="bench",
                             tds_version="7.0", conn_properties="")
cursor = connection.cursor()
start = time.perf_counter()
cursor.execute("select id, name, x, at, amount from b")
rows = cursor.fetchall()
seconds = time.perf_counter() - start
if len(rows) != 100000:
    sys.exit("pymssql_fetch: %d rows" % len(rows))
print("%.6f" % seconds)
connection.close()
