package com.informix.jdbcx;

import java.io.PrintWriter;
import java.sql.SQLFeatureNotSupportedException;
import java.util.logging.Logger;
import javax.sql.CommonDataSource;

/**
 * The properties shared by both data sources. The driver sets them by name
 * from the connect string's property list, where a value holding ';' arrives
 * wrapped in one pair of braces.
 */
abstract class DataSourceBase implements CommonDataSource {
    private String url = "";
    private String user = "";
    private String password = "";
    private int loginTimeout;
    private boolean noSelectForUpdate;
    private PrintWriter logWriter;

    /** The real JDBC URL: jdbc:h2:..., jdbc:postgresql://... or any other driver's. */
    public void setURL(String value) { url = unbrace(value); }
    public String getURL() { return url; }

    public void setUser(String value) { user = unbrace(value); }
    public String getUser() { return user; }

    /** Write-only: a password is never read back or shown. */
    public void setPassword(String value) { password = unbrace(value); }

    /**
     * 1, yes or true: the data source behaves as a database without
     * SELECT ... FOR UPDATE (its metadata says so and such statements fail),
     * for clients that lock rows otherwise.
     */
    public void setNoSelectForUpdate(String value) {
        String v = unbrace(value).trim();
        noSelectForUpdate = v.equals("1") || v.equalsIgnoreCase("yes") || v.equalsIgnoreCase("true");
    }
    public String getNoSelectForUpdate() { return noSelectForUpdate ? "1" : "0"; }

    @Override public void setLoginTimeout(int seconds) { loginTimeout = seconds; }
    @Override public int getLoginTimeout() { return loginTimeout; }
    @Override public void setLogWriter(PrintWriter out) { logWriter = out; }
    @Override public PrintWriter getLogWriter() { return logWriter; }

    @Override
    public Logger getParentLogger() throws SQLFeatureNotSupportedException {
        throw new SQLFeatureNotSupportedException("No parent logger", "0A000");
    }

    /** The connect settings: an argument that is null or empty falls back to the property. */
    Backend.Target target(String userArg, String passwordArg) {
        return new Backend.Target(url, pick(userArg, user), pick(passwordArg, password), loginTimeout,
                noSelectForUpdate);
    }

    @Override
    public String toString() {
        return getClass().getName() + "[URL=" + Backend.prefixOf(url) + "...]";
    }

    private static String pick(String arg, String property) {
        return arg == null || arg.isEmpty() ? property : arg;
    }

    /**
     * Removes one outer pair of braces, only when the first brace closes at the
     * very end: "{a}{b}" is not one braced value and stays as it is.
     */
    static String unbrace(String value) {
        if (value == null) {
            return "";
        }
        int n = value.length();
        if (n < 2 || value.charAt(0) != '{' || value.charAt(n - 1) != '}') {
            return value;
        }
        int depth = 0;
        for (int i = 0; i < n - 1; i++) {
            char c = value.charAt(i);
            if (c == '{') {
                depth++;
            } else if (c == '}' && --depth == 0) {
                return value;
            }
        }
        return value.substring(1, n - 1);
    }
}
