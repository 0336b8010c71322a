# pyodbc's catalog methods on both builds of the driver, on H2 embedded and on
# the PostgreSQL server of the test script: a parent table with a two-column
# primary key and an index, a child table referencing it, a view and (on
# PostgreSQL) a procedure with IN and INOUT parameters.
import uuid

import pyodbc
import pytest

from pyodbc_road_test import ROADS, connect_string


@pytest.fixture(params=ROADS, ids=[r[0] for r in ROADS])
def schema(request):
    name, dsn, postgres = request.param
    conn = pyodbc.connect(connect_string(dsn, postgres), autocommit=True)
    cur = conn.cursor()
    base = "kx_pc_" + uuid.uuid4().hex[:10]
    ident = (lambda s: s.lower()) if postgres else (lambda s: s.upper())
    created = []

    def run(sql, drop):
        cur.execute(sql)
        created.append(drop)

    try:
        run("CREATE TABLE %s_p (a INTEGER NOT NULL, b VARCHAR(10) NOT NULL, name VARCHAR(20), "
            "PRIMARY KEY (a, b))" % base, "DROP TABLE %s_p" % base)
        cur.execute("CREATE INDEX %s_ix ON %s_p (name)" % (base, base))
        run("CREATE TABLE %s_c (id INTEGER PRIMARY KEY, pa INTEGER, pb VARCHAR(10), "
            "FOREIGN KEY (pa, pb) REFERENCES %s_p (a, b))" % (base, base), "DROP TABLE %s_c" % base)
        run("CREATE VIEW %s_v AS SELECT a, name FROM %s_p" % (base, base), "DROP VIEW %s_v" % base)
        if postgres:
            run("CREATE PROCEDURE %s_proc (IN x INTEGER, INOUT y INTEGER) LANGUAGE plpgsql "
                "AS $$ BEGIN y := x + y; END $$" % base, "DROP PROCEDURE %s_proc" % base)
        yield conn, cur, ident(base), ident, postgres
    finally:
        for sql in reversed(created):
            cur.execute(sql)
        conn.close()


def test_tables_and_columns(schema):
    conn, cur, base, ident, postgres = schema
    rows = cur.tables(table=base + "%", tableType="TABLE,VIEW").fetchall()
    table_type = "TABLE" if postgres else "BASE TABLE"
    assert [(r.table_name, r.table_type) for r in rows] == [
        (base + ident("_c"), table_type), (base + ident("_p"), table_type), (base + ident("_v"), "VIEW")]
    assert [d[0] for d in cur.description] == [
        "table_cat", "table_schem", "table_name", "table_type", "remarks"]

    cols = cur.columns(table=base + ident("_p")).fetchall()
    assert [(c.column_name, c.data_type, c.ordinal_position, c.is_nullable) for c in cols] == [
        (ident("a"), pyodbc.SQL_INTEGER, 1, "NO"),
        (ident("b"), pyodbc.SQL_VARCHAR, 2, "NO"),
        (ident("name"), pyodbc.SQL_VARCHAR, 3, "YES")]
    assert cols[1].column_size == 10
    assert len(cur.description) == 18


def test_keys_and_indexes(schema):
    conn, cur, base, ident, postgres = schema
    parent, child = base + ident("_p"), base + ident("_c")
    keys = cur.primaryKeys(parent).fetchall()
    assert [(k.column_name, k.key_seq) for k in keys] == [(ident("a"), 1), (ident("b"), 2)]

    fks = cur.foreignKeys(foreignTable=child).fetchall()
    assert [(f.pktable_name, f.pkcolumn_name, f.fkcolumn_name, f.key_seq) for f in fks] == [
        (parent, ident("a"), ident("pa"), 1), (parent, ident("b"), ident("pb"), 2)]
    assert [f.fktable_name for f in cur.foreignKeys(table=parent).fetchall()] == [child, child]

    stats = cur.statistics(parent).fetchall()
    assert (base + ident("_ix"), ident("name"), True) in [
        (s.index_name, s.column_name, bool(s.non_unique)) for s in stats if s.type != 0]
    unique = cur.statistics(parent, unique=True).fetchall()
    assert sorted(s.column_name for s in unique if s.type != 0) == [ident("a"), ident("b")]


