package com.informix.jdbcx;

import com.informix.jdbc.IfmxStatement;
import java.lang.reflect.InvocationHandler;
import java.lang.reflect.Method;
import java.lang.reflect.Proxy;
import java.sql.Connection;
import java.sql.ResultSet;
import java.sql.ResultSetMetaData;
import java.sql.SQLException;
import java.sql.SQLFeatureNotSupportedException;
import java.sql.Statement;

/**
 * A statement handed out: the real one plus getSerial. Result sets pass
 * through unwrapped, so fetching costs nothing extra.
 *
 * The serial comes from the generated keys on H2 and other drivers (an INSERT
 * is run asking for them) and from lastval() on PostgreSQL, where asking for
 * keys would rewrite the INSERT with RETURNING *. It is looked up only when
 * getSerial is called, and is about the statement's most recent execution.
 */
final class StatementHandler implements InvocationHandler {
    private final ConnectionHandler conn;
    private final Statement real;
    private final boolean preparedInsert;   // a prepared INSERT (false for a plain Statement)
    private boolean batchInsert;            // an INSERT among the SQL texts added with addBatch
    private boolean pending;                // the last execution was an INSERT whose serial is not read yet
    private int serial;

    private StatementHandler(ConnectionHandler conn, Statement real, boolean preparedInsert) {
        this.conn = conn;
        this.real = real;
        this.preparedInsert = preparedInsert;
    }

    /** createStatement, prepareStatement or prepareCall on the real connection, wrapped. */
    static Object open(ConnectionHandler conn, Method m, Object[] args) throws Throwable {
        String sql = args != null && args.length > 0 && args[0] instanceof String ? (String) args[0] : null;
        boolean insert = sql != null && isInsert(sql);
        Object real = null;
        if (insert && !conn.postgres && m.getName().equals("prepareStatement") && args.length == 1) {
            try {
                real = conn.real.prepareStatement(sql, Statement.RETURN_GENERATED_KEYS);
            } catch (SQLFeatureNotSupportedException e) {
                real = null;   // the driver cannot give keys: a plain statement, serial 0
            }
        }
        if (real == null) {
            real = ConnectionHandler.forward(conn.real, m, args);
        }
        if (real == null) {
            return null;
        }
        StatementHandler h = new StatementHandler(conn, (Statement) real, insert);
        return Proxy.newProxyInstance(ConnectionHandler.LOADER,
                new Class<?>[] {m.getReturnType(), IfmxStatement.class}, h);
    }

    @Override
    public Object invoke(Object self, Method m, Object[] args) throws Throwable {
        if (m.getDeclaringClass() == IfmxStatement.class) {
            return getSerial();
        }
        Object own = ConnectionHandler.ownMethod(self, real, m, args);
        if (own != ConnectionHandler.NOT_OWN) {
            return own;
        }
        String name = m.getName();
        String sql = args != null && args.length > 0 && args[0] instanceof String ? (String) args[0] : null;
        switch (name) {
            case "getConnection":
                return conn.proxy;
            case "addBatch":
                if (sql != null && isInsert(sql)) {
                    batchInsert = true;
                }
                return ConnectionHandler.forward(real, m, args);
            case "clearBatch":
                batchInsert = false;
                return ConnectionHandler.forward(real, m, args);
            default:
                break;
        }
        if (!name.startsWith("execute")) {
            return ConnectionHandler.forward(real, m, args);
        }
        conn.refuseForUpdate(sql);
        boolean batch = name.equals("executeBatch") || name.equals("executeLargeBatch");
        boolean insert = sql != null ? isInsert(sql) : preparedInsert || (batch && batchInsert);
        pending = false;
        serial = 0;
        try {
            Object result;
            if (insert && sql != null && args.length == 1 && !conn.postgres && !name.equals("executeQuery")) {
                result = executeAskingKeys(m, sql);
            } else {
                result = ConnectionHandler.forward(real, m, args);
            }
            pending = insert;
            return result;
        } finally {
            if (batch) {
                batchInsert = false;   // executing a batch empties it, also when it fails
            }
        }
    }

