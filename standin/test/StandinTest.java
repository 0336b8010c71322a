import java.io.File;
import java.lang.reflect.Constructor;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.lang.reflect.Proxy;
import java.net.URL;
import java.net.URLClassLoader;
import java.sql.CallableStatement;
import java.sql.Connection;
import java.sql.Driver;
import java.sql.PreparedStatement;
import java.sql.ResultSet;
import java.sql.SQLException;
import java.sql.Statement;
import java.util.Arrays;
import java.util.Properties;
import javax.sql.DataSource;
import javax.sql.XAConnection;
import javax.sql.XADataSource;
import javax.transaction.xa.XAResource;
import javax.transaction.xa.Xid;

/**
 * Tests of the stand-in JDBC library (ifxjdbc.jar), loaded the way the driver
 * loads it: through a URL class loader of its own over the jar, so the real
 * drivers are visible only through the jar's manifest. The stand-in's own
 * types are reached by name, and its properties set through setters found by
 * name, as the driver does.
 *
 * Usage: java -cp testclasses StandinTest path/to/ifxjdbc.jar
 * The PostgreSQL cases need KX_PG_PORT, KX_PG_USER and KX_PG_PASSWORD; without
 * them they fail.
 */
public final class StandinTest {
    private static ClassLoader loader;
    private static Class<?> ifmxStatement;
    private static int failures;
    private static final String UNIQUE = "kx" + ProcessHandle.current().pid();

    interface Case {
        void run() throws Exception;
    }

    public static void main(String[] args) throws Exception {
        if (args.length != 1) {
            System.err.println("usage: StandinTest path/to/ifxjdbc.jar");
            System.exit(2);
        }
        URL jar = new File(args[0]).toURI().toURL();
        loader = new URLClassLoader(new URL[] {jar}, ClassLoader.getSystemClassLoader());
        KxTestDriver.h2Loader = loader;
        ifmxStatement = Class.forName("com.informix.jdbc.IfmxStatement", false, loader);

        run("class shape and property setters", StandinTest::classShape);
        run("braces around property values", StandinTest::braces);
        run("H2 in memory through a braced URL", StandinTest::h2Connect);
        run("connection and statement proxies", StandinTest::proxies);
        run("unknown URL prefix", StandinTest::unknownPrefix);
        run("other driver found through the service file", StandinTest::otherDriver);
        run("bad H2 URL keeps the real state and text", StandinTest::badH2);
        run("PostgreSQL server not reachable", StandinTest::pgUnreachable);
        run("getSerial on H2", StandinTest::h2Serial);
        run("XA on H2", StandinTest::h2Xa);
        run("PostgreSQL connect", StandinTest::pgConnect);
        run("PostgreSQL bad password", StandinTest::pgBadPassword);
        run("PostgreSQL stringtype and call escapes", StandinTest::pgUrlDefaults);
        run("getSerial on PostgreSQL", StandinTest::pgSerial);
        run("XA on PostgreSQL", StandinTest::pgXa);

        if (failures > 0) {
            System.out.println(failures + " case(s) FAILED");
            System.exit(1);
        }
        System.out.println("all cases passed");
    }

    private static void run(String name, Case c) {
        try {
            c.run();
            System.out.println("PASS " + name);
        } catch (Throwable t) {
            failures++;
            System.out.println("FAIL " + name + ": " + t);
            t.printStackTrace(System.out);
        }
    }

    // ---- helpers -------------------------------------------------------

    private static void check(boolean ok, String what) {
        if (!ok) {
            throw new AssertionError(what);
        }
    }

    private static void checkEq(Object expected, Object actual, String what) {
        if (expected == null ? actual != null : !expected.equals(actual)) {
            throw new AssertionError(what + ": expected <" + expected + "> but was <" + actual + ">");
        }
    }

    private static SQLException expectSQLException(Case c) throws Exception {
        try {
            c.run();
        } catch (SQLException e) {
            return e;
        }
        throw new AssertionError("no SQLException");
    }

    private static Class<?> standin(String name) throws ClassNotFoundException {
        return Class.forName(name, true, loader);
    }

