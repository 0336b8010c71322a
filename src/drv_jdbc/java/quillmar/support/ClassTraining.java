package quillmar.support;

/**
 * Loads, in a VM that writes the classes it loaded into a class-data archive
 * when it ends, the classes a first connect needs: the JDK's and those of the
 * JDBC libraries, the latter through the driver's loader over the jar
 * directory, as a connect loads them.
 */
public final class ClassTraining {
    private ClassTraining() {
    }

    /** names: binary class names, one a line. Returns how many of them were loaded. */
    public static int load(ClassLoader loader, String names) {
        int loaded = 0;
        for (String line : names.split("\n")) {
            String name = line.trim();
            if (name.length() == 0 || name.charAt(0) == '#') {
                continue;
            }
            try {
                // Initialised, as a connect leaves them: the archive keeps linked classes only.
                Class.forName(name, true, loader);
                loaded++;
            } catch (Throwable absent) {
                // Not in this JDK or in this version of the JDBC library: nothing to keep.
            }
        }
        return loaded;
    }

    /**
     * Connects through the data source to a URL that refuses at once (no
     * server listens there): the JDBC library's way up to the network runs
     * once, and with it the method handles and lambdas it makes on the way.
     */
    public static void connect(ClassLoader loader, String dataSource, String url) {
        try {
            Object ds = Class.forName(dataSource, true, loader).getConstructor().newInstance();
            ds.getClass().getMethod("setURL", String.class).invoke(ds, url);
            ds.getClass().getMethod("getConnection", String.class, String.class).invoke(ds, "kestrix", "kestrix");
        } catch (Throwable refused) {
            // Refused, as it should be.
        }
    }
}
