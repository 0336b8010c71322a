package quillmar.support;

import java.nio.charset.Charset;
import java.sql.Date;
import java.sql.ResultSet;
import java.sql.SQLException;
import java.sql.Time;
import java.sql.Timestamp;
import java.time.LocalDate;
import java.time.LocalDateTime;

/**
 * Reads a block of rows of a ResultSet in one call from native code. Each
 * value lands in flat arrays that the caller copies out with a handful of
 * array reads per block, instead of one call into Java per value and per
 * wasNull.
 *
 * The values are the ones the single getters give: the same ResultSet
 * getter per column, wasNull after the primitive ones, a null object for the
 * others; narrow text as the platform charset's bytes, cut to the room the
 * caller has and at a NUL; wide text cut to the room, never in half a
 * surrogate pair; dates and timestamps as java.time values (the proleptic
 * Gregorian calendar of ODBC and SQL; java.util.Date switches to the Julian
 * calendar before 1582), or, for a column whose driver cannot give them,
 * from the deprecated java.util.Date accessors (the VM's default zone, the
 * zone the objects were made in); times from those accessors. A year an ODBC
 * date cannot hold (a BC date, or PostgreSQL's 'infinity', which arrives as
 * year +999999999) stops the block at its row with 22008, as the single
 * getters' road does.
 */
public final class RowBlock {
    public static final int BOOLEAN = 1;
    public static final int BYTE = 2;
    public static final int SHORT = 3;
    public static final int INT = 4;
    public static final int FLOAT = 5;
    public static final int DOUBLE = 6;
    public static final int DATE = 7;
    public static final int TIME = 8;
    public static final int TIMESTAMP = 9;
    public static final int TEXT = 10;
    public static final int WIDE_TEXT = 11;
    public static final int BYTES = 12;

    /**
     * Row after row, column after column: the value (booleans, integers and
     * the raw bits of floats and doubles as longs); for text and bytes its
     * place in the pool as offset << 32 | length; for dates getYear << 32 |
     * getMonth << 16 | getDate, for times getHours << 32 | getMinutes << 16 |
     * getSeconds; a timestamp takes three words: the date word, the time
     * word and getNanos. Fields are cut to 16 bits, the year to 32.
     */
    public long[] words = new long[0];
    /** One per row and column: 1 for SQL NULL. */
    public byte[] nulls = new byte[0];
    /** Narrow text and binary values of the block. */
    public byte[] bytes = new byte[1024];
    public int bytesUsed;
    /** Wide text values of the block. */
    public char[] chars = new char[1024];
    public int charsUsed;
    /** The result set has no more rows. */
    public boolean end;
    /** What a getter or next threw; the rows before it are complete. */
    public Throwable failure;

    private final boolean asciiPlain;

    /** The result set legacyColumns is about. */
    private ResultSet legacyOf;
    /** Bit c - 1: column c of legacyOf cannot be read as java.time (columns 1 to 64). */
    private long legacyColumns;

    public RowBlock() {
        asciiPlain = asciiIsPlatform();
    }

    /** Whether the platform charset gives each ASCII character as its own byte. */
    private static boolean asciiIsPlatform() {
        char[] all = new char[128];
        for (int i = 0; i < 128; i++) {
            all[i] = (char) i;
        }
        byte[] b = new String(all).getBytes(Charset.defaultCharset());
        if (b.length != 128) {
            return false;
        }
        for (int i = 0; i < 128; i++) {
            if (b[i] != i) {
                return false;
            }
        }
        return true;
    }

    public static int wordsOf(int kind) {
        return kind == TIMESTAMP ? 3 : 1;
    }