    /** A stand-in data source with properties set the driver's way: set+NAME(String) found by name. */
    private static Object source(String className, String... nameValues) throws Exception {
        Object ds = standin(className).getConstructor().newInstance();
        for (int i = 0; i < nameValues.length; i += 2) {
            ds.getClass().getMethod("set" + nameValues[i], String.class).invoke(ds, nameValues[i + 1]);
        }
        return ds;
    }

    private static DataSource dataSource(String... nameValues) throws Exception {
        return (DataSource) source("com.informix.jdbcx.IfxDataSource", nameValues);
    }

    private static XADataSource xaDataSource(String... nameValues) throws Exception {
        return (XADataSource) source("com.informix.jdbcx.IfxXADataSource", nameValues);
    }

    private static String getURL(Object ds) throws Exception {
        return (String) ds.getClass().getMethod("getURL").invoke(ds);
    }

    /** getSerial looked up on the interface, as the driver calls it. */
    private static int serial(Statement s) throws Exception {
        check(ifmxStatement.isInstance(s), "statement implements IfmxStatement");
        try {
            return (Integer) ifmxStatement.getMethod("getSerial").invoke(s);
        } catch (InvocationTargetException e) {
            throw new AssertionError("getSerial threw " + e.getCause(), e.getCause());
        }
    }

    private static int count(Connection c, String sql) throws SQLException {
        try (Statement s = c.createStatement(); ResultSet rs = s.executeQuery(sql)) {
            check(rs.next(), "a row from " + sql);
            return rs.getInt(1);
        }
    }

    private static void exec(Connection c, String sql) throws SQLException {
        try (Statement s = c.createStatement()) {
            s.execute(sql);
        }
    }

    private static SQLException realFailure(String driverClass, String url, Properties info) throws Exception {
        Driver d = (Driver) standin(driverClass).getConstructor().newInstance();
        try {
            Connection c = d.connect(url, info);
            if (c != null) {
                c.close();
            }
        } catch (SQLException e) {
            return e;
        }
        throw new AssertionError("the real driver connected to " + url);
    }

    static final class TestXid implements Xid {
        private final byte[] gtrid;
        TestXid(String gtrid) { this.gtrid = gtrid.getBytes(); }
        @Override public int getFormatId() { return 4660; }
        @Override public byte[] getGlobalTransactionId() { return gtrid.clone(); }
        @Override public byte[] getBranchQualifier() { return new byte[] {1}; }
    }

    private static String env(String name) {
        String v = System.getenv(name);
        if (v == null || v.isEmpty()) {
            throw new AssertionError(name + " is not set: the PostgreSQL cases need a server"
                    + " (scripts/test.sh starts one and sets KX_PG_PORT, KX_PG_USER, KX_PG_PASSWORD)");
        }
        return v;
    }

    private static String pgUrl(String query) {
        return "jdbc:postgresql://127.0.0.1:" + env("KX_PG_PORT") + "/postgres" + query;
    }

    private static Connection pgConnection(String query) throws Exception {
        return dataSource("URL", pgUrl(query)).getConnection(env("KX_PG_USER"), env("KX_PG_PASSWORD"));
    }

    // ---- cases ---------------------------------------------------------

    private static void classShape() throws Exception {
        Class<?> ds = standin("com.informix.jdbcx.IfxDataSource");
        Class<?> xa = standin("com.informix.jdbcx.IfxXADataSource");
        check(ifmxStatement.isInterface(), "IfmxStatement is an interface");
        checkEq(int.class, ifmxStatement.getMethod("getSerial").getReturnType(), "getSerial returns int");
        check(DataSource.class.isAssignableFrom(ds), "IfxDataSource is a DataSource");
        check(XADataSource.class.isAssignableFrom(xa), "IfxXADataSource is an XADataSource");
        for (Class<?> c : Arrays.asList(ds, xa)) {
            check(!Driver.class.isAssignableFrom(c), c + " must not be a Driver");
            check(Modifier.isPublic(c.getModifiers()), c + " is public");
            Constructor<?> ctor = c.getConstructor();
            check(Modifier.isPublic(ctor.getModifiers()), c + " has a public no-argument constructor");
            for (String p : Arrays.asList("URL", "User", "Password")) {
                c.getMethod("set" + p, String.class);
            }
            for (Class<?>[] sig : Arrays.asList(new Class<?>[] {String.class}, new Class<?>[] {int.class},
                    new Class<?>[] {boolean.class}, new Class<?>[0])) {
                try {
                    c.getMethod("setNoSuchProperty", sig);
                    throw new AssertionError("an unknown property has a setter");
                } catch (NoSuchMethodException expected) {
                    // the driver reports the property
                }
            }
        }
        Object d = source("com.informix.jdbcx.IfxDataSource", "URL", "jdbc:h2:mem:x", "Password", "hush-secret");
        check(!d.toString().contains("hush-secret"), "toString shows no password");
    }

