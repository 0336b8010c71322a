package com.informix.jdbcx;

import java.lang.reflect.InvocationHandler;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Proxy;
import java.sql.Connection;
import java.sql.DatabaseMetaData;
import java.sql.SQLException;
import java.util.regex.Pattern;

/**
 * The connection handed out: every call goes to the real connection, except
 * that statement factories wrap what they return so it also implements
 * IfmxStatement.
 */
final class ConnectionHandler implements InvocationHandler {
    static final ClassLoader LOADER = ConnectionHandler.class.getClassLoader();

    final Connection real;
    final boolean postgres;
    final boolean noSelectForUpdate;
    Connection proxy;

    private ConnectionHandler(Connection real, boolean postgres, boolean noSelectForUpdate) {
        this.real = real;
        this.postgres = postgres;
        this.noSelectForUpdate = noSelectForUpdate;
    }

    static Connection wrap(Connection real, boolean postgres, boolean noSelectForUpdate) {
        ConnectionHandler h = new ConnectionHandler(real, postgres, noSelectForUpdate);
        h.proxy = (Connection) Proxy.newProxyInstance(LOADER, new Class<?>[] {Connection.class}, h);
        return h.proxy;
    }

    @Override
    public Object invoke(Object self, Method m, Object[] args) throws Throwable {
        Object own = ownMethod(self, real, m, args);
        if (own != NOT_OWN) {
            return own;
        }
        switch (m.getName()) {
            case "createStatement":
            case "prepareStatement":
            case "prepareCall":
                if (args != null && args.length > 0 && args[0] instanceof String) {
                    refuseForUpdate((String) args[0]);
                }
                return StatementHandler.open(this, m, args);
            case "getMetaData":
                return noSelectForUpdate ? metaDataWithoutForUpdate((DatabaseMetaData) forward(real, m, args))
                                         : forward(real, m, args);
            default:
                return forward(real, m, args);
        }
    }

    private static final Pattern FOR_UPDATE = Pattern.compile("\\bFOR\\s+UPDATE\\b", Pattern.CASE_INSENSITIVE);

    /** A data source without SELECT ... FOR UPDATE refuses such a statement, as such a database would. */
    void refuseForUpdate(String sql) throws SQLException {
        if (noSelectForUpdate && sql != null && FOR_UPDATE.matcher(sql).find()) {
            throw new SQLException("SELECT ... FOR UPDATE is not supported by this data source", "0A000");
        }
    }

    /** The real metadata, but for supportsSelectForUpdate, which says no. */
    private static DatabaseMetaData metaDataWithoutForUpdate(DatabaseMetaData md) {
        if (md == null) {
            return null;
        }
        InvocationHandler h = (self, m, args) -> {
            Object own = ownMethod(self, md, m, args);
            if (own != NOT_OWN) {
                return own;
            }
            if (m.getName().equals("supportsSelectForUpdate")) {
                return Boolean.FALSE;
            }
            return forward(md, m, args);
        };
        return (DatabaseMetaData) Proxy.newProxyInstance(LOADER, new Class<?>[] {DatabaseMetaData.class}, h);
    }

    /** Marks a call that the proxy leaves to the real object. */
    static final Object NOT_OWN = new Object();

    /**
     * The methods every proxy answers itself: identity-based equals and
     * hashCode, and unwrap/isWrapperFor, which see the proxy before the real object.
     */
    static Object ownMethod(Object self, Object real, Method m, Object[] args) {
        String name = m.getName();
        if (m.getDeclaringClass() == Object.class) {
            switch (name) {
                case "equals":
                    return self == args[0];
                case "hashCode":
                    return System.identityHashCode(self);
                default:
                    return "com.informix.jdbcx proxy over " + real.getClass().getName() + "@"
                            + Integer.toHexString(System.identityHashCode(real));
            }
        }
        if ((name.equals("unwrap") || name.equals("isWrapperFor")) && args != null && args.length == 1
                && args[0] instanceof Class && ((Class<?>) args[0]).isInstance(self)) {
            return name.equals("unwrap") ? self : Boolean.TRUE;
        }
        return NOT_OWN;
    }

    /** Calls the real method and rethrows what it threw, never InvocationTargetException. */
    static Object forward(Object real, Method m, Object[] args) throws Throwable {
        try {
            return m.invoke(real, args);
        } catch (InvocationTargetException e) {
            throw e.getCause();
        }
    }
}