    /**
     * execute, executeUpdate or executeLargeUpdate of an INSERT text, with
     * RETURN_GENERATED_KEYS; a driver that cannot give keys runs it plainly.
     */
    private Object executeAskingKeys(Method m, String sql) throws Throwable {
        Method withKeys;
        try {
            withKeys = Statement.class.getMethod(m.getName(), String.class, int.class);
        } catch (NoSuchMethodException e) {
            return ConnectionHandler.forward(real, m, new Object[] {sql});
        }
        try {
            return ConnectionHandler.forward(real, withKeys, new Object[] {sql, Statement.RETURN_GENERATED_KEYS});
        } catch (SQLFeatureNotSupportedException e) {
            return ConnectionHandler.forward(real, m, new Object[] {sql});
        }
    }

    private int getSerial() {
        if (pending) {
            pending = false;
            serial = conn.postgres ? lastval() : generatedKey();
        }
        return serial;
    }

    /**
     * The last generated value of the auto-increment column among the keys, 0
     * when there is none: H2 answers with the primary key when the table has
     * no identity column, and that is no serial.
     */
    private int generatedKey() {
        try (ResultSet keys = real.getGeneratedKeys()) {
            if (keys == null) {
                return 0;
            }
            ResultSetMetaData md = keys.getMetaData();
            int column = 0;
            for (int i = 1; i <= md.getColumnCount() && column == 0; i++) {
                if (md.isAutoIncrement(i)) {
                    column = i;
                }
            }
            if (column == 0) {
                return 0;
            }
            long value = 0;
            while (keys.next()) {
                value = keys.getLong(column);
            }
            return toSerial(value);
        } catch (SQLException | RuntimeException e) {
            return 0;
        }
    }

    /**
     * lastval() of the session. It fails when no sequence was used yet; in a
     * transaction that failure would abort the whole transaction, so the
     * query runs inside a savepoint there (made with SQL: an XA branch's
     * connection refuses the savepoint methods).
     */
    private int lastval() {
        Connection c = conn.real;
        try (Statement s = c.createStatement()) {
            if (c.getAutoCommit()) {
                return queryInt(s, "SELECT lastval()");
            }
            s.execute("SAVEPOINT kx_serial");
            int value;
            try {
                value = queryInt(s, "SELECT lastval()");
            } catch (SQLException e) {
                s.execute("ROLLBACK TO SAVEPOINT kx_serial");
                value = 0;
            }
            s.execute("RELEASE SAVEPOINT kx_serial");
            return value;
        } catch (SQLException | RuntimeException e) {
            return 0;
        }
    }

    private static int queryInt(Statement s, String sql) throws SQLException {
        try (ResultSet rs = s.executeQuery(sql)) {
            return rs.next() ? toSerial(rs.getLong(1)) : 0;
        }
    }

    /** A value outside the int range has no serial form: 0 rather than a wrong number. */
    private static int toSerial(long value) {
        return value >= Integer.MIN_VALUE && value <= Integer.MAX_VALUE ? (int) value : 0;
    }

    /** Whether the statement is an INSERT: its first word, after blanks, comments and '('. */
    static boolean isInsert(String sql) {
        int i = 0;
        int n = sql.length();
        while (i < n) {
            char c = sql.charAt(i);
            if (Character.isWhitespace(c) || c == '(') {
                i++;
            } else if (sql.startsWith("--", i)) {
                int end = sql.indexOf('\n', i);
                i = end < 0 ? n : end + 1;
            } else if (sql.startsWith("/*", i)) {
                int end = sql.indexOf("*/", i + 2);
                i = end < 0 ? n : end + 2;
            } else {
                break;
            }
        }
        return sql.regionMatches(true, i, "insert", 0, 6)
                && (i + 6 == n || !Character.isJavaIdentifierPart(sql.charAt(i + 6)));
    }
}
