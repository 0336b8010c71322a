package quillmar.support;

import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.Charset;
import java.sql.Date;
import java.sql.ResultSet;
import java.sql.SQLException;
import java.sql.Time;
import java.sql.Timestamp;
import java.time.LocalDate;
import java.time.LocalDateTime;

/**
 * Reads a block of rows of a ResultSet in one call from native code and packs
 * them into one byte array, which native code takes whole and decodes without
 * calling back into Java per value.
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
 *
 * Layout of buf, in the platform's byte order, row after row and column
 * after column: one flag byte (1: SQL NULL), then the value. Booleans and
 * bytes take one byte, shorts two, ints and the raw bits of floats four, the
 * raw bits of doubles eight: these are written for NULL too (the getter's
 * answer). A date is three shorts (year, month from 1, day), a time three
 * shorts (hour, minute, second), a timestamp six shorts and an int of
 * nanoseconds; text and bytes an int length and the bytes; wide text an int
 * count of UTF-16 units and the units. A NULL date, time, timestamp, text or
 * binary value has nothing after its flag.
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

    /** The packed rows of the last block; bytes 0 to used - 1 hold them. */
    public byte[] buf;
    public int used;
    /** The result set has no more rows. */
    public boolean end;
    /** What a getter or next threw; the rows before it are complete. */
    public Throwable failure;

    private ByteBuffer view;
    private final boolean asciiPlain;

    /** The result set legacyColumns is about. */
    private ResultSet legacyOf;
    /** Bit c - 1: column c of legacyOf cannot be read as java.time (columns 1 to 64). */
    private long legacyColumns;

    public RowBlock() {
        asciiPlain = asciiIsPlatform();
        setBuffer(new byte[8 * 1024]);
    }

    private void setBuffer(byte[] b) {
        buf = b;
        view = ByteBuffer.wrap(b).order(ByteOrder.nativeOrder());
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

    /**
     * Reads up to rows rows. layout holds two ints per column: its kind and
     * its room (text: the most bytes or characters kept; binary: the most
     * bytes kept). Answers the rows read completely; used ends after the last
     * of them.
     */
    public int fill(ResultSet rs, int[] layout, int rows) {
        final int cols = layout.length / 2;
        used = 0;
        end = false;
        failure = null;
        int r = 0;
        int done = 0;
        try {
            for (; r < rows; r++) {
                if (!rs.next()) {
                    end = true;
                    break;
                }
                for (int c = 0; c < cols; c++) {
                    readValue(rs, c + 1, layout[2 * c], layout[2 * c + 1]);
                }
                done = used;
            }
        } catch (Throwable t) {
            failure = t;
        }
        // A row cut short by a failure is not part of the block.
        used = done;
        return r;
    }

    /** Room for n more bytes at used; answers used. */
    private int reserve(long n) {
        int at = used;
        if (buf.length - at < n) {
            long want = Math.max((long) buf.length * 2, (long) at + n);
            if (want > Integer.MAX_VALUE - 8) {
                throw new OutOfMemoryError("row block too large");
            }
            setBuffer(java.util.Arrays.copyOf(buf, (int) want));
        }
        used = at + (int) n;
        return at;
    }

    /** A NULL that has no value after its flag. */
    private void nullValue() {
        int at = reserve(1);
        buf[at] = 1;
    }

    private void putDate(int year, int month, int day) {
        int at = reserve(7);
        buf[at] = 0;
        view.putShort(at + 1, (short) year);
        view.putShort(at + 3, (short) month);
        view.putShort(at + 5, (short) day);
    }

    private void putTimestamp(int year, int month, int day, int hour, int minute, int second, int nanos) {
        int at = reserve(17);
        buf[at] = 0;
        view.putShort(at + 1, (short) year);
        view.putShort(at + 3, (short) month);
        view.putShort(at + 5, (short) day);
        view.putShort(at + 7, (short) hour);
        view.putShort(at + 9, (short) minute);
        view.putShort(at + 11, (short) second);
        view.putInt(at + 13, nanos);
    }

    private void readValue(ResultSet rs, int i, int kind, int room) throws Exception {
        switch (kind) {
            case BOOLEAN: {
                boolean v = rs.getBoolean(i);
                int at = reserve(2);
                buf[at] = (byte) (rs.wasNull() ? 1 : 0);
                buf[at + 1] = (byte) (v ? 1 : 0);
                return;
            }
            case BYTE: {
                byte v = rs.getByte(i);
                int at = reserve(2);
                buf[at] = (byte) (rs.wasNull() ? 1 : 0);
                buf[at + 1] = v;
                return;
            }
            case SHORT: {
                short v = rs.getShort(i);
                int at = reserve(3);
                buf[at] = (byte) (rs.wasNull() ? 1 : 0);
                view.putShort(at + 1, v);
                return;
            }
            case INT: {
                int v = rs.getInt(i);
                int at = reserve(5);
                buf[at] = (byte) (rs.wasNull() ? 1 : 0);
                view.putInt(at + 1, v);
                return;
            }
            case FLOAT: {
                float v = rs.getFloat(i);
                int at = reserve(5);
                buf[at] = (byte) (rs.wasNull() ? 1 : 0);
                view.putInt(at + 1, Float.floatToRawIntBits(v));
                return;
            }
            case DOUBLE: {
                double v = rs.getDouble(i);
                int at = reserve(9);
                buf[at] = (byte) (rs.wasNull() ? 1 : 0);
                view.putLong(at + 1, Double.doubleToRawLongBits(v));
                return;
            }
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
                            nullValue();
                        } else {
                            putDate(checkedYear(d.getYear() - 1900) + 1900, d.getMonthValue(),
                                    d.getDayOfMonth());
                        }
                        return;
                    }
                }
                Date d = rs.getDate(i);
                if (d == null) {
                    nullValue();
                } else {
                    putDate(checkedYear(d.getYear()) + 1900, d.getMonth() + 1, d.getDate());
                }
                return;
            }
            case TIME: {
                Time t = rs.getTime(i);
                if (t == null) {
                    nullValue();
                } else {
                    putDate(t.getHours(), t.getMinutes(), t.getSeconds());
                }
                return;
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
                            nullValue();
                        } else {
                            putTimestamp(checkedYear(t.getYear() - 1900) + 1900, t.getMonthValue(),
                                    t.getDayOfMonth(), t.getHour(), t.getMinute(), t.getSecond(),
                                    t.getNano());
                        }
                        return;
                    }
                }
                Timestamp t = rs.getTimestamp(i);
                if (t == null) {
                    nullValue();
                } else {
                    putTimestamp(checkedYear(t.getYear()) + 1900, t.getMonth() + 1, t.getDate(),
                            t.getHours(), t.getMinutes(), t.getSeconds(), t.getNanos());
                }
                return;
            }
            case TEXT: {
                String s = rs.getString(i);
                if (s == null) {
                    nullValue();
                } else {
                    putText(s, room);
                }
                return;
            }
            case WIDE_TEXT: {
                String s = rs.getString(i);
                if (s == null) {
                    nullValue();
                } else {
                    putWide(s, room);
                }
                return;
            }
            case BYTES: {
                byte[] b = rs.getBytes(i);
                if (b == null) {
                    nullValue();
                } else {
                    int n = Math.min(b.length, Math.max(room, 0));
                    int at = reserve(5L + n);
                    buf[at] = 0;
                    view.putInt(at + 1, n);
                    System.arraycopy(b, 0, buf, at + 5, n);
                }
                return;
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

    /** Narrow text: at most room bytes, ending at a NUL. */
    private void putText(String s, int room) {
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
                int at = reserve(5L + keep);
                int base = at + 5;
                int n = 0;
                for (; n < keep; n++) {
                    char ch = s.charAt(n);
                    if (ch == 0) {
                        break;
                    }
                    buf[base + n] = (byte) ch;
                }
                buf[at] = 0;
                view.putInt(at + 1, n);
                used = base + n;
                return;
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
        int at = reserve(5L + n);
        buf[at] = 0;
        view.putInt(at + 1, n);
        System.arraycopy(b, 0, buf, at + 5, n);
    }

    /** Wide text: at most room units, never ending in half a surrogate pair. */
    private void putWide(String s, int room) {
        int len = s.length();
        int n = Math.min(len, Math.max(room, 0));
        if (n > 0 && n < len && Character.isHighSurrogate(s.charAt(n - 1))) {
            n--;
        }
        int at = reserve(5L + 2L * n);
        buf[at] = 0;
        view.putInt(at + 1, n);
        int p = at + 5;
        for (int k = 0; k < n; k++, p += 2) {
            view.putChar(p, s.charAt(k));
        }
    }
}
