package com.informix.jdbcx;

import java.lang.reflect.InvocationHandler;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Proxy;
import java.sql.Connection;

/**
 * The connection handed out: every call goes to the real connection, except
 * that statement factories wrap what they return so it also implements
 * IfmxStatement.
 */
final class ConnectionHandler implements InvocationHandler {
    static final ClassLoader LOADER = ConnectionHandler.class.getClassLoader();

    final Connection real;
    final boolean postgres;
    Connection proxy;

    private ConnectionHandler(Connection real, boolean postgres) {
        this.real = real;
        this.postgres = postgres;
    }

    static Connection wrap(Connection real, boolean postgres) {
        ConnectionHandler h = new ConnectionHandler(real, postgres);
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
                return StatementHandler.open(this, m, args);
            default:
                return forward(real, m, args);
        }
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
