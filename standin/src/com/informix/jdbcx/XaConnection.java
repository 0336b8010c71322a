package com.informix.jdbcx;

import java.sql.Connection;
import java.sql.SQLException;
import javax.sql.ConnectionEventListener;
import javax.sql.StatementEventListener;
import javax.sql.XAConnection;
import javax.transaction.xa.XAResource;

/** The real XA connection, whose connections are wrapped like IfxDataSource's. */
final class XaConnection implements XAConnection {
    private final XAConnection real;
    private final boolean postgres;

    XaConnection(XAConnection real, boolean postgres) {
        this.real = real;
        this.postgres = postgres;
    }

    @Override
    public Connection getConnection() throws SQLException {
        Connection c = real.getConnection();
        if (c == null) {
            throw new SQLException("The XA connection returned no connection", "08003");
        }
        return ConnectionHandler.wrap(c, postgres, false);
    }

    @Override
    public XAResource getXAResource() throws SQLException {
        XAResource r = real.getXAResource();
        if (r == null) {
            throw new SQLException("The XA connection returned no XA resource", "08003");
        }
        return r;
    }

    @Override public void close() throws SQLException { real.close(); }
    @Override public void addConnectionEventListener(ConnectionEventListener l) { real.addConnectionEventListener(l); }
    @Override public void removeConnectionEventListener(ConnectionEventListener l) { real.removeConnectionEventListener(l); }
    @Override public void addStatementEventListener(StatementEventListener l) { real.addStatementEventListener(l); }
    @Override public void removeStatementEventListener(StatementEventListener l) { real.removeStatementEventListener(l); }
}
