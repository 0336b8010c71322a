# pyodbc as a client of both builds of the driver, on H2 embedded and on the
# PostgreSQL server of the test script. ODBCSYSINI/ODBCINI point at the
# configuration generated into the build tree (set by CTest).
import decimal
import os
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


@pytest.mark.parametrize("dsn", ["kx_h2_u", "kx_h2_a"])
def test_postgres_arrays_arrive_whole(dsn):
    # PostgreSQL describes an integer array with the precision of one integer.
    conn = pyodbc.connect(connect_string(dsn, True), autocommit=True)
    try:
        cur = conn.cursor()
        big = [1000000000 + i for i in range(12)]
        row = cur.execute("SELECT ARRAY[1000000000, 2000000000, 3], ARRAY[%s]::bigint[]"
                          % ", ".join(map(str, big))).fetchone()
        assert row[0] == "{1000000000,2000000000,3}"
        assert row[1] == "{" + ",".join(map(str, big)) + "}"
    finally:
        conn.close()


@pytest.mark.parametrize("dsn", ["kx_h2_u", "kx_h2_a"])
def test_postgres_bit_strings_and_infinite_timestamps(dsn):
    conn = pyodbc.connect(connect_string(dsn, True), autocommit=True)
    try:
        cur = conn.cursor()
        # bit(5) is a string of bits, bit(1) and boolean are booleans.
        assert tuple(cur.execute("SELECT B'10101'::bit(5), B'1'::bit(1), true").fetchone()) == \
            ("10101", True, True)
        # 'infinity' has no ODBC date: its row is refused (22008, which an
        # ODBC 3 application sees as 22007), not delivered with a wrapped
        # year; the next row still arrives.
        cur.execute("SELECT id, ts FROM (VALUES (1, TIMESTAMP 'infinity'), (2, TIMESTAMP '2024-05-06'))"
                    " AS v(id, ts) ORDER BY id")
        with pytest.raises(pyodbc.Error) as err:
            cur.fetchone()
        assert "Date overflow" in str(err.value)
        row = cur.fetchone()
        assert row[0] == 2 and row[1].year == 2024
    finally:
        conn.close()


@pytest.mark.parametrize("dsn", ["kx_h2_u", "kx_h2_a"])
def test_decimals_in_exponent_form_arrive_whole(dsn):
    # H2 describes 1E+309 with a precision of one digit and gives its text
    # in exponent form.
    conn = pyodbc.connect(connect_string(dsn, False), autocommit=True)
    try:
        # pyodbc's own decimal parsing knows no exponents: take the text.
        for sql_type in (pyodbc.SQL_DECIMAL, pyodbc.SQL_NUMERIC):
            conn.add_output_converter(sql_type, lambda raw: raw.decode("ascii"))
        row = conn.cursor().execute("SELECT 1e308 * 10, CAST(-0.0000001 AS DECFLOAT)").fetchone()
        assert decimal.Decimal(row[0]) == decimal.Decimal("1E+309")
        assert decimal.Decimal(row[1]) == decimal.Decimal("-1E-7")
    finally:
        conn.close()


def test_wrong_password_is_reported():
    with pytest.raises(pyodbc.Error) as err:
        pyodbc.connect(connect_string("kx_h2_u", True).replace(os.environ.get("KX_PG_PASSWORD", "?"), "wrong"))
    assert "28P01" in str(err.value)
    assert "password authentication failed" in str(err.value)
