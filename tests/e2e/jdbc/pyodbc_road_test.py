# pyodbc as a client of both builds of the driver, on H2 embedded and on the
# PostgreSQL server of the test script. ODBCSYSINI/ODBCINI point at the
# configuration generated into the build tree (set by CTest).
import contextlib
import datetime
import decimal
import os
import threading
import time
import uuid

import pyodbc
import pytest

ROADS = [
    ("h2_unicode", "kx_h2_u", False),
    ("h2_ansi", "kx_h2_a", False),
    ("pg_unicode", "kx_h2_u", True),
    ("pg_ansi", "kx_h2_a", True),
]


def connect_string(dsn, postgres):
    if not postgres:
        return "DSN=" + dsn
    for name in ("KX_PG_PORT", "KX_PG_USER", "KX_PG_PASSWORD"):
        if not os.environ.get(name):
            pytest.fail(name + " is not set: run the suite through scripts/test.sh")
    return "DSN=%s;URL={URL=jdbc:postgresql://127.0.0.1:%s/postgres};UID=%s;PWD=%s" % (
        dsn, os.environ["KX_PG_PORT"], os.environ["KX_PG_USER"], os.environ["KX_PG_PASSWORD"])


@pytest.mark.parametrize("name,dsn,postgres", ROADS, ids=[r[0] for r in ROADS])
def test_queries(name, dsn, postgres):
    conn = pyodbc.connect(connect_string(dsn, postgres), autocommit=True)
    table = "kx_py_" + uuid.uuid4().hex[:12]
    cur = conn.cursor()
    cur.execute("CREATE TABLE %s (id INTEGER, name VARCHAR(40), price NUMERIC(8,2))" % table)
    try:
        rows = [(i, "n\u00e4me \U0001D11E %d" % i, None if i % 3 == 0 else i * 1.25) for i in range(200)]
        cur.executemany("INSERT INTO %s VALUES (?, ?, ?)" % table, rows)
        cur.execute("SELECT id, name, price FROM %s WHERE id < ? ORDER BY id" % table, 50)
        got = cur.fetchall()
        assert [tuple(r)[:2] for r in got] == [r[:2] for r in rows[:50]]
        assert [None if r[2] is None else float(r[2]) for r in got] == [r[2] for r in rows[:50]]
        cur.execute("UPDATE %s SET name = ? WHERE id >= 150" % table, "x")
        assert cur.rowcount == 50
        assert cur.execute("SELECT COUNT(*) FROM %s WHERE name = 'x'" % table).fetchval() == 50
    finally:
        cur.execute("DROP TABLE %s" % table)
        conn.close()


@pytest.fixture(params=ROADS, ids=[r[0] for r in ROADS])
def road(request):
    """An autocommit connection on each road, with whether it is PostgreSQL."""
    name, dsn, postgres = request.param
    conn = pyodbc.connect(connect_string(dsn, postgres), autocommit=True)
    yield conn, postgres
    conn.close()


@pytest.fixture(params=["kx_h2_u", "kx_h2_a"])
def pg(request):
    """An autocommit connection to PostgreSQL through each build."""
    conn = pyodbc.connect(connect_string(request.param, True), autocommit=True)
    yield conn
    conn.close()


@pytest.fixture(params=["kx_h2_u", "kx_h2_a"])
def h2(request):
    """An autocommit connection to H2 through each build."""
    conn = pyodbc.connect(connect_string(request.param, False), autocommit=True)
    yield conn
    conn.close()


@contextlib.contextmanager
def scratch_table(cur, stem, columns):
    table = "kx_%s_%s" % (stem, uuid.uuid4().hex[:12])
    cur.execute("CREATE TABLE %s (%s)" % (table, columns))
    try:
        yield table
    finally:
        cur.execute("DROP TABLE %s" % table)


def test_postgres_arrays_arrive_whole(pg):
    # PostgreSQL describes an integer array with the precision of one integer.
    big = [1000000000 + i for i in range(12)]
    row = pg.cursor().execute("SELECT ARRAY[1000000000, 2000000000, 3], ARRAY[%s]::bigint[]"
                              % ", ".join(map(str, big))).fetchone()
    assert row[0] == "{1000000000,2000000000,3}"
    assert row[1] == "{" + ",".join(map(str, big)) + "}"


