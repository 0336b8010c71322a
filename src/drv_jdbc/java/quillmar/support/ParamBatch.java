package quillmar.support;

import java.math.BigDecimal;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.Charset;
import java.sql.Date;
import java.sql.PreparedStatement;
import java.sql.SQLException;
import java.sql.Time;
import java.sql.Timestamp;
import java.time.LocalDate;
import java.time.LocalDateTime;
import java.time.LocalTime;

/**
 * Adds a block of parameter rows to a PreparedStatement's batch in one call
 * from native code. Native code converts each row's values as it does for a
 * single execution and packs the setter calls it would make into one byte
 * array; this class makes the same calls in the same order, so the batch
 * holds what binding row by row through native calls would have put there.
 *
 * Layout, in the platform's byte order: an operation byte, then its
 * arguments. Every setter names its parameter index as an int. Text comes
 * either as the bytes of the platform charset (an int length, the bytes) or
 * as UTF-16 units (an int count, the units), after a byte saying which.
 */
public final class ParamBatch {
    public static final int CLEAR = 1;
    public static final int ADD_BATCH = 2;
    public static final int NULL = 3;
    public static final int STRING = 4;
    public static final int BIG_DECIMAL = 5;
    public static final int BOOLEAN = 6;
    public static final int BYTE = 7;
    public static final int SHORT = 8;
    public static final int INT = 9;
    public static final int LONG = 10;
    public static final int FLOAT = 11;
    public static final int DOUBLE = 12;
    public static final int DATE = 13;
    public static final int TIME = 14;
    public static final int TIMESTAMP = 15;
    public static final int BYTES = 16;

    /** Text given as platform-charset bytes; otherwise UTF-16 units. */
    public static final int TEXT_PLATFORM = 0;

    private ParamBatch() {
    }

    /**
     * Runs the packed calls of ops[0 .. length - 1] on ps. Answers the rows
     * added to the batch; what a setter or addBatch throws goes to the caller
     * (the rows before it are in the batch).
     */
    @SuppressWarnings("deprecation")
    public static int addRows(PreparedStatement ps, byte[] ops, int length) throws SQLException {
        ByteBuffer in = ByteBuffer.wrap(ops, 0, length).order(ByteOrder.nativeOrder());
        int rows = 0;
        while (in.hasRemaining()) {
            int op = in.get();
            // A setter's arguments are read in order: the parameter index,
            // then the value (Java evaluates arguments left to right).
            switch (op) {
                case CLEAR:
                    try {
                        ps.clearParameters();
                    } catch (Throwable ignored) {
                        // A driver that cannot clear them is given every value anew anyway.
                    }
                    break;
                case ADD_BATCH:
                    ps.addBatch();
                    rows++;
                    break;
                case NULL:
                    ps.setNull(in.getInt(), in.getInt());
                    break;
                case STRING:
                    ps.setString(in.getInt(), text(in));
                    break;
                case BIG_DECIMAL:
                    ps.setBigDecimal(in.getInt(), new BigDecimal(text(in)));
                    break;
                case BOOLEAN:
                    ps.setBoolean(in.getInt(), in.get() != 0);
                    break;
                case BYTE:
                    ps.setByte(in.getInt(), in.get());
                    break;
                case SHORT:
                    ps.setShort(in.getInt(), in.getShort());
                    break;
                case INT:
                    ps.setInt(in.getInt(), in.getInt());
                    break;
                case LONG:
                    ps.setLong(in.getInt(), in.getLong());
                    break;
                case FLOAT:
                    ps.setFloat(in.getInt(), in.getFloat());
                    break;
                case DOUBLE:
                    ps.setDouble(in.getInt(), in.getDouble());
                    break;
                case DATE: {
                    int i = in.getInt();
                    int y = in.getInt();
                    int m = in.getInt();
                    int d = in.getInt();
                    // java.time where the driver takes it: proleptic Gregorian
                    // like ODBC; java.sql.Date is Julian before 1582.
                    boolean sent = false;
                    try {
                        ps.setObject(i, LocalDate.of(y, m, d));
                        sent = true;
                    } catch (Throwable refused) {
                        // the java.sql road below
                    }
                    if (!sent) {
                        ps.setDate(i, new Date(y - 1900, m - 1, d));
                    }
                    break;
                }
                case TIME: {
                    int i = in.getInt();
                    int h = in.getInt();
                    int m = in.getInt();
                    int s = in.getInt();
                    int nanos = in.getInt();
                    // A LocalTime keeps the fraction and is a time without
                    // zone; java.sql.Time has neither.
                    boolean sent = false;
                    try {
                        ps.setObject(i, LocalTime.of(h, m, s, nanos));
                        sent = true;
                    } catch (Throwable refused) {
                        // the java.sql road below
                    }
                    if (!sent) {
                        ps.setTime(i, new Time(h, m, s));
                    }
                    break;
                }
                case TIMESTAMP: {
                    int i = in.getInt();
                    int y = in.getInt();
                    int mo = in.getInt();
                    int d = in.getInt();
                    int h = in.getInt();
                    int mi = in.getInt();
                    int s = in.getInt();
                    int nanos = in.getInt();
                    boolean sent = false;
                    try {
                        ps.setObject(i, LocalDateTime.of(y, mo, d, h, mi, s, nanos));
                        sent = true;
                    } catch (Throwable refused) {
                        // the java.sql road below
                    }
                    if (!sent) {
                        ps.setTimestamp(i, new Timestamp(y - 1900, mo - 1, d, h, mi, s, nanos));
                    }
                    break;
                }
                case BYTES: {
                    int i = in.getInt();
                    byte[] b = new byte[in.getInt()];
                    in.get(b);
                    ps.setBytes(i, b);
                    break;
                }
                default:
                    throw new IllegalArgumentException("parameter operation " + op);
            }
        }
        return rows;
    }

    private static String text(ByteBuffer in) {
        int form = in.get();
        int n = in.getInt();
        if (form == TEXT_PLATFORM) {
            String s = new String(in.array(), in.arrayOffset() + in.position(), n, Charset.defaultCharset());
            in.position(in.position() + n);
            return s;
        }
        char[] units = new char[n];
        in.asCharBuffer().get(units);
        in.position(in.position() + 2 * n);
        return new String(units);
    }
}
