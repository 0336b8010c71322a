import java.sql.Connection;
import java.sql.Driver;
import java.sql.DriverPropertyInfo;
import java.sql.SQLException;
import java.sql.SQLFeatureNotSupportedException;
import java.util.Properties;
import java.util.logging.Logger;

/**
 * A driver of a prefix the stand-in does not know, found through its service
 * file: "jdbc:kxtest:NAME" opens the H2 in-memory database NAME.
 */
public final class KxTestDriver implements Driver {
    /** The loader that sees H2 (the stand-in's); set by the test before any connect. */
    static volatile ClassLoader h2Loader;
    /** The properties of the last connect, to see what the stand-in passed. */
    static volatile Properties lastInfo;

    private static final String PREFIX = "jdbc:kxtest:";

    @Override
    public boolean acceptsURL(String url) {
        return url != null && url.startsWith(PREFIX);
    }

    @Override
    public Connection connect(String url, Properties info) throws SQLException {
        if (!acceptsURL(url)) {
            return null;
        }
        lastInfo = (Properties) info.clone();
        try {
            Driver h2 = (Driver) Class.forName("org.h2.Driver", true, h2Loader).getConstructor().newInstance();
            return h2.connect("jdbc:h2:mem:" + url.substring(PREFIX.length()) + ";DB_CLOSE_DELAY=-1", info);
        } catch (ReflectiveOperationException e) {
            throw new SQLException("H2 not reachable", "08001", e);
        }
    }

    @Override
    public DriverPropertyInfo[] getPropertyInfo(String url, Properties info) {
        return new DriverPropertyInfo[0];
    }

    @Override public int getMajorVersion() { return 1; }
    @Override public int getMinorVersion() { return 0; }
    @Override public boolean jdbcCompliant() { return false; }

    @Override
    public Logger getParentLogger() throws SQLFeatureNotSupportedException {
        throw new SQLFeatureNotSupportedException();
    }
}
