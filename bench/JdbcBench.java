// The same fetch, insert and connect work as odbc_bench, in plain JDBC with
// the PostgreSQL driver: the baseline the ODBC drivers are compared against.
// The fetch reads in a transaction with a fetch size of 10000, as the ODBC
// driver does. Peak RSS is the process's (VmHWM).
//   java -cp postgresql.jar:. JdbcBench URL USER PASSWORD fetch TABLE
//   java -cp postgresql.jar:. JdbcBench URL USER PASSWORD insert|insertrw TABLE ROWS
//     (insertrw: the same, reported under its own name, for a URL with
//     reWriteBatchedInserts=true)
//   java -cp postgresql.jar:. JdbcBench URL USER PASSWORD connect COUNT
import java.io.IOException;
import java.math.BigDecimal;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.sql.Connection;
import java.sql.DriverManager;
import java.sql.PreparedStatement;
import java.sql.ResultSet;
import java.sql.Statement;
import java.sql.Timestamp;
import java.time.LocalDateTime;

public final class JdbcBench {
  private JdbcBench() {}

  private static long peakRssKiB() {
    try {
      for (String line : Files.readAllLines(Paths.get("/proc/self/status"))) {
        if (line.startsWith("VmHWM:")) {
          return Long.parseLong(line.replaceAll("[^0-9]", ""));
        }
      }
    } catch (IOException | NumberFormatException e) {
      return 0;
    }
    return 0;
  }

  private static void report(String what, long rows, double secs) {
    System.out.printf("RESULT jdbc %s %d %.4f %.0f %d%n", what, rows, secs, rows / secs, peakRssKiB());
  }

  private static void report(String what, long rows, long startNanos) {
    report(what, rows, (System.nanoTime() - startNanos) / 1e9);
  }

  public static void main(String[] args) throws Exception {
    if (args[3].equals("connect")) {
      long count = Long.parseLong(args[4]);
      long start = System.nanoTime();
      try (Connection first = DriverManager.getConnection(args[0], args[1], args[2])) {
        report("connect1", 1, start);
        start = System.nanoTime();
        for (long i = 0; i < count; ++i) {
          DriverManager.getConnection(args[0], args[1], args[2]).close();
        }
        report("connectN", count, (System.nanoTime() - start) / 1e9 / count);
      }
      return;
    }
    try (Connection c = DriverManager.getConnection(args[0], args[1], args[2])) {
      String table = args[4];
      if (args[3].equals("fetch") || args[3].equals("fetch_ac")) {
        // fetch_ac: in autocommit mode, where PostgreSQL's driver reads the
        // whole result before the first row.
        final boolean autocommit = args[3].equals("fetch_ac");
        c.setAutoCommit(autocommit);
        long start = System.nanoTime();
        long rows = 0;
        long check = 0;
        try (Statement st = c.createStatement()) {
          st.setFetchSize(10000);
          ResultSet rs = st.executeQuery("SELECT id, name, amount, ratio, stamp FROM " + table);
          while (rs.next()) {
            int id = rs.getInt(1);
            String name = rs.getString(2);
            BigDecimal amount = rs.getBigDecimal(3);
            double ratio = rs.getDouble(4);
            Timestamp stamp = rs.getTimestamp(5);
            check += id + (name != null ? 1 : 0) + (amount != null ? 1 : 0) + (long) ratio
                + (stamp != null ? 1 : 0);
            ++rows;
          }
          rs.close();
        }
        if (!autocommit) c.commit();
        report(args[3], rows, start);
        if (check == 0 && rows > 0) System.err.println("no data");
      } else {
        long rows = Long.parseLong(args[5]);
        try (Statement st = c.createStatement()) {
          st.execute("DROP TABLE IF EXISTS " + table);
          st.execute("CREATE TABLE " + table + " (id INTEGER, name VARCHAR(40), amount NUMERIC(12,2),"
              + " ratio DOUBLE PRECISION, stamp TIMESTAMP)");
        }
        c.setAutoCommit(false);
        long start = System.nanoTime();
        try (PreparedStatement ps = c.prepareStatement("INSERT INTO " + table + " VALUES (?, ?, ?, ?, ?)")) {
          for (long v = 0; v < rows; ++v) {
            ps.setInt(1, (int) v);
            ps.setString(2, "row number " + v);
            ps.setBigDecimal(3, new BigDecimal((v % 100000) + "." + String.format("%02d", v % 100)));
            ps.setDouble(4, v / 7.0);
            ps.setTimestamp(5, Timestamp.valueOf(LocalDateTime.of(2024, 1, (int) (1 + v % 28),
                (int) (v % 24), (int) (v % 60), (int) (v % 60))));
            ps.addBatch();
            if ((v + 1) % 1000 == 0 || v + 1 == rows) ps.executeBatch();
          }
        }
        c.commit();
        report(args[3], rows, start);
      }
    }
  }
}