    /**
     * Reads up to rows rows. layout holds two ints per column: its kind and
     * its room (text: the most bytes or characters kept; binary: the most
     * bytes kept). Answers the rows read completely.
     */
    public int fill(ResultSet rs, int[] layout, int rows) {
        final int cols = layout.length / 2;
        int stride = 0;
        for (int c = 0; c < cols; c++) {
            stride += wordsOf(layout[2 * c]);
        }
        if (words.length < rows * stride) {
            words = new long[rows * stride];
        }
        if (nulls.length < rows * cols) {
            nulls = new byte[rows * cols];
        }
        bytesUsed = 0;
        charsUsed = 0;
        end = false;
        failure = null;
        int r = 0;
        try {
            for (; r < rows; r++) {
                if (!rs.next()) {
                    end = true;
                    break;
                }
                int w = r * stride;
                int n = r * cols;
                for (int c = 0; c < cols; c++) {
                    int kind = layout[2 * c];
                    int room = layout[2 * c + 1];
                    boolean isNull = readValue(rs, c + 1, kind, room, w);
                    nulls[n + c] = (byte) (isNull ? 1 : 0);
                    w += wordsOf(kind);
                }
            }
        } catch (Throwable t) {
            failure = t;
        }
        return r;
    }

    private boolean readValue(ResultSet rs, int i, int kind, int room, int w) throws Exception {
        switch (kind) {
            case BOOLEAN:
                words[w] = rs.getBoolean(i) ? 1 : 0;
                return rs.wasNull();
            case BYTE:
                words[w] = rs.getByte(i);
                return rs.wasNull();
            case SHORT:
                words[w] = rs.getShort(i);
                return rs.wasNull();
            case INT:
                words[w] = rs.getInt(i);
                return rs.wasNull();
            case FLOAT:
                words[w] = Float.floatToRawIntBits(rs.getFloat(i));
                return rs.wasNull();
            case DOUBLE:
                words[w] = Double.doubleToRawLongBits(rs.getDouble(i));
                return rs.wasNull();
            case DATE: {
                if (!legacy(rs, i)) {
                    LocalDate d = null;
                    boolean refused = false;
                    try {
                        d = rs.getObject(i, LocalDate.class);
                    } catch (SQLException | LinkageError | UnsupportedOperationException e) {
                        refused = true;
                        markLegacy(rs, i);
                    }
                    if (!refused) {
                        if (d == null) {
                            words[w] = 0;
                            return true;
                        }
                        words[w] = dateWord(checkedYear(d.getYear() - 1900), d.getMonthValue() - 1,
                                d.getDayOfMonth());
                        return false;
                    }
                }
                Date d = rs.getDate(i);
                if (d == null) {
                    words[w] = 0;
                    return true;
                }
                words[w] = dateWord(checkedYear(d.getYear()), d.getMonth(), d.getDate());
                return false;
            }
            case TIME: {
                Time t = rs.getTime(i);
                if (t == null) {
                    words[w] = 0;
                    return true;
                }
                words[w] = dateWord(t.getHours(), t.getMinutes(), t.getSeconds());
                return false;
            }
            case TIMESTAMP: {
                if (!legacy(rs, i)) {
                    LocalDateTime t = null;
                    boolean refused = false;
                    try {
                        t = rs.getObject(i, LocalDateTime.class);
                    } catch (SQLException | LinkageError | UnsupportedOperationException e) {
                        refused = true;
                        markLegacy(rs, i);
                    }
                    if (!refused) {
                        if (t == null) {
                            words[w] = 0;
                            words[w + 1] = 0;
                            words[w + 2] = 0;
                            return true;
                        }
                        words[w] = dateWord(checkedYear(t.getYear() - 1900), t.getMonthValue() - 1,
                                t.getDayOfMonth());
                        words[w + 1] = dateWord(t.getHour(), t.getMinute(), t.getSecond());
                        words[w + 2] = t.getNano() & 0xFFFFFFFFL;
                        return false;
                    }
                }
                Timestamp t = rs.getTimestamp(i);
                if (t == null) {
                    words[w] = 0;
                    words[w + 1] = 0;
                    words[w + 2] = 0;
                    return true;
                }
                words[w] = dateWord(checkedYear(t.getYear()), t.getMonth(), t.getDate());
                words[w + 1] = dateWord(t.getHours(), t.getMinutes(), t.getSeconds());
                words[w + 2] = t.getNanos() & 0xFFFFFFFFL;
                return false;
            }
            case TEXT: {
                String s = rs.getString(i);
                if (s == null) {
                    words[w] = 0;
                    return true;
                }
                words[w] = putText(s, room);
                return false;
            }
            case WIDE_TEXT: {
                String s = rs.getString(i);
                if (s == null) {
                    words[w] = 0;
                    return true;
                }
                words[w] = putWide(s, room);
                return false;
            }
            case BYTES: {
                byte[] b = rs.getBytes(i);
                if (b == null) {
                    words[w] = 0;
                    return true;
                }
                int n = Math.min(b.length, Math.max(room, 0));
                int at = reserveBytes(n);
                System.arraycopy(b, 0, bytes, at, n);
                words[w] = place(at, n);
                return false;
            }
            default:
                throw new IllegalArgumentException("column kind " + kind);
        }
    }

