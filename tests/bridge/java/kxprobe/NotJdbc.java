package kxprobe;

/** A class that is neither a JDBC driver nor a data source. */
public class NotJdbc {
    public NotJdbc() { }
}
