package com.informix.jdbcx;

import java.sql.SQLException;
import javax.sql.XAConnection;
import javax.sql.XADataSource;

/** XA data source over H2 or PostgreSQL, chosen by the URL's prefix. */
public class IfxXADataSource extends DataSourceBase implements XADataSource {
    public IfxXADataSource() {
    }

    @Override
    public XAConnection getXAConnection() throws SQLException {
        return getXAConnection(null, null);
    }

    /** An empty or null user or password means none (the property, if set, applies). */
    @Override
    public XAConnection getXAConnection(String user, String password) throws SQLException {
        return Backend.connectXA(target(user, password));
    }
}
