package quillmar.support;

import java.lang.reflect.Method;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.Charset;
import java.sql.Date;
import java.sql.ResultSet;
import java.sql.ResultSetMetaData;
import java.sql.SQLException;
import java.sql.Time;
import java.sql.Timestamp;
import java.time.LocalDate;
import java.time.LocalDateTime;
import java.time.LocalTime;
import java.util.ArrayDeque;
import java.util.concurrent.SynchronousQueue;
import java.util.concurrent.ThreadFactory;
import java.util.concurrent.ThreadPoolExecutor;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.concurrent.atomic.AtomicLong;

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
 * PostgreSQL's driver gives the bytes the server sent for a column in text
 * form through getBytes, without making a String of them: ASCII text, a
 * decimal's digits, a timestamp in the server's plain form and a double's
 * decimal text are packed from those bytes, the very values the getters
 * would give; anything else (other characters, another form) goes through
 * the getters.
 *
 * Layout of buf, in the platform's byte order, row after row and column
 * after column: one flag byte (1: SQL NULL), then the value. Booleans and
 * bytes take one byte, shorts two, ints and the raw bits of floats four, the
 * raw bits of doubles eight: these are written for NULL too (the getter's
 * answer). A date is three shorts (year, month from 1, day), a time three
 * shorts (hour, minute, second), a time with its fraction (TIME_FRACTION)
 * three shorts and an int of nanoseconds, a timestamp six shorts and an int
 * of nanoseconds; text and bytes an int length and the bytes; wide text an int
 * count of UTF-16 units and the units. A NULL date, time, timestamp, text or
 * binary value has nothing after its flag.
 *
 * Read-ahead: once a block comes back full, a daemon thread of a shared pool
 * goes on reading the result set into segments packed the same way, up to
 * AHEAD_BYTES, while native code decodes and delivers the block; the next
 * blocks are then taken from the segments. The segments form one stream of
 * rows with the end or the failure at its place, so every block, end and
 * failure is the one a direct read would give. Only the read-ahead thread
 * touches the result set while it runs; pause() stops it after the row it
 * reads (native code pauses it before any other call on the connection) and
 * discard() also forgets its rows (the result set closes).
 */
public final class RowBlock implements Runnable, ThreadFactory {
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
    /** A time column whose fraction of a second is wanted. */
    public static final int TIME_FRACTION = 13;
    /** Added to TEXT or WIDE_TEXT: a decimal column, its text in plain form. */
    public static final int DECIMAL = 0x100;

    /** The packed rows of the last block; bytes 0 to used - 1 hold them. */
    public byte[] buf;
    public int used;
    /** The result set has no more rows. */
    public boolean end;
    /** What a getter or next threw; the rows before it are complete. */
    public Throwable failure;

    /**
     * A read-ahead runs or may go on for this reader: every other call on the
     * connection pauses it first.
     */
    public boolean reading;

    private ByteBuffer view;
    private final boolean asciiPlain;

    /** The result set legacyColumns is about. */
    private ResultSet legacyOf;
    /** Bit c - 1: column c of legacyOf cannot be read as java.time (columns 1 to 64). */
    private long legacyColumns;
    /**
     * The result set rawColumns is about, its columns (1 to 64) in text form,
     * and of those its timestamp, date and time columns.
     */
    private ResultSet rawOf;
    private long rawColumns;
    private long rawStamps;
    private long rawDates;
    private long rawTimes;

    /** Bytes of packed rows read ahead before the read-ahead rests. */
    private static final int AHEAD_BYTES = 4 << 20;
    /** A segment of the stream ends with the row that reaches this size. */
    private static final int SEGMENT_BYTES = 64 << 10;
    /** A caller waiting for rows read ahead is woken once this much is queued... */
    private static final int WAKE_BYTES = 512 << 10;
    /** ...or, when some rows are queued, after this long. */
    private static final long WAIT_NANOS = 5000000L;
    /** Segments kept for reuse. */
    private static final int SPARES = 8;
    /**
     * Bytes read ahead by all the readers of the VM before each rests: many
     * statements with results open keep this much at most.
     */
    private static final long ALL_AHEAD_BYTES = 32L << 20;
    private static final AtomicLong ALL_QUEUED = new AtomicLong();
    private static final AtomicInteger RUNNING = new AtomicInteger();
    private static final ThreadPoolExecutor POOL;

    static {
        POOL = new ThreadPoolExecutor(0, Integer.MAX_VALUE, 5, TimeUnit.SECONDS,
                new SynchronousQueue<Runnable>());
        POOL.setThreadFactory(new RowBlock(null));
    }