    private static void braces() throws Exception {
        String[][] cases = {
            {"{jdbc:h2:mem:a;DB_CLOSE_DELAY=-1}", "jdbc:h2:mem:a;DB_CLOSE_DELAY=-1"},
            {"{{x}}", "{x}"},
            {"{a}{b}", "{a}{b}"},
            {"{a{b}c}", "a{b}c"},
            {"jdbc:h2:mem:a", "jdbc:h2:mem:a"},
            {"{", "{"},
            {"{}", ""},
            {"", ""},
        };
        for (String[] c : cases) {
            checkEq(c[1], getURL(source("com.informix.jdbcx.IfxDataSource", "URL", c[0])), "URL from " + c[0]);
            checkEq(c[1], getURL(source("com.informix.jdbcx.IfxXADataSource", "URL", c[0])), "XA URL from " + c[0]);
        }
    }

    private static void h2Connect() throws Exception {
        DataSource ds = dataSource("URL", "{jdbc:h2:mem:" + UNIQUE + "a;DB_CLOSE_DELAY=-1}", "User", "", "Password", "");
        try (Connection c = ds.getConnection("", "")) {
            check(c != null, "a connection");
            checkEq(1, count(c, "SELECT 1"), "SELECT 1");
            exec(c, "CREATE TABLE kept (n INT)");
        }
        // DB_CLOSE_DELAY=-1, after the ';', took effect: the database outlived its first connection.
        try (Connection c = ds.getConnection(null, null)) {
            checkEq(0, count(c, "SELECT COUNT(*) FROM kept"), "table kept");
        }
    }

    private static void proxies() throws Exception {
        DataSource ds = dataSource("URL", "{jdbc:h2:mem:" + UNIQUE + "p;DB_CLOSE_DELAY=-1}");
        Connection c = ds.getConnection("", "");
        Connection other = ds.getConnection("", "");
        try {
            exec(c, "CREATE TABLE p (n INT)");
            int t = ResultSet.TYPE_FORWARD_ONLY;
            int r = ResultSet.CONCUR_READ_ONLY;
            int h = ResultSet.CLOSE_CURSORS_AT_COMMIT;
            String q = "SELECT n FROM p";
            Statement[] plain = {c.createStatement(), c.createStatement(t, r), c.createStatement(t, r, h)};
            PreparedStatement[] prepared = {c.prepareStatement(q), c.prepareStatement(q, Statement.NO_GENERATED_KEYS),
                c.prepareStatement(q, new int[] {1}), c.prepareStatement(q, new String[] {"N"}),
                c.prepareStatement(q, t, r), c.prepareStatement(q, t, r, h)};
            CallableStatement[] callable = {c.prepareCall(q), c.prepareCall(q, t, r), c.prepareCall(q, t, r, h)};
            for (Statement[] group : Arrays.asList(plain, prepared, callable)) {
                for (Statement s : group) {
                    check(ifmxStatement.isInstance(s), "statement implements IfmxStatement: " + s);
                    check(s.getConnection() == c, "getConnection gives the handed-out connection");
                    checkEq(0, serial(s), "serial before any execution");
                    s.close();
                    check(s.isClosed(), "closed");
                }
            }
            try (PreparedStatement ps = c.prepareStatement(q); ResultSet rs = ps.executeQuery()) {
                check(!Proxy.isProxyClass(rs.getClass()), "result sets are not wrapped");
                check(rs.getClass().getName().startsWith("org.h2."), "the real result set: " + rs.getClass());
                check(ps.unwrap(PreparedStatement.class) == ps, "statement unwrap to its interface");
                check(ps.isWrapperFor(ifmxStatement), "statement isWrapperFor IfmxStatement");
            }
            // unwrap and isWrapperFor: the proxy first, then the real connection.
            check(c.unwrap(Connection.class) == c, "unwrap(Connection) gives the proxy");
            check(c.isWrapperFor(Connection.class), "isWrapperFor(Connection)");
            Class<?> h2Conn = standin("org.h2.jdbc.JdbcConnection");
            check(c.isWrapperFor(h2Conn), "isWrapperFor the real class");
            check(h2Conn.isInstance(c.unwrap(h2Conn)), "unwrap to the real class");
            check(!c.isWrapperFor(String.class), "not a wrapper for String");
            // equals and hashCode by identity.
            check(c.equals(c) && !c.equals(other) && !c.equals(null), "equals by identity");
            checkEq(c.hashCode(), c.hashCode(), "stable hashCode");
            check(c.toString() != null, "toString");
            // The real exception comes through, not InvocationTargetException or UndeclaredThrowableException.
            SQLException e = expectSQLException(() -> c.createStatement().executeQuery("SELECT * FROM no_such_table"));
            check(e.getClass().getName().startsWith("org.h2."), "the real exception: " + e.getClass());
            checkEq("42S02", e.getSQLState(), "real SQLSTATE");
        } finally {
            c.close();
            other.close();
        }
        check(c.isClosed(), "connection closed through the proxy");
    }

