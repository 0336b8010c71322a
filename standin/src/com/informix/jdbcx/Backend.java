package com.informix.jdbcx;

import java.lang.reflect.InvocationTargetException;
import java.sql.Connection;
import java.sql.Driver;
import java.sql.SQLException;
import java.util.Iterator;
import java.util.Properties;
import java.util.ServiceConfigurationError;
import java.util.ServiceLoader;
import javax.sql.CommonDataSource;
import javax.sql.DataSource;
import javax.sql.XAConnection;
import javax.sql.XADataSource;

/**
 * Opens real connections. The real drivers are visible only through the class
 * loader that loaded this library (its jar's Class-Path names them), so their
 * classes are instantiated directly, never looked up through DriverManager.
 */
final class Backend {
    static final String H2 = "jdbc:h2:";
    static final String POSTGRES = "jdbc:postgresql:";

    /** What one connect asks for. */
    static final class Target {
        final String url;
        final String user;
        final String password;
        final int loginTimeout;
        /** The data source has no SELECT ... FOR UPDATE (as some databases lack it). */
        final boolean noSelectForUpdate;

        Target(String url, String user, String password, int loginTimeout, boolean noSelectForUpdate) {
            this.url = url;
            this.user = user;
            this.password = password;
            this.loginTimeout = loginTimeout;
            this.noSelectForUpdate = noSelectForUpdate;
        }

        boolean postgres() { return url.startsWith(POSTGRES); }
        boolean h2() { return url.startsWith(H2); }
    }

    private Backend() {
    }

    static Connection connect(Target t) throws SQLException {
        try {
            Connection real;
            if (t.postgres()) {
                real = ((DataSource) dataSource("org.postgresql.ds.PGSimpleDataSource", t)).getConnection();
            } else if (t.h2()) {
                real = ((DataSource) dataSource("org.h2.jdbcx.JdbcDataSource", t)).getConnection();
            } else {
                real = viaDriver(t);
            }
            if (real == null) {
                throw new SQLException("The JDBC driver returned no connection", "08001");
            }
            return ConnectionHandler.wrap(real, t.postgres(), t.noSelectForUpdate);
        } catch (SQLException e) {
            throw connectFailure(e);
        } catch (RuntimeException | LinkageError e) {
            throw new SQLException(describe(e), "08001", e);
        }
    }

    static XAConnection connectXA(Target t) throws SQLException {
        try {
            XAConnection real;
            if (t.postgres()) {
                real = ((XADataSource) dataSource("org.postgresql.xa.PGXADataSource", t)).getXAConnection();
            } else if (t.h2()) {
                real = ((XADataSource) dataSource("org.h2.jdbcx.JdbcDataSource", t)).getXAConnection();
            } else {
                throw new SQLException("XA connections are available only for URLs beginning with \""
                        + H2 + "\" or \"" + POSTGRES + "\", not \"" + prefixOf(t.url) + "\"", "08001");
            }
            if (real == null) {
                throw new SQLException("The JDBC driver returned no XA connection", "08001");
            }
            return new XaConnection(real, t.postgres());
        } catch (SQLException e) {
            throw connectFailure(e);
        } catch (RuntimeException | LinkageError e) {
            throw new SQLException(describe(e), "08001", e);
        }
    }

    /** A real data source with the URL, credentials and timeout set. */
    private static Object dataSource(String className, Target t) throws SQLException {
        Object ds;
        try {
            ds = Class.forName(className, true, Backend.class.getClassLoader()).getConstructor().newInstance();
        } catch (ClassNotFoundException e) {
            throw new SQLException("The JDBC driver class " + className + " cannot be loaded", "08001", e);
        } catch (ReflectiveOperationException e) {
            throw new SQLException("The JDBC data source " + className + " cannot be created: " + describe(e),
                    "08001", e);
        }
        set(ds, "setURL", t.url, "The URL is not accepted by " + className);
        if (t.postgres()) {
            // The driver binds numbers, dates and NULLs as text, and {call p(?)} must reach procedures.
            if (!urlSets(t.url, "stringtype")) {
                set(ds, "setStringType", "unspecified", null);
            }
            if (!urlSets(t.url, "escapeSyntaxCallMode")) {
                set(ds, "setEscapeSyntaxCallMode", "callIfNoReturn", null);
            }
        }
        if (!t.user.isEmpty()) {
            set(ds, "setUser", t.user, null);
        }
        if (!t.password.isEmpty()) {
            set(ds, "setPassword", t.password, "The password is not accepted by " + className);
        }
        if (t.loginTimeout > 0) {
            ((CommonDataSource) ds).setLoginTimeout(t.loginTimeout);
        }
        return ds;
    }