def test_postgres_bit_strings_and_infinite_timestamps(pg):
    cur = pg.cursor()
    # bit(5) is a string of bits, bit(1) and boolean are booleans.
    assert tuple(cur.execute("SELECT B'10101'::bit(5), B'1'::bit(1), true").fetchone()) == \
        ("10101", True, True)
    # 'infinity' has no ODBC date: its row is refused with 22008, not
    # delivered with a wrapped year; the next row still arrives.
    cur.execute("SELECT id, ts FROM (VALUES (1, TIMESTAMP 'infinity'), (2, TIMESTAMP '2024-05-06'))"
                " AS v(id, ts) ORDER BY id")
    with pytest.raises(pyodbc.Error) as err:
        cur.fetchone()
    assert err.value.args[0] == "22008" and "Date overflow" in str(err.value)
    row = cur.fetchone()
    assert row[0] == 2 and row[1].year == 2024


def test_decimals_in_exponent_form_arrive_whole(h2):
    # H2 describes 1E+309 with a precision of one digit and gives its text in
    # exponent form. pyodbc's own decimal parsing knows no exponents: take
    # the text.
    for sql_type in (pyodbc.SQL_DECIMAL, pyodbc.SQL_NUMERIC):
        h2.add_output_converter(sql_type, lambda raw: raw.decode("ascii"))
    row = h2.cursor().execute("SELECT 1e308 * 10, CAST(-0.0000001 AS DECFLOAT)").fetchone()
    assert decimal.Decimal(row[0]) == decimal.Decimal("1E+309")
    assert decimal.Decimal(row[1]) == decimal.Decimal("-1E-7")


def test_parameters_of_every_kind_round_trip(road):
    # pyodbc sizes datetime parameters from SQLGetTypeInfo and binds None
    # with the type SQLDescribeParam gives: both must be right, or fractions
    # of seconds are cut and NULLs refused.
    conn, postgres = road
    types = ["INTEGER", "BIGINT", "NUMERIC(20,6)", "DOUBLE PRECISION", "VARCHAR(100)", "DATE",
             "TIMESTAMP", "TIME", "BOOLEAN", "BYTEA" if postgres else "VARBINARY(100)",
             "TEXT" if postgres else "CLOB"]
    rows = [
        (1, 2147483647, 9223372036854775807, decimal.Decimal("12345678901234.123456"), 1.5,
         "h\u00e9llo \U0001F600", datetime.date(2024, 2, 29),
         datetime.datetime(2024, 2, 29, 23, 59, 59, 999999), datetime.time(23, 59, 58), True,
         b"\x00\xff" * 10, "x" * 70000),
        (2, -2147483648, -9223372036854775808, decimal.Decimal("-0.000001"), -2.25, "",
         datetime.date(1970, 1, 1), datetime.datetime(2038, 1, 19, 3, 14, 8, 123000),
         datetime.time(0, 0, 0), False, b"", ""),
        (3,) + (None,) * 11,
    ]
    cur = conn.cursor()
    columns = "id INTEGER, " + ", ".join("c%d %s" % (i, t) for i, t in enumerate(types))
    with scratch_table(cur, "rt", columns) as table:
        cur.executemany("INSERT INTO %s VALUES (%s)" % (table, ", ".join("?" * 12)), rows)
        got = [tuple(r) for r in cur.execute("SELECT * FROM %s ORDER BY id" % table).fetchall()]
        got = [tuple(bytes(v) if isinstance(v, bytearray) else v for v in r) for r in got]
        assert got == rows


def test_datetime_columns_are_described_as_odbc_defines_them(road):
    conn, postgres = road
    cur = conn.cursor()
    columns = "d DATE, t TIME(0), ts3 TIMESTAMP(3), tz TIMESTAMP(6) WITH TIME ZONE"
    with scratch_table(cur, "dt", columns) as table:
        cols = cur.columns(table=table if postgres else table.upper()).fetchall()
        # ODBC's column sizes: 10, 8, 19 + 1 + fraction digits; time zones
        # described as plain times and timestamps, as result columns are.
        assert [(c.data_type, c.column_size, c.decimal_digits or 0) for c in cols] == \
            [(91, 10, 0), (92, 8, 0), (93, 23, 3), (93, 26, 6)]
        types = {r.data_type: r.column_size for r in cur.getTypeInfo(pyodbc.SQL_TYPE_TIMESTAMP)}
        assert types[93] >= 26