    private static void unknownPrefix() throws Exception {
        SQLException e = expectSQLException(
                () -> dataSource("URL", "jdbc:nosuchdb://host/db;password=topsecret").getConnection("", ""));
        checkEq("08001", e.getSQLState(), "state");
        check(e.getMessage().contains("jdbc:nosuchdb:"), "message names the prefix: " + e.getMessage());
        check(!e.getMessage().contains("topsecret"), "message shows no password");

        e = expectSQLException(() -> dataSource("URL", "").getConnection("", ""));
        checkEq("08001", e.getSQLState(), "state without URL");

        e = expectSQLException(() -> xaDataSource("URL", "jdbc:kxtest:xa").getXAConnection("", ""));
        checkEq("08001", e.getSQLState(), "XA state for a prefix without XA");
        check(e.getMessage().contains("jdbc:kxtest:"), "XA message names the prefix: " + e.getMessage());
    }

    private static void otherDriver() throws Exception {
        DataSource ds = dataSource("URL", "jdbc:kxtest:" + UNIQUE + "g", "User", "alice", "Password", "pw1");
        try (Connection c = ds.getConnection("", "")) {
            checkEq("alice", KxTestDriver.lastInfo.getProperty("user"), "user passed");
            checkEq("pw1", KxTestDriver.lastInfo.getProperty("password"), "password passed");
            exec(c, "CREATE TABLE g (id INT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY, v INT)");
            try (Statement s = c.createStatement()) {
                s.executeUpdate("INSERT INTO g (v) VALUES (7)");
                checkEq(1, serial(s), "serial through the other driver");
            }
        }
        // Arguments win over the properties; empty arguments fall back to them.
        DataSource other = dataSource("URL", "jdbc:kxtest:" + UNIQUE + "g2", "User", "alice", "Password", "pw1");
        try (Connection c = other.getConnection("bob", "pw2")) {
            check(!c.isClosed(), "open");
            checkEq("bob", KxTestDriver.lastInfo.getProperty("user"), "user argument");
            checkEq("pw2", KxTestDriver.lastInfo.getProperty("password"), "password argument");
        }
    }

