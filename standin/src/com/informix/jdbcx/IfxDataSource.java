package com.informix.jdbcx;

import java.sql.Connection;
import java.sql.SQLException;
import javax.sql.DataSource;

/**
 * Data source over the JDBC driver chosen by the URL's prefix. Connections it
 * hands out make statements that implement com.informix.jdbc.IfmxStatement.
 */
public class IfxDataSource extends DataSourceBase implements DataSource {
    public IfxDataSource() {
    }

    @Override
    public Connection getConnection() throws SQLException {
        return getConnection(null, null);
    }

    /** An empty or null user or password means none (the property, if set, applies). */
    @Override
    public Connection getConnection(String user, String password) throws SQLException {
        return Backend.connect(target(user, password));
    }

    @Override
    public <T> T unwrap(Class<T> iface) throws SQLException {
        if (iface.isInstance(this)) {
            return iface.cast(this);
        }
        throw new SQLException("Not a wrapper for " + iface.getName(), "HY000");
    }

    @Override
    public boolean isWrapperFor(Class<?> iface) {
        return iface.isInstance(this);
    }
}
