// The same fetch and insert work as odbc_bench, in plain JDBC with the
// PostgreSQL driver: the baseline the ODBC drivers are compared against.
//   java -cp postgresql.jar:. JdbcBench URL USER PASSWORD fetch TABLE
//   java -cp postgresql.jar:. JdbcBench URL USER PASSWORD insert TABLE ROWS
import java.math.BigDecimal;
import java.sql.Connection;
import java.sql.DriverManager;
import java.sql.PreparedStatement;
import java.sql.ResultSet;
import java.sql.Statement;
import java.sql.Timestamp;
import java.time.LocalDateTime;

public final class JdbcBench {
  private JdbcBench() {}

  private static void report(String what, long rows, long startNanos) {
    double secs = (System.nanoTime() - startNanos) / 1e9;
    System.out.printf("RESULT jdbc %s %d %.3f %.0f%n", what, rows, secs, rows / secs);
  }

  public static void main(String[] args) throws Exception {
    try (Connection c = DriverManager.getConnection(args[0], args[1], args[2])) {
      String table = args[4];
      if (args[3].equals("fetch")) {
        long start = System.nanoTime();
        long rows = 0;
        long check = 0;
        try (Statement st = c.createStatement();
            ResultSet rs = st.executeQuery("SELECT id, name, amount, ratio, stamp FROM " + table)) {
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
        }
        report("fetch", rows, start);
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
        report("insert", rows, start);
      }
    }
  }
}