    /** The reader a segment belongs to (itself for a reader). */
    private final RowBlock home;
    /** The stream read ahead: segments of packed rows, oldest first. */
    private final ArrayDeque<RowBlock> queue;
    private long queuedBytes;
    private ResultSet streamOf;
    private int[] streamLayout;
    /** Rows the read-ahead may still read (negative: no bound). */
    private int allowance;
    private boolean producing;
    private volatile boolean stop;
    private boolean waiting;
    private final ArrayDeque<RowBlock> spares;
    /** A segment: its rows, the rows delivered, where each row ends. */
    private int rows;
    private int taken;
    private int[] rowEnds;

    public RowBlock() {
        home = this;
        queue = new ArrayDeque<RowBlock>();
        spares = new ArrayDeque<RowBlock>();
        asciiPlain = asciiIsPlatform();
        setBuffer(new byte[8 * 1024]);
    }

    /** A segment of owner's stream (or, for null, the thread factory). */
    private RowBlock(RowBlock owner) {
        home = owner;
        queue = null;
        spares = null;
        asciiPlain = owner != null && owner.asciiPlain;
        setBuffer(new byte[owner != null ? SEGMENT_BYTES + 1024 : 0]);
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
     *
     * ahead: how many rows after these may be read ahead (negative: no
     * bound, 0: none). Once a block comes back full, a background thread goes
     * on reading the following rows into a queue, so that the database sends
     * the next rows while the caller works through these. The rows, the
     * block boundaries and where an end or a failure falls are exactly those
     * of reading the blocks one after the other: the queue is a stream of
     * rows with the end or the failure at its place, and a call takes from
     * it what a direct read would have read.
     */
    public int fill(ResultSet rs, int[] layout, int rows, int ahead) {
        used = 0;
        end = false;
        failure = null;
        int got = 0;
        long waitStarted = 0;
        synchronized (this) {
            if (streamOf != null && (streamOf != rs || !java.util.Arrays.equals(streamLayout, layout))) {
                // Rows read ahead of another result (or shape): not this one's.
                stopLocked();
                clearLocked();
            }
            for (;;) {
                RowBlock head = queue.peekFirst();
                if (head == null || (waitStarted != 0 && producing && queuedBytes < WAKE_BYTES)) {
                    if (!producing || got >= rows) {
                        break;
                    }
                    // The queue is empty: wait for a good part of a round
                    // trip's rows rather than a block's, so that a busy machine
                    // does not wake this thread once a block; but never long
                    // when some rows are there.
                    long now = System.nanoTime();
                    if (waitStarted == 0) {
                        waitStarted = now;
                    } else if (head != null && now - waitStarted >= WAIT_NANOS) {
                        waitStarted = 0;
                        continue;
                    }
                    waiting = true;
                    try {
                        // Empty: a look every WAIT_NANOS for rows a slow
                        // round trip brings in dribs; else until the wait ends.
                        long rest = head == null ? WAIT_NANOS : WAIT_NANOS - (now - waitStarted);
                        wait(Math.max(1, rest / 1000000));
                    } catch (InterruptedException e) {
                        Thread.currentThread().interrupt();
                        failure = e;
                        ahead = 0;
                        break;
                    } finally {
                        waiting = false;
                    }
                    continue;
                }
                waitStarted = 0;
                int left = head.rows - head.taken;
                if (left > 0 && got < rows) {
                    try {
                        got += take(head, Math.min(left, rows - got));
                    } catch (Throwable t) {
                        // No room for them (no memory): they stay queued
                        // for the next block, this one ends with the failure.
                        failure = t;
                        ahead = 0;
                        break;
                    }
                    continue;
                }
                if (left > 0) {
                    break;
                }
                // Every row of the head is delivered: its end or failure
                // counts only for a block that wants more rows.
                if (got < rows && (head.end || head.failure != null)) {
                    end = head.end;
                    failure = head.failure;
                    queue.pollFirst();
                    break;
                }
                if (head.end || head.failure != null) {
                    break;
                }
                queue.pollFirst();
                recycle(head);
            }
        }
        if (got < rows && !end && failure == null) {
            // Nothing more read ahead: the rest straight from the result set.
            got += pack(rs, layout, rows - got);
        }
        synchronized (this) {
            ahead = end || failure != null || got < rows ? 0 : ahead;
            int queued = 0;
            boolean closed = false;
            for (RowBlock b : queue) {
                queued += b.rows - b.taken;
                closed |= b.end || b.failure != null;
            }
            if (ahead != 0 && !closed && !producing && queuedBytes < AHEAD_BYTES / 2
                    && ALL_QUEUED.get() < ALL_AHEAD_BYTES
                    && (ahead < 0 || ahead > queued)) {
                streamOf = rs;
                streamLayout = layout;
                allowance = ahead < 0 ? -1 : ahead - queued;
                producing = true;
                RUNNING.incrementAndGet();
                try {
                    POOL.execute(this);
                } catch (Throwable t) {
                    // No thread to read ahead: the rows are read as asked.
                    producing = false;
                    RUNNING.decrementAndGet();
                }
            }
            reading = producing;
        }
        return got;
    }

    /** n rows of head, from its first not delivered, into buf after the ones it holds. */
    private int take(RowBlock head, int n) {
        int from = head.taken == 0 ? 0 : head.rowEnds[head.taken - 1];
        int to = head.rowEnds[head.taken + n - 1];
        int at = reserve(to - from);
        System.arraycopy(head.buf, from, buf, at, to - from);
        head.taken += n;
        queuedBytes -= to - from;
        ALL_QUEUED.addAndGet(-(to - from));
        return n;
    }

    /** A used segment of the queue, kept for the next ones to pack into. */
    private void recycle(RowBlock segment) {
        if (spares.size() < SPARES && segment.buf.length <= 2 * SEGMENT_BYTES) {
            spares.addLast(segment);
        }
    }

    /** The read-ahead stops after the row it reads. The caller holds the lock. */
    private void stopLocked() {
        stop = true;
        boolean interrupted = false;
        while (producing) {
            try {
                wait();
            } catch (InterruptedException e) {
                interrupted = true;
            }
        }
        stop = false;
        reading = false;
        if (interrupted) {
            Thread.currentThread().interrupt();
        }
    }

    private void clearLocked() {
        queue.clear();
        ALL_QUEUED.addAndGet(-queuedBytes);
        queuedBytes = 0;
        streamOf = null;
        streamLayout = null;
    }

    /**
     * Stops the read-ahead after the row it reads; the rows read stay queued
     * for the next block. Called before anything else uses the connection,
     * so that only one thread at a time is inside its JDBC driver.
     */
    public synchronized void pause() {
        stopLocked();
    }

    /** Stops the read-ahead and forgets its rows: the result set closes. */
    public synchronized void discard() {
        stopLocked();
        clearLocked();
        spares.clear();
    }

    /**
     * Reads every row of rs not read yet into the queue, in the calling
     * thread and without the read-ahead's bound, up to the end or the
     * failure, which stay at their place: the blocks taken afterwards are
     * exactly those direct reads would have given, and rs is not read again.
     */
    public void drain(ResultSet rs, int[] layout) {
        synchronized (this) {
            stopLocked();
            if (streamOf != null && (streamOf != rs || !java.util.Arrays.equals(streamLayout, layout))) {
                clearLocked();
            }
            for (RowBlock b : queue) {
                if (b.end || b.failure != null) {
                    return;
                }
            }
            streamOf = rs;
            streamLayout = layout;
        }
        for (;;) {
            RowBlock seg = new RowBlock(this);
            seg.rowEnds = new int[256];
            seg.rows = seg.pack(rs, layout, Integer.MAX_VALUE);
            synchronized (this) {
                queue.addLast(seg);
                queuedBytes += seg.used;
                ALL_QUEUED.addAndGet(seg.used);
            }
            if (seg.end || seg.failure != null) {
                return;
            }
        }
    }

    /** Bytes read ahead in the VM and not yet taken (for tests). */
    public static long queued() {
        return ALL_QUEUED.get();
    }

    /** Read-aheads running in the VM (for tests: none is left behind). */
    public static int running() {
        return RUNNING.get();
    }

    /** The read-ahead thread: packs segments of the stream until told to stop. */
    public void run() {
        try {
            for (;;) {
                RowBlock seg;
                int n;
                ResultSet rs;
                int[] layout;
                synchronized (this) {
                    if (stop || queuedBytes >= AHEAD_BYTES || allowance == 0
                            || ALL_QUEUED.get() >= ALL_AHEAD_BYTES) {
                        return;
                    }
                    seg = spares.isEmpty() ? new RowBlock(this) : spares.pollFirst();
                    n = allowance < 0 ? Integer.MAX_VALUE : allowance;
                    rs = streamOf;
                    layout = streamLayout;
                }
                seg.used = 0;
                seg.taken = 0;
                seg.end = false;
                seg.failure = null;
                if (seg.rowEnds == null) {
                    seg.rowEnds = new int[256];
                }
                seg.rows = seg.pack(rs, layout, n);
                synchronized (this) {
                    queue.addLast(seg);
                    queuedBytes += seg.used;
                    ALL_QUEUED.addAndGet(seg.used);
                    if (allowance > 0) {
                        allowance -= seg.rows;
                    }
                    if (waiting && queuedBytes >= WAKE_BYTES) {
                        notifyAll();
                    }
                    if (seg.end || seg.failure != null) {
                        return;
                    }
                }
            }
        } catch (Throwable t) {
            // Packing itself failed (no memory): the rows not read stay in
            // the result set for the next block to read.
        } finally {
            synchronized (this) {
                producing = false;
                RUNNING.decrementAndGet();
                notifyAll();
            }
        }
    }

    /** Read-ahead threads: daemons, made when wanted, gone when idle. */
    public Thread newThread(Runnable r) {
        Thread t = new Thread(r, "row read-ahead");
        t.setDaemon(true);
        return t;
    }

    /**
     * Reads up to rows rows after the ones buf holds (a segment: stops early
     * when asked, and notes where each row ends). Answers the rows read
     * completely; sets end or failure.
     */
    private int pack(ResultSet rs, int[] layout, int rows) {
        final int cols = layout.length / 2;
        final boolean segment = home != this;
        int r = 0;
        int done = used;
        try {
            for (; r < rows; r++) {
                if (segment && home.stop) {
                    break;
                }
                if (segment && r == rowEnds.length) {
                    rowEnds = java.util.Arrays.copyOf(rowEnds, 2 * r);
                }
                if (!rs.next()) {
                    end = true;
                    break;
                }
                for (int c = 0; c < cols; c++) {
                    readValue(rs, c + 1, layout[2 * c], layout[2 * c + 1]);
                }
                done = used;
                if (segment) {
                    rowEnds[r] = done;
                    if (done >= SEGMENT_BYTES) {
                        r++;
                        break;
                    }
                }
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

    /**
     * Room for a fixed-size value of n bytes after its NULL flag, the flag
     * set from rs.wasNull() for the value just read; answers where the value
     * goes.
     */
    private int fixedValue(ResultSet rs, int n) throws SQLException {
        int at = reserve(n + 1);
        buf[at] = (byte) (rs.wasNull() ? 1 : 0);
        return at + 1;
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

    private void putTime(int hour, int minute, int second, int nanos) {
        int at = reserve(11);
        buf[at] = 0;
        view.putShort(at + 1, (short) hour);
        view.putShort(at + 3, (short) minute);
        view.putShort(at + 5, (short) second);
        view.putInt(at + 7, nanos);
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

    /** Decimal text without an exponent (a driver's binary transfer gives one). */
    private static String plainDecimal(String s) {
        if (s == null || (s.indexOf('E') < 0 && s.indexOf('e') < 0)) {
            return s;
        }
        try {
            return new java.math.BigDecimal(s.trim()).toPlainString();
        } catch (NumberFormatException notANumber) {
            return s;
        }
    }

    private void readValue(ResultSet rs, int i, int kind, int room) throws Exception {
        switch (kind) {
            case TEXT | DECIMAL: {
                if (raw(rs, i) && rawAscii(rs.getBytes(i), room, false, true)) {
                    return;
                }
                String s = plainDecimal(rs.getString(i));
                if (s == null) {
                    nullValue();
                } else {
                    putText(s, room);
                }
                return;
            }
            case WIDE_TEXT | DECIMAL: {
                if (raw(rs, i) && rawAscii(rs.getBytes(i), room, true, true)) {
                    return;
                }
                String s = plainDecimal(rs.getString(i));
                if (s == null) {
                    nullValue();
                } else {
                    putWide(s, room);
                }
                return;
            }
            case BOOLEAN: {
                boolean v = rs.getBoolean(i);
                int at = fixedValue(rs, 1);
                buf[at] = (byte) (v ? 1 : 0);
                return;
            }
            case BYTE: {
                byte v = rs.getByte(i);
                int at = fixedValue(rs, 1);
                buf[at] = v;
                return;
            }
            case SHORT: {
                short v = rs.getShort(i);
                int at = fixedValue(rs, 2);
                view.putShort(at, v);
                return;
            }
            case INT: {
                int v = rs.getInt(i);
                int at = fixedValue(rs, 4);
                view.putInt(at, v);
                return;
            }
            case FLOAT: {
                float v = rs.getFloat(i);
                int at = fixedValue(rs, 4);
                view.putInt(at, Float.floatToRawIntBits(v));
                return;
            }
            case DOUBLE: {
                if (raw(rs, i)) {
                    byte[] b = rs.getBytes(i);
                    double v = b == null ? 0 : decimalToDouble(b);
                    if (b == null || !Double.isNaN(v)) {
                        int at = reserve(9);
                        buf[at] = (byte) (b == null ? 1 : 0);
                        view.putLong(at + 1, Double.doubleToRawLongBits(v));
                        return;
                    }
                }
                double v = rs.getDouble(i);
                int at = fixedValue(rs, 8);
                view.putLong(at, Double.doubleToRawLongBits(v));
                return;
            }
            case DATE: {
                if (raw(rs, i) && (home.rawDates & (1L << (i - 1))) != 0 && rawDate(rs.getBytes(i))) {
                    return;
                }
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
            case TIME_FRACTION: {
                if (raw(rs, i) && (home.rawTimes & (1L << (i - 1))) != 0 && rawTime(rs.getBytes(i))) {
                    return;
                }
                if (!legacy(rs, i)) {
                    LocalTime t = null;
                    boolean refused = false;
                    try {
                        t = rs.getObject(i, LocalTime.class);
                    } catch (SQLException | LinkageError | UnsupportedOperationException e) {
                        refused = true;
                        markLegacy(rs, i);
                    }
                    if (!refused) {
                        if (t == null) {
                            nullValue();
                        } else {
                            putTime(t.getHour(), t.getMinute(), t.getSecond(), t.getNano());
                        }
                        return;
                    }
                }
                // java.sql.Time keeps milliseconds at most.
                Time t = rs.getTime(i);
                if (t == null) {
                    nullValue();
                } else {
                    putTime(t.getHours(), t.getMinutes(), t.getSeconds(),
                            (int) Math.floorMod(t.getTime(), 1000L) * 1000000);
                }
                return;
            }
            case TIMESTAMP: {
                if (raw(rs, i) && (home.rawStamps & (1L << (i - 1))) != 0 && rawTimestamp(rs.getBytes(i))) {
                    return;
                }
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
                if (raw(rs, i) && rawAscii(rs.getBytes(i), room, false, false)) {
                    return;
                }
                String s = rs.getString(i);
                if (s == null) {
                    nullValue();
                } else {
                    putText(s, room);
                }
                return;
            }
            case WIDE_TEXT: {
                if (raw(rs, i) && rawAscii(rs.getBytes(i), room, true, false)) {
                    return;
                }
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
        RowBlock h = home;
        if (rs != h.legacyOf) {
            h.legacyOf = rs;
            h.legacyColumns = 0;
        }
        return i <= 64 && (h.legacyColumns & (1L << (i - 1))) != 0;
    }

    private void markLegacy(ResultSet rs, int i) {
        RowBlock h = home;
        if (rs == h.legacyOf && i <= 64) {
            h.legacyColumns |= 1L << (i - 1);
        }
    }

    /**
     * Whether getBytes gives column i of rs as the text the database sent:
     * PostgreSQL's driver, the column in text form, not binary. Found out
     * once per result set.
     */
    private boolean raw(ResultSet rs, int i) {
        RowBlock h = home;
        if (rs != h.rawOf) {
            h.rawOf = rs;
            h.rawColumns = 0;
            h.rawStamps = 0;
            h.rawDates = 0;
            h.rawTimes = 0;
            h.textColumns(rs);
        }
        return i <= 64 && (h.rawColumns & (1L << (i - 1))) != 0;
    }

    private void textColumns(ResultSet rs) {
        try {
            ResultSetMetaData md = rs.getMetaData();
            Method format = formatOf(md.getClass());
            if (format == null) {
                return;
            }
            long text = 0;
            long stamps = 0;
            long dates = 0;
            long times = 0;
            int n = Math.min(md.getColumnCount(), 64);
            for (int c = 1; c <= n; c++) {
                int type = md.getColumnType(c);
                switch (type) {
                    case java.sql.Types.BINARY:
                    case java.sql.Types.VARBINARY:
                    case java.sql.Types.LONGVARBINARY:
                    case java.sql.Types.BLOB:
                        continue;   // getBytes decodes these
                    default:
                        break;
                }
                Object f = format.invoke(md, c);
                if (f instanceof Integer && (Integer) f == 0) {
                    long bit = 1L << (c - 1);
                    text |= bit;
                    stamps |= type == java.sql.Types.TIMESTAMP ? bit : 0;
                    dates |= type == java.sql.Types.DATE ? bit : 0;
                    times |= type == java.sql.Types.TIME ? bit : 0;
                }
            }
            rawColumns = text;
            rawStamps = stamps;
            rawDates = dates;
            rawTimes = times;
        } catch (Exception | LinkageError e) {
            // Through the getters, then.
        }
    }

    /** PostgreSQL's getFormat(column) (0: text) on its metadata class, or null. */
    private static Method formatOf(Class<?> md) {
        for (Class<?> k = md; k != null; k = k.getSuperclass()) {
            for (Class<?> face : k.getInterfaces()) {
                if (face.getName().equals("org.postgresql.PGResultSetMetaData")) {
                    try {
                        return face.getMethod("getFormat", int.class);
                    } catch (NoSuchMethodException e) {
                        return null;
                    }
                }
            }
        }
        return null;
    }

    /**
     * Packs b, a value's text, when it is all ASCII (for a decimal, also
     * without an exponent): as narrow text when the platform charset keeps
     * ASCII as it is, else as wide text; cut as putText and putWide cut.
     * False, with nothing packed, for any other text.
     */
    private boolean rawAscii(byte[] b, int room, boolean wide, boolean decimal) {
        if (b == null) {
            nullValue();
            return true;
        }
        if (!wide && !asciiPlain) {
            return false;
        }
        int len = b.length;
        for (int k = 0; k < len; k++) {
            byte ch = b[k];
            if (ch < 0 || (decimal && (ch == 'E' || ch == 'e'))) {
                return false;
            }
        }
        int keep = Math.min(len, Math.max(room, 0));
        if (wide) {
            int at = reserve(5L + 2L * keep);
            buf[at] = 0;
            view.putInt(at + 1, keep);
            int p = at + 5;
            for (int k = 0; k < keep; k++, p += 2) {
                view.putChar(p, (char) b[k]);
            }
            return true;
        }
        int n = 0;
        while (n < keep && b[n] != 0) {
            n++;
        }
        int at = reserve(5L + n);
        buf[at] = 0;
        view.putInt(at + 1, n);
        System.arraycopy(b, 0, buf, at + 5, n);
        return true;
    }

    /**
     * Packs b when it is a timestamp in the server's plain form,
     * "YYYY-MM-DD HH:MM:SS" with up to nine digits of a fraction; false,
     * with nothing packed, for any other text (a zone, an era, a longer year,
     * infinity).
     */
    private boolean rawTimestamp(byte[] b) {
        if (b == null) {
            nullValue();
            return true;
        }
        if (b.length < 19 || b[10] != ' ') {
            return false;
        }
        int year = dateYear(b);
        int month = digits(b, 5, 2);
        int day = digits(b, 8, 2);
        int hour = digits(b, 11, 2);
        int minute = digits(b, 14, 2);
        int second = digits(b, 17, 2);
        int nanos = fraction(b, 19);
        if (!plainDate(year, month, day) || !plainTime(b, 11, hour, minute, second) || nanos < 0) {
            return false;
        }
        putTimestamp(year, month, day, hour, minute, second, nanos);
        return true;
    }

    /** Packs b when it is a date in the server's plain form, "YYYY-MM-DD"; false, with nothing packed, else. */
    private boolean rawDate(byte[] b) {
        if (b == null) {
            nullValue();
            return true;
        }
        if (b.length != 10) {
            return false;
        }
        int year = dateYear(b);
        int month = digits(b, 5, 2);
        int day = digits(b, 8, 2);
        if (!plainDate(year, month, day)) {
            return false;
        }
        putDate(year, month, day);
        return true;
    }

    /**
     * Packs b when it is a time of day in the server's plain form,
     * "HH:MM:SS" with up to nine digits of a fraction; false, with nothing
     * packed, for any other text (a zone, 24:00:00).
     */
    private boolean rawTime(byte[] b) {
        if (b == null) {
            nullValue();
            return true;
        }
        if (b.length < 8) {
            return false;
        }
        int hour = digits(b, 0, 2);
        int minute = digits(b, 3, 2);
        int second = digits(b, 6, 2);
        int nanos = fraction(b, 8);
        if (!plainTime(b, 0, hour, minute, second) || nanos < 0) {
            return false;
        }
        putTime(hour, minute, second, nanos);
        return true;
    }

    /** The year of "YYYY-MM-DD" at the start of b (at least 10 bytes), or -1. */
    private static int dateYear(byte[] b) {
        return b.length >= 10 && b[4] == '-' && b[7] == '-' ? digits(b, 0, 4) : -1;
    }

    private static boolean plainDate(int year, int month, int day) {
        return year >= 1 && month >= 1 && month <= 12 && day >= 1 && day <= 31;
    }

    /** Whether "HH:MM:SS" at b[at] (its fields given) is a plain time of day. */
    private static boolean plainTime(byte[] b, int at, int hour, int minute, int second) {
        return b[at + 2] == ':' && b[at + 5] == ':' && hour >= 0 && hour <= 23 && minute >= 0
                && minute <= 59 && second >= 0 && second <= 59;
    }

    /**
     * The nanoseconds of what follows the seconds in b from at: nothing (0)
     * or '.' and one to nine digits, to the end of b; -1 for anything else.
     */
    private static int fraction(byte[] b, int at) {
        int n = b.length - at;
        if (n == 0) {
            return 0;
        }
        if (n < 2 || n > 10 || b[at] != '.') {
            return -1;
        }
        int nanos = digits(b, at + 1, n - 1);
        for (int k = n - 1; k < 9 && nanos >= 0; k++) {
            nanos *= 10;
        }
        return nanos;
    }

    /** 10^0 to 10^22: every one a double exactly. */
    private static final double[] POWERS_OF_TEN = {
        1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16,
        1e17, 1e18, 1e19, 1e20, 1e21, 1e22,
    };

    private static final int LEAST_FIVE_POWER = -342;
    private static final int MOST_FIVE_POWER = 308;
    /**
     * 5^q for q from -342 to 308, each as its 128 most significant bits (high
     * and low long, the top bit set): for q below 0, one more than the
     * quotient of a power of two by 5^-q. Made when a double is first read
     * from its text (by whichever thread comes first: each makes the same).
     */
    private static volatile long[] fivePowers;

    private static long[] fivePowers() {
        long[] t = fivePowers;
        if (t != null) {
            return t;
        }
        t = new long[2 * (MOST_FIVE_POWER - LEAST_FIVE_POWER + 1)];
        java.math.BigInteger five = java.math.BigInteger.valueOf(5);
        java.math.BigInteger top = java.math.BigInteger.ONE.shiftLeft(128);
        java.math.BigInteger p = java.math.BigInteger.ONE;
        for (int q = 0; q <= MOST_FIVE_POWER; q++, p = p.multiply(five)) {
            int shift = 128 - p.bitLength();
            putFivePower(t, q, shift >= 0 ? p.shiftLeft(shift) : p.shiftRight(-shift));
        }
        p = five;
        for (int q = -1; q >= LEAST_FIVE_POWER; q--, p = p.multiply(five)) {
            int z = p.bitLength();   // 5^-q lies between 2^(z-1) and 2^z
            int b = q >= -27 ? z + 127 : 2 * z + 128;
            java.math.BigInteger c = java.math.BigInteger.ONE.shiftLeft(b).divide(p).add(java.math.BigInteger.ONE);
            while (c.compareTo(top) >= 0) {
                c = c.shiftRight(1);
            }
            putFivePower(t, q, c);
        }
        fivePowers = t;
        return t;
    }

    private static void putFivePower(long[] t, int q, java.math.BigInteger c) {
        t[2 * (q - LEAST_FIVE_POWER)] = c.shiftRight(64).longValue();
        t[2 * (q - LEAST_FIVE_POWER) + 1] = c.longValue();
    }

    /** The high 64 bits of the unsigned product of a and b. */
    private static long unsignedMultiplyHigh(long a, long b) {
        long aLow = a & 0xFFFFFFFFL;
        long aHigh = a >>> 32;
        long bLow = b & 0xFFFFFFFFL;
        long bHigh = b >>> 32;
        long t = aHigh * bLow + ((aLow * bLow) >>> 32);
        long u = aLow * bHigh + (t & 0xFFFFFFFFL);
        return aHigh * bHigh + (t >>> 32) + (u >>> 32);
    }

    /**
     * The double Double.parseDouble makes of the decimal text in b, for text
     * of the plain form [-]digits[.digits][(e|E)[+|-]digits] with at most 19
     * significant digits; NaN for any other text and for the rare values
     * this does not settle (a result beyond the normal range, a tie between
     * two doubles), which the caller then reads the usual way. The nearest
     * double comes from the digits times a 128-bit power of five (the
     * Eisel-Lemire method), or, for a short value with a small exponent, from
     * one exact multiplication or division.
     */
    public static double decimalToDouble(byte[] b) {
        final int n = b.length;
        int i = 0;
        boolean negative = false;
        if (n > 0 && b[0] == '-') {
            negative = true;
            i = 1;
        }
        long w = 0;
        int significant = 0;
        int exponent = 0;
        boolean digits = false;
        for (; i < n && b[i] >= '0' && b[i] <= '9'; i++) {
            digits = true;
            if (w != 0 || b[i] != '0') {
                if (++significant > 19) {
                    return Double.NaN;
                }
                w = w * 10 + (b[i] - '0');
            }
        }
        if (i < n && b[i] == '.') {
            for (i++; i < n && b[i] >= '0' && b[i] <= '9'; i++) {
                digits = true;
                if (w != 0 || b[i] != '0') {
                    if (++significant > 19) {
                        return Double.NaN;
                    }
                    w = w * 10 + (b[i] - '0');
                }
                exponent--;
            }
        }
        if (!digits) {
            return Double.NaN;
        }
        if (i < n && (b[i] == 'e' || b[i] == 'E')) {
            i++;
            boolean down = false;
            if (i < n && (b[i] == '+' || b[i] == '-')) {
                down = b[i] == '-';
                i++;
            }
            if (i == n) {
                return Double.NaN;
            }
            int e = 0;
            for (; i < n && b[i] >= '0' && b[i] <= '9'; i++) {
                if (e > 100000) {
                    return Double.NaN;
                }
                e = e * 10 + (b[i] - '0');
            }
            exponent += down ? -e : e;
        }
        if (i != n) {
            return Double.NaN;
        }
        if (w == 0) {
            return negative ? -0.0 : 0.0;
        }
        final int q = exponent;
        // w is unsigned: 19 digits may pass Long.MAX_VALUE.
        if (Long.compareUnsigned(w, 1L << 53) <= 0 && q >= -22 && q <= 22) {
            // w and 10^|q| are doubles exactly: one rounding, the right one.
            double d = q < 0 ? (double) w / POWERS_OF_TEN[-q] : (double) w * POWERS_OF_TEN[q];
            return negative ? -d : d;
        }
        if (q < LEAST_FIVE_POWER || q > MOST_FIVE_POWER) {
            return Double.NaN;
        }
        final long[] powers = fivePowers();
        final int at = 2 * (q - LEAST_FIVE_POWER);
        final int lz = Long.numberOfLeadingZeros(w);
        final long m = w << lz;
        long high = unsignedMultiplyHigh(m, powers[at]);
        long low = m * powers[at];
        if ((high & 0x1FF) == 0x1FF) {
            // The bits that decide the rounding may carry: the next 64 bits
            // of the power settle them, unless they still may.
            long more = unsignedMultiplyHigh(m, powers[at + 1]);
            long sum = low + more;
            if (Long.compareUnsigned(sum, low) < 0) {
                high++;
            }
            low = sum;
            if ((high & 0x1FF) == 0x1FF) {
                return Double.NaN;
            }
        }
        final int upper = (int) (high >>> 63);
        long mantissa = high >>> (upper + 9);
        int power2 = (((152170 + 65536) * q) >> 16) + 63 + upper - lz + 1023;
        if (power2 <= 0) {
            return Double.NaN;   // a subnormal
        }
        if (Long.compareUnsigned(low, 1) <= 0 && (mantissa & 3) == 1 && (mantissa << (upper + 9)) == high) {
            return Double.NaN;   // maybe halfway between two doubles
        }
        mantissa += mantissa & 1;
        mantissa >>>= 1;
        if (mantissa >= (2L << 52)) {
            mantissa = 1L << 52;
            power2++;
        }
        mantissa &= ~(1L << 52);
        if (power2 >= 0x7FF) {
            return Double.NaN;   // beyond the largest double
        }
        double d = Double.longBitsToDouble(mantissa | ((long) power2 << 52));
        return negative ? -d : d;
    }

    /** The number n ASCII digits of b from at make, or -1. */
    private static int digits(byte[] b, int at, int n) {
        int v = 0;
        for (int k = at; k < at + n; k++) {
            int d = b[k] - '0';
            if (d < 0 || d > 9) {
                return -1;
            }
            v = v * 10 + d;
        }
        return v;
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
