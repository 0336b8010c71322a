package kxprobe;

import java.io.PrintWriter;
import java.sql.Connection;
import java.sql.SQLException;
import java.util.logging.Logger;
import javax.sql.DataSource;

/** A data source that records which setter got which value; it never connects. */
public class PropsDataSource implements DataSource {
    private final StringBuilder log = new StringBuilder();

    private void note(String what) { log.append(what).append(';'); }

    public void setS(String v) { note("S(String)=" + v); }
    public void setI(int v) { note("I(int)=" + v); }
    public void setB(boolean v) { note("B(boolean)=" + v); }
    public void setV() { note("V()"); }
    public void setBoth(int v) { note("Both(int)=" + v); }
    public void setBoth(String v) { note("Both(String)=" + v); }
    public void setNum(boolean v) { note("Num(boolean)=" + v); }
    public void setNum(int v) { note("Num(int)=" + v); }
    public void setBad(String v) throws SQLException { throw new SQLException("refused " + v, "HY024", 11); }

    public String calls() { return log.toString(); }

    @Override public Connection getConnection() { return null; }
    @Override public Connection getConnection(String u, String p) { note("connect(" + u + "," + p + ")"); return null; }
    @Override public PrintWriter getLogWriter() { return null; }
    @Override public void setLogWriter(PrintWriter out) { }
    @Override public void setLoginTimeout(int seconds) { }
    @Override public int getLoginTimeout() { return 0; }
    @Override public Logger getParentLogger() { return null; }
    @Override public <T> T unwrap(Class<T> iface) throws SQLException { throw new SQLException("no"); }
    @Override public boolean isWrapperFor(Class<?> iface) { return false; }
}