    /** Calls a String setter; failureText replaces the real text where it could echo a secret. */
    private static void set(Object target, String setter, String value, String failureText) throws SQLException {
        try {
            target.getClass().getMethod(setter, String.class).invoke(target, value);
        } catch (InvocationTargetException e) {
            Throwable cause = e.getCause();
            if (cause instanceof SQLException && failureText == null) {
                throw (SQLException) cause;
            }
            throw new SQLException(failureText != null ? failureText : describe(cause), "08001", cause);
        } catch (ReflectiveOperationException e) {
            throw new SQLException(target.getClass().getName() + " has no " + setter + "(String)", "08001", e);
        }
    }

    /** Whether the URL's query part names the parameter (names are case-sensitive there). */
    static boolean urlSets(String url, String name) {
        int q = url.indexOf('?');
        if (q < 0) {
            return false;
        }
        for (String item : url.substring(q + 1).split("&")) {
            int eq = item.indexOf('=');
            if ((eq < 0 ? item : item.substring(0, eq)).equals(name)) {
                return true;
            }
        }
        return false;
    }

    /** Any other prefix: the first java.sql.Driver of this library's class loader that accepts the URL. */
    private static Connection viaDriver(Target t) throws SQLException {
        if (t.url.isEmpty()) {
            throw new SQLException("No JDBC URL is set: give the data source's property URL through the"
                + " connect-string keyword URL (data-source key URLString), for example"
                + " URL={URL=jdbc:postgresql://host/database}", "08001");
        }
        Iterator<Driver> drivers = ServiceLoader.load(Driver.class, Backend.class.getClassLoader()).iterator();
        for (int broken = 0; broken < 100; ) {
            Driver driver;
            try {
                if (!drivers.hasNext()) {
                    break;
                }
                driver = drivers.next();
            } catch (ServiceConfigurationError e) {
                broken++;   // a broken provider must not hide the others, nor loop for ever
                continue;
            }
            try {
                if (!driver.acceptsURL(t.url)) {
                    continue;
                }
            } catch (SQLException e) {
                continue;
            }
            Properties info = new Properties();
            if (!t.user.isEmpty()) {
                info.setProperty("user", t.user);
            }
            if (!t.password.isEmpty()) {
                info.setProperty("password", t.password);
            }
            Connection c = driver.connect(t.url, info);
            if (c != null) {
                return c;
            }
        }
        throw new SQLException("No JDBC driver accepts URLs beginning with \"" + prefixOf(t.url) + "\"", "08001");
    }

    /** The real exception when it carries an SQLSTATE; else the same text under 08001. */
    private static SQLException connectFailure(SQLException e) {
        String state = e.getSQLState();
        if (state != null && state.length() == 5) {
            return e;
        }
        SQLException wrapped = new SQLException(e.getMessage(), "08001", e.getErrorCode(), e);
        wrapped.setNextException(e.getNextException());
        return wrapped;
    }

    private static String describe(Throwable e) {
        String text = e.getMessage();
        return text == null || text.isEmpty() ? e.getClass().getName() : text;
    }

    /** The URL up to its second ':' ("jdbc:h2:"): safe to show, unlike the rest, which may hold a password. */
    static String prefixOf(String url) {
        int first = url.indexOf(':');
        int second = first < 0 ? -1 : url.indexOf(':', first + 1);
        return second < 0 ? (first < 0 ? "" : url.substring(0, first + 1)) : url.substring(0, second + 1);
    }
}
