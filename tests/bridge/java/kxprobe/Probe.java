package kxprobe;

import java.sql.SQLException;
import java.sql.SQLWarning;

/** Methods of every return type, and every kind of failure, for the call layer tests. */
public class Probe {
    public String echo(String s) { return s; }
    public int add(int a, int b) { return a + b; }
    public long twice(long v) { return 2 * v; }
    public boolean not(boolean v) { return !v; }
    public byte neg(byte v) { return (byte) -v; }
    public short half(short v) { return (short) (v / 2); }
    public char upper(char c) { return Character.toUpperCase(c); }
    public float third(float v) { return v / 3; }
    public double square(double v) { return v * v; }
    public String text() { return "a\uD83D\uDE00\u0000\u00e9z"; }
    public String nullText() { return null; }
    public int length(String s) { return s == null ? -1 : s.length(); }
    public int codePoints(String s) { return s.codePointCount(0, s.length()); }

    public void fail(int kind) throws Exception {
        switch (kind) {
            case 0: throw new SQLException("cannot connect here", "08001", 42);
            case 1: throw new SQLWarning("only a warning", "01000", 5);
            case 2: throw new SQLException("state is null", null, 7);
            case 3: throw new SQLException(null, "42S02", 3);
            case 4: throw new IllegalStateException("boom");
            case 5: {
                StringBuilder b = new StringBuilder("tab\there\nline\u00e9");
                while (b.length() < 3000) b.append('x');
                throw new SQLException(b.toString(), "HY000", 9);
            }
            case 6: throw new SQLException("short state", "XY", 1);
            case 7: throw new SQLException("duplicate state", "08004", 2);
            default: break;
        }
    }
}
