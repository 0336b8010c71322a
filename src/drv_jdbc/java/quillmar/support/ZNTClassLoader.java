package quillmar.support;

import java.net.URL;
import java.net.URLClassLoader;
import java.util.HashMap;
import java.util.Map;

/**
 * Loads the JDBC driver's classes from its jar files; the system loader is asked first.
 *
 * <p>One loader serves each list of jars for the life of the VM: an environment opened again
 * (after the application closed every connection, or after the driver library was loaded
 * again) gets the loader its jars had, so the JDBC driver's classes and their state (an
 * in-memory database, say) stay what they were. Jars of another directory get a loader of
 * their own, which defines every class it loads itself: classes of one package never come
 * from two loaders, which would keep them from each other's package-private parts.
 */
public class ZNTClassLoader extends URLClassLoader {
    private static final Map<String, ZNTClassLoader> LOADERS = new HashMap<String, ZNTClassLoader>();

    public ZNTClassLoader(URL[] urls) {
        super(urls);
    }

    /** The loader of these jars: the one made for them before, else a new one. */
    public static synchronized ZNTClassLoader forJars(URL[] urls) {
        StringBuilder key = new StringBuilder();
        for (URL url : urls) {
            key.append(url).append('\n');
        }
        String name = key.toString();
        ZNTClassLoader loader = LOADERS.get(name);
        if (loader == null) {
            loader = new ZNTClassLoader(urls);
            LOADERS.put(name, loader);
        }
        return loader;
    }
}