    private static void badH2() throws Exception {
        String url = "jdbc:h2:/nonexistent-kx-dir/" + UNIQUE + ";IFEXISTS=TRUE";
        SQLException real = realFailure("org.h2.Driver", url, new Properties());
        SQLException e = expectSQLException(() -> dataSource("URL", "{" + url + "}").getConnection("", ""));
        checkEq(real.getSQLState(), e.getSQLState(), "H2's own state");
        checkEq(5, e.getSQLState().length(), "five-character state");
        checkEq(real.getMessage(), e.getMessage(), "H2's own text");

        e = expectSQLException(() -> xaDataSource("URL", url).getXAConnection("", "").getConnection());
        checkEq(real.getSQLState(), e.getSQLState(), "H2's own state through XA");
    }

    private static void pgUnreachable() throws Exception {
        String url = "jdbc:postgresql://127.0.0.1:1/postgres";
        Properties info = new Properties();
        info.setProperty("user", "nobody");
        SQLException real = realFailure("org.postgresql.Driver", url, info);
        SQLException e = expectSQLException(() -> dataSource("URL", url).getConnection("nobody", ""));
        checkEq("08001", e.getSQLState(), "state");
        checkEq(real.getMessage(), e.getMessage(), "the PostgreSQL driver's text");

        e = expectSQLException(() -> dataSource("URL", "jdbc:postgresql://[x/?password=topsecret").getConnection());
        checkEq("08001", e.getSQLState(), "state of a malformed URL");
        check(!e.getMessage().contains("topsecret"), "message shows no password: " + e.getMessage());
    }

    private static void h2Serial() throws Exception {
        DataSource ds = dataSource("URL", "{jdbc:h2:mem:" + UNIQUE + "s;DB_CLOSE_DELAY=-1}");
        try (Connection c = ds.getConnection("", "")) {
            exec(c, "CREATE TABLE ser (id INT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY, v VARCHAR(10))");
            exec(c, "CREATE TABLE plain (k INT PRIMARY KEY, v INT)");
            try (Statement s = c.createStatement()) {
                checkEq(0, serial(s), "before execution");
                checkEq(1, s.executeUpdate("INSERT INTO ser (v) VALUES ('a')"), "update count");
                checkEq(1, serial(s), "after executeUpdate");
                checkEq(1, serial(s), "asked twice");
                check(!s.execute(" /* note */ insert into ser (v) values ('b')"), "execute gives an update count");
                checkEq(2, serial(s), "after execute with a comment and lower case");
                s.executeQuery("SELECT COUNT(*) FROM ser").close();
                checkEq(0, serial(s), "after a query");
                s.executeUpdate("INSERT INTO ser (v) VALUES ('c'), ('d')");
                checkEq(4, serial(s), "last of a multi-row insert");
                s.executeUpdate("INSERT INTO plain VALUES (1, 1)");
                checkEq(0, serial(s), "table without identity");
                SQLException e = expectSQLException(() -> s.executeUpdate("INSERT INTO plain VALUES (1, 2)"));
                check(e.getClass().getName().startsWith("org.h2."), "real exception");
                checkEq(0, serial(s), "after a failed insert");
            }
            try (PreparedStatement ps = c.prepareStatement("INSERT INTO ser (v) VALUES (?)")) {
                ps.setString(1, "e");
                ps.executeUpdate();
                checkEq(5, serial(ps), "prepared insert");
                ps.setString(1, "f");
                check(!ps.execute(), "prepared execute");
                checkEq(6, serial(ps), "prepared insert again");
            }
            try (PreparedStatement ps = c.prepareStatement("SELECT v FROM ser WHERE id = ?")) {
                ps.setInt(1, 1);
                ps.executeQuery().close();
                checkEq(0, serial(ps), "prepared query");
            }
            checkEq(6, count(c, "SELECT COUNT(*) FROM ser"), "rows inserted once each");
        }
    }

