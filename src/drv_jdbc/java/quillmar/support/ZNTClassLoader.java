package quillmar.support;

import java.net.URL;
import java.net.URLClassLoader;

/**
 * Loads the JDBC driver's classes from its jar files; the system loader is asked first.
 *
 * <p>Each loader keeps the classes it defined itself, as every class loader does. A cache
 * shared by all loaders would hand a loader made later (after the last environment closed,
 * perhaps for another jar directory) the classes of an earlier one: a class it then defines
 * itself could not reach the package-private parts of its own package there, and the earlier
 * loader could never be collected.
 */
public class ZNTClassLoader extends URLClassLoader {
    public ZNTClassLoader(URL[] urls) {
        super(urls);
    }
}