def test_postgres_markers_typed_by_their_values(pg):
    # PostgreSQL cannot describe "? + ?" before values are bound.
    cur = pg.cursor()
    assert cur.execute("SELECT ? + ?", 2, 3).fetchval() == 5
    assert cur.execute("SELECT ? || ?", "a", "b").fetchval() == "ab"


def test_database_states_reach_the_application_unchanged(pg):
    # PostgreSQL's 22003 is ODBC 3's "Numeric value out of range" too.
    with pytest.raises(pyodbc.Error) as err:
        pg.cursor().execute("SELECT 40000::int2")
    assert err.value.args[0] == "22003"


def test_ending_a_transaction_in_autocommit_mode_does_nothing(road):
    conn, _ = road
    cur = conn.cursor()
    with scratch_table(cur, "ac", "id INTEGER") as table:
        cur.execute("INSERT INTO %s VALUES (1)" % table)
        conn.rollback()
        conn.commit()
        assert cur.execute("SELECT COUNT(*) FROM %s" % table).fetchval() == 1
        conn.autocommit = False
        cur.execute("INSERT INTO %s VALUES (2)" % table)
        conn.rollback()
        assert cur.execute("SELECT COUNT(*) FROM %s" % table).fetchval() == 1
        conn.autocommit = True


# A query that runs for far longer than the test waits, on each database.
LONG_QUERY = {
    True: "SELECT pg_sleep(30)",
    False: "SELECT SUM(X) FROM SYSTEM_RANGE(1, 100000000000)",
}


def test_cancel_and_query_timeout_stop_a_running_query(road):
    # Both end in the database's "query canceled" (57014); the application
    # learns which of its own requests stopped the query: HY008 for SQLCancel,
    # HYT00 for the query timeout, with the database's text in the message.
    conn, postgres = road
    cur = conn.cursor()
    threading.Timer(1.0, cur.cancel).start()
    start = time.monotonic()
    with pytest.raises(pyodbc.Error) as err:
        cur.execute(LONG_QUERY[postgres])
    assert time.monotonic() - start < 20
    assert err.value.args[0] == "HY008", err.value
    assert "Operation cancelled: " in str(err.value)
    assert ("canceling statement" if postgres else "canceled") in str(err.value)
    assert cur.execute("SELECT 1").fetchval() == 1
    # pyodbc's Connection.timeout: SQL_ATTR_CONNECTION_TIMEOUT, then the
    # query timeout of every cursor made afterwards.
    conn.timeout = 1
    timed = conn.cursor()
    start = time.monotonic()
    with pytest.raises(pyodbc.Error) as err:
        timed.execute(LONG_QUERY[postgres])
    assert time.monotonic() - start < 20
    assert err.value.args[0] == "HYT00", err.value
    assert "Timeout expired: " in str(err.value)
    # A timeout that does not strike leaves the next query alone.
    assert timed.execute("SELECT 2").fetchval() == 2


@pytest.mark.parametrize("driver", ["Kestrix Unicode", "Kestrix ANSI"])
def test_a_missing_or_bare_url_says_how_to_give_it(driver):
    # A Unicode application connecting without a DSN.
    for extra, expected in [("", "No JDBC URL is set"),
                            (";URL=jdbc:h2:mem:x", "the data source has no property jdbc:h2:mem:x")]:
        with pytest.raises(pyodbc.Error) as err:
            pyodbc.connect("DRIVER={%s};NLB=1%s" % (driver, extra))
        text = str(err.value)
        assert expected in text
        assert "connect-string keyword URL" in text and "data-source key URLString" in text


def test_wrong_password_is_reported():
    with pytest.raises(pyodbc.Error) as err:
        pyodbc.connect(connect_string("kx_h2_u", True).replace(os.environ.get("KX_PG_PASSWORD", "?"), "wrong"))
    assert "28P01" in str(err.value)
    assert "password authentication failed" in str(err.value)