    private static void h2Xa() throws Exception {
        String url = "{jdbc:h2:mem:" + UNIQUE + "x;DB_CLOSE_DELAY=-1}";
        try (Connection c = dataSource("URL", url).getConnection("", "")) {
            exec(c, "CREATE TABLE xa (id INT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY, v INT)");
        }
        XAConnection xac = xaDataSource("URL", url, "User", "", "Password", "").getXAConnection("", "");
        try {
            XAResource xar = xac.getXAResource();
            check(xar != null, "an XA resource");
            Connection c = xac.getConnection();
            check(Proxy.isProxyClass(c.getClass()), "the XA connection's connection is wrapped");

            Xid commit = new TestXid(UNIQUE + "-commit");
            xar.start(commit, XAResource.TMNOFLAGS);
            try (Statement s = c.createStatement()) {
                s.executeUpdate("INSERT INTO xa (v) VALUES (1)");
                checkEq(1, serial(s), "serial inside the branch");
            }
            xar.end(commit, XAResource.TMSUCCESS);
            checkEq(XAResource.XA_OK, xar.prepare(commit), "prepare");
            xar.commit(commit, false);

            Xid rollback = new TestXid(UNIQUE + "-rollback");
            xar.start(rollback, XAResource.TMNOFLAGS);
            exec(c, "INSERT INTO xa (v) VALUES (2)");
            xar.end(rollback, XAResource.TMSUCCESS);
            xar.rollback(rollback);
        } finally {
            xac.close();
        }
        try (Connection c = dataSource("URL", url).getConnection("", "")) {
            checkEq(1, count(c, "SELECT COUNT(*) FROM xa WHERE v = 1"), "committed branch");
            checkEq(0, count(c, "SELECT COUNT(*) FROM xa WHERE v = 2"), "rolled-back branch");
        }
    }

    private static void pgConnect() throws Exception {
        try (Connection c = pgConnection("")) {
            checkEq(1, count(c, "SELECT 1"), "SELECT 1");
        }
        // User and password as properties, empty arguments.
        DataSource ds = dataSource("URL", "{" + pgUrl("") + "}", "User", env("KX_PG_USER"),
                "Password", env("KX_PG_PASSWORD"));
        try (Connection c = ds.getConnection("", "")) {
            checkEq(1, count(c, "SELECT 1"), "SELECT 1 with properties");
        }
    }

    private static void pgBadPassword() throws Exception {
        String url = pgUrl("");
        Properties info = new Properties();
        info.setProperty("user", env("KX_PG_USER"));
        info.setProperty("password", "wrong-" + UNIQUE);
        SQLException real = realFailure("org.postgresql.Driver", url, info);
        SQLException e = expectSQLException(
                () -> dataSource("URL", url).getConnection(env("KX_PG_USER"), "wrong-" + UNIQUE));
        checkEq(real.getSQLState(), e.getSQLState(), "PostgreSQL's own state");
        checkEq("28P01", e.getSQLState(), "invalid password");
        checkEq(real.getMessage(), e.getMessage(), "PostgreSQL's own text");
    }

    private static void pgUrlDefaults() throws Exception {
        String table = UNIQUE + "_dflt";
        try (Connection c = pgConnection("")) {
            exec(c, "CREATE TABLE " + table + " (n INT)");
            exec(c, "CREATE PROCEDURE " + table + "_add(k INT) LANGUAGE sql AS $$ INSERT INTO " + table
                    + " VALUES (k) $$");
            try {
                // stringtype=unspecified: a number bound as text goes into an INT column.
                try (PreparedStatement ps = c.prepareStatement("INSERT INTO " + table + " VALUES (?)")) {
                    ps.setString(1, "5");
                    ps.executeUpdate();
                }
                // escapeSyntaxCallMode=callIfNoReturn: {call} reaches a procedure.
                try (CallableStatement cs = c.prepareCall("{call " + table + "_add(?)}")) {
                    cs.setInt(1, 6);
                    cs.execute();
                }
                checkEq(2, count(c, "SELECT COUNT(*) FROM " + table), "rows through both");
                // Settings in the URL win.
                try (Connection v = pgConnection("?stringtype=varchar&escapeSyntaxCallMode=select")) {
                    SQLException e = expectSQLException(() -> {
                        try (PreparedStatement ps = v.prepareStatement("INSERT INTO " + table + " VALUES (?)")) {
                            ps.setString(1, "7");
                            ps.executeUpdate();
                        }
                    });
                    checkEq("42804", e.getSQLState(), "varchar into INT refused");
                    expectSQLException(() -> {
                        try (CallableStatement cs = v.prepareCall("{call " + table + "_add(?)}")) {
                            cs.setInt(1, 8);
                            cs.execute();
                        }
                    });
                }
            } finally {
                exec(c, "DROP PROCEDURE " + table + "_add");
                exec(c, "DROP TABLE " + table);
            }
        }
    }