    /**
     * Whether column i of rs is read through java.util.Date: its driver
     * refused a java.time value for it before (PostgreSQL's timestamptz).
     * Remembered per result set, so a refusal costs one exception, not one a
     * value.
     */
    private boolean legacy(ResultSet rs, int i) {
        if (rs != legacyOf) {
            legacyOf = rs;
            legacyColumns = 0;
        }
        return i <= 64 && (legacyColumns & (1L << (i - 1))) != 0;
    }

    private void markLegacy(ResultSet rs, int i) {
        if (rs == legacyOf && i <= 64) {
            legacyColumns |= 1L << (i - 1);
        }
    }

    /**
     * getYear's value (years since 1900), refused when an ODBC date cannot
     * hold the year: before year 1 (BC; the structure has no era) or beyond
     * 16 bits.
     */
    private static int checkedYear(int since1900) throws SQLException {
        long year = (long) since1900 + 1900;
        if (year < 1 || year > Short.MAX_VALUE) {
            throw new SQLException("Date overflow", "22008");
        }
        return since1900;
    }

    private static long place(int at, int n) {
        return ((long) at << 32) | (n & 0xFFFFFFFFL);
    }

    private static long dateWord(int a, int b, int c) {
        return ((long) a << 32) | ((long) (b & 0xFFFF) << 16) | (c & 0xFFFF);
    }

    private int reserveBytes(int n) {
        int at = bytesUsed;
        if (bytes.length - at < n) {
            long want = Math.max((long) bytes.length * 2, (long) at + n);
            if (want > Integer.MAX_VALUE - 8) {
                throw new OutOfMemoryError("row block too large");
            }
            bytes = java.util.Arrays.copyOf(bytes, (int) want);
        }
        bytesUsed = at + n;
        return at;
    }

    private int reserveChars(int n) {
        int at = charsUsed;
        if (chars.length - at < n) {
            long want = Math.max((long) chars.length * 2, (long) at + n);
            if (want > Integer.MAX_VALUE - 8) {
                throw new OutOfMemoryError("row block too large");
            }
            chars = java.util.Arrays.copyOf(chars, (int) want);
        }
        charsUsed = at + n;
        return at;
    }

    /** Narrow text: at most room bytes, ending at a NUL. */
    private long putText(String s, int room) {
        int len = s.length();
        int keep = Math.min(len, Math.max(room, 0));
        if (asciiPlain) {
            boolean ascii = true;
            for (int k = 0; k < keep; k++) {
                if (s.charAt(k) >= 0x80) {
                    ascii = false;
                    break;
                }
            }
            if (ascii) {
                int at = reserveBytes(keep);
                int n = 0;
                for (; n < keep; n++) {
                    char ch = s.charAt(n);
                    if (ch == 0) {
                        break;
                    }
                    bytes[at + n] = (byte) ch;
                }
                bytesUsed = at + n;
                return place(at, n);
            }
        }
        byte[] b = s.getBytes();
        int n = Math.min(b.length, Math.max(room, 0));
        for (int k = 0; k < n; k++) {
            if (b[k] == 0) {
                n = k;
                break;
            }
        }
        int at = reserveBytes(n);
        System.arraycopy(b, 0, bytes, at, n);
        return place(at, n);
    }

    /** Wide text: at most room units, never ending in half a surrogate pair. */
    private long putWide(String s, int room) {
        int len = s.length();
        int n = Math.min(len, Math.max(room, 0));
        if (n > 0 && n < len && Character.isHighSurrogate(s.charAt(n - 1))) {
            n--;
        }
        int at = reserveChars(n);
        s.getChars(0, n, chars, at);
        return place(at, n);
    }
}