def test_procedures(schema):
    conn, cur, base, ident, postgres = schema
    procs = cur.procedures(procedure=base + "%").fetchall()
    assert [d[0] for d in cur.description][:3] == ["procedure_cat", "procedure_schem", "procedure_name"]
    if not postgres:
        assert procs == []
        return
    assert [p.procedure_name for p in procs] == [base + "_proc"]
    params = cur.procedureColumns(procedure=base + "_proc").fetchall()
    assert [(p.column_name, p.column_type, p.data_type) for p in params] == [
        ("x", pyodbc.SQL_PARAM_INPUT, pyodbc.SQL_INTEGER),
        ("y", pyodbc.SQL_PARAM_INPUT_OUTPUT, pyodbc.SQL_INTEGER)]


def test_type_info(schema):
    conn, cur, base, ident, postgres = schema
    every = cur.getTypeInfo().fetchall()
    assert len(cur.description) == 19
    assert len(every) > 5
    ints = cur.getTypeInfo(pyodbc.SQL_INTEGER).fetchall()
    assert ints and all(t.data_type == pyodbc.SQL_INTEGER for t in ints)
    assert all(isinstance(t.num_prec_radix, (int, type(None))) for t in every)


def test_type_info_names_the_general_types(schema):
    # The first row of a type is the one a client writes its DDL with.
    conn, cur, base, ident, postgres = schema
    wide = conn.getinfo(pyodbc.SQL_DRIVER_NAME) == "libkestrixu.so"
    varchar = cur.getTypeInfo(pyodbc.SQL_WVARCHAR if wide else pyodbc.SQL_VARCHAR).fetchone()
    assert varchar.type_name == ("varchar" if postgres else "CHARACTER VARYING")
    assert varchar.create_params
    text = cur.getTypeInfo(pyodbc.SQL_WLONGVARCHAR if wide else pyodbc.SQL_LONGVARCHAR).fetchone()
    assert text.type_name == ("text" if postgres else "CHARACTER LARGE OBJECT")
    assert text.column_size > 0
    guids = cur.getTypeInfo(pyodbc.SQL_GUID).fetchall()
    assert [(g.type_name, g.column_size) for g in guids] == [("uuid" if postgres else "UUID", 36)]
    codes = [t.data_type for t in cur.getTypeInfo().fetchall()]
    assert 0 not in codes
    assert codes == sorted(codes)


def test_text_and_uuid_columns(schema):
    conn, cur, base, ident, postgres = schema
    table = base + ident("_tu")
    cur.execute("CREATE TABLE %s (id INTEGER, t %s, u UUID)" % (table, "TEXT" if postgres else "CLOB"))
    try:
        value = uuid.UUID("01234567-89ab-cdef-0123-456789abcdef")
        big = "x\u00e4" * 40000
        cur.execute("INSERT INTO %s VALUES (1, ?, ?)" % table, big, str(value))
        cur.execute("INSERT INTO %s VALUES (2, ?, ?)" % table, "short", value)
        cols = cur.columns(table=table).fetchall()
        assert [(c.column_name, c.data_type) for c in cols] == [
            (ident("id"), pyodbc.SQL_INTEGER), (ident("t"), pyodbc.SQL_LONGVARCHAR),
            (ident("u"), pyodbc.SQL_GUID)]
        assert cols[2].column_size == 36
        rows = cur.execute("SELECT t, u FROM %s ORDER BY id" % table).fetchall()
        assert [r[0] for r in rows] == [big, "short"]
        assert [r[1].lower() for r in rows] == [str(value)] * 2
        pyodbc.native_uuid = True
        try:
            assert cur.execute("SELECT u FROM %s WHERE id = 2" % table).fetchval() == value
        finally:
            pyodbc.native_uuid = False
    finally:
        cur.execute("DROP TABLE %s" % table)