    private static void pgSerial() throws Exception {
        String ser = UNIQUE + "_ser";
        String plain = UNIQUE + "_plain";
        try (Connection c = pgConnection("")) {
            exec(c, "CREATE TABLE " + ser + " (id SERIAL PRIMARY KEY, v TEXT)");
            exec(c, "CREATE TABLE " + plain + " (k INT PRIMARY KEY)");
            try {
                try (Statement s = c.createStatement()) {
                    checkEq(0, serial(s), "before execution");
                    s.executeUpdate("INSERT INTO " + ser + " (v) VALUES ('a')");
                    checkEq(1, serial(s), "after executeUpdate");
                    s.execute("insert into " + ser + " (v) values ('b')");
                    checkEq(2, serial(s), "after execute");
                    s.executeQuery("SELECT 1").close();
                    checkEq(0, serial(s), "after a query");
                }
                try (PreparedStatement ps = c.prepareStatement("INSERT INTO " + ser + " (v) VALUES (?)")) {
                    ps.setString(1, "c");
                    ps.executeUpdate();
                    checkEq(3, serial(ps), "prepared insert");
                }
                checkEq(3, count(c, "SELECT COUNT(*) FROM " + ser), "no extra rows (no RETURNING rewrite)");
            } finally {
                exec(c, "DROP TABLE " + ser);
            }
            // A fresh session that never used a sequence, in a transaction: lastval() fails, and
            // that failure must neither surface nor abort the transaction.
            try (Connection t = pgConnection("")) {
                t.setAutoCommit(false);
                try (Statement s = t.createStatement()) {
                    s.executeUpdate("INSERT INTO " + plain + " VALUES (1)");
                    checkEq(0, serial(s), "no sequence used in the session");
                    s.executeUpdate("INSERT INTO " + plain + " VALUES (2)");
                }
                t.commit();
            }
            try {
                checkEq(2, count(c, "SELECT COUNT(*) FROM " + plain), "transaction survived getSerial");
            } finally {
                exec(c, "DROP TABLE " + plain);
            }
        }
    }

    private static void pgXa() throws Exception {
        String table = UNIQUE + "_xa";
        try (Connection c = pgConnection("")) {
            exec(c, "CREATE TABLE " + table + " (id SERIAL PRIMARY KEY, v INT)");
            try {
                XAConnection xac = xaDataSource("URL", "{" + pgUrl("") + "}")
                        .getXAConnection(env("KX_PG_USER"), env("KX_PG_PASSWORD"));
                try {
                    XAResource xar = xac.getXAResource();
                    Connection x = xac.getConnection();
                    Xid commit = new TestXid(UNIQUE + "-pg-commit");
                    xar.start(commit, XAResource.TMNOFLAGS);
                    try (Statement s = x.createStatement()) {
                        s.executeUpdate("INSERT INTO " + table + " (v) VALUES (1)");
                        checkEq(1, serial(s), "serial inside the branch");
                        s.executeUpdate("INSERT INTO " + table + " (v) VALUES (2)");
                    }
                    xar.end(commit, XAResource.TMSUCCESS);
                    checkEq(XAResource.XA_OK, xar.prepare(commit), "prepare");
                    xar.commit(commit, false);

                    Xid rollback = new TestXid(UNIQUE + "-pg-rollback");
                    xar.start(rollback, XAResource.TMNOFLAGS);
                    exec(x, "INSERT INTO " + table + " (v) VALUES (3)");
                    xar.end(rollback, XAResource.TMSUCCESS);
                    checkEq(XAResource.XA_OK, xar.prepare(rollback), "prepare before rollback");
                    xar.rollback(rollback);
                } finally {
                    xac.close();
                }
                checkEq(2, count(c, "SELECT COUNT(*) FROM " + table), "committed branch only");
            } finally {
                exec(c, "DROP TABLE " + table);
            }
        }
    }
}
