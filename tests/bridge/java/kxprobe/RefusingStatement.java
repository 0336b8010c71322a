package kxprobe;

import java.lang.reflect.InvocationHandler;
import java.lang.reflect.Method;
import java.lang.reflect.Proxy;
import java.sql.PreparedStatement;
import java.sql.SQLFeatureNotSupportedException;

/** A PreparedStatement that refuses streams and records every other setter it is given. */
public class RefusingStatement implements InvocationHandler {
    private final StringBuilder log = new StringBuilder();

    public static PreparedStatement create() {
        return (PreparedStatement) Proxy.newProxyInstance(RefusingStatement.class.getClassLoader(),
                new Class<?>[] {PreparedStatement.class}, new RefusingStatement());
    }

    public static String calls(PreparedStatement ps) {
        return ((RefusingStatement) Proxy.getInvocationHandler(ps)).log.toString();
    }

    public String callsOf(PreparedStatement ps) { return calls(ps); }

    @Override
    public Object invoke(Object proxy, Method m, Object[] args) throws Throwable {
        String name = m.getName();
        if (name.equals("setCharacterStream") || name.equals("setBinaryStream")
                || name.equals("setAsciiStream")) {
            log.append("refused ").append(name).append(';');
            throw new SQLFeatureNotSupportedException("no streams here", "0A000");
        }
        if (name.equals("setString")) {
            log.append("setString(").append(args[0]).append(',').append(((String) args[1]).length()).append(");");
        } else if (name.equals("setBytes")) {
            log.append("setBytes(").append(args[0]).append(',').append(((byte[]) args[1]).length).append(");");
        } else if (name.equals("hashCode")) {
            return System.identityHashCode(proxy);
        } else if (name.equals("equals")) {
            return proxy == args[0];
        } else if (name.equals("toString")) {
            return "RefusingStatement";
        }
        return null;
    }
}
