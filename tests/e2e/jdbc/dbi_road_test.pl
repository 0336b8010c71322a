#!/usr/bin/perl
# Perl DBI (DBD::ODBC) as a client of both builds of the driver, on H2
# embedded and on the PostgreSQL server of the test script. DBD::ODBC asks
# SQLDescribeParam for each placeholder and binds every value as text, so
# this is the road of text into typed columns. ODBCSYSINI/ODBCINI point at
# the configuration generated into the build tree (set by CTest).
use strict;
use warnings;
use DBI;
use Test::More;

for my $pg (0, 1) {
    if ($pg && !$ENV{KX_PG_PORT}) {
        fail("KX_PG_PORT is not set: run the suite through scripts/test.sh");
        next;
    }
    for my $dsn ("kx_h2_u", "kx_h2_a") {
        my $road = ($pg ? "pg" : "h2") . " $dsn";
        my $cs = $pg
            ? "dbi:ODBC:DSN=$dsn;URL={URL=jdbc:postgresql://127.0.0.1:$ENV{KX_PG_PORT}/postgres}"
            : "dbi:ODBC:DSN=$dsn";
        my $dbh = DBI->connect($cs, $pg ? $ENV{KX_PG_USER} : "", $pg ? $ENV{KX_PG_PASSWORD} : "",
                               {RaiseError => 1, PrintError => 0, AutoCommit => 1, LongReadLen => 100000});
        my $t = "kx_dbi_" . ($pg ? "p" : "h") . substr($dsn, -1) . "_$$";
        $dbh->do("CREATE TABLE $t (id INTEGER, name VARCHAR(40), amount NUMERIC(10,2), "
                 . "ratio DOUBLE PRECISION, d DATE, stamp TIMESTAMP, flag BOOLEAN)");
        my $ins = $dbh->prepare("INSERT INTO $t VALUES (?, ?, ?, ?, ?, ?, ?)");
        $ins->execute(1, "first", "12.50", "1.5e3", "2024-02-29", "2024-02-29 23:59:58.25", 1);
        $ins->execute(2, "second row", "-0.01", "0.25", "1999-12-31", "2000-01-01 00:00:00", 0);
        $ins->execute(3, undef, undef, undef, undef, undef, undef);
        my $rows = $dbh->selectall_arrayref(
            "SELECT id, name, amount, ratio, d, stamp FROM $t ORDER BY id");
        is(scalar(@$rows), 3, "$road: three rows");
        is($rows->[0][1], "first", "$road: text");
        is($rows->[0][2], "12.50", "$road: decimal");
        is($rows->[0][3] + 0, 1500, "$road: double from exponent text");
        is($rows->[0][4], "2024-02-29", "$road: date");
        like($rows->[0][5], qr/^2024-02-29 23:59:58\.25/, "$road: timestamp with fraction");
        is($rows->[1][2], "-0.01", "$road: negative decimal");
        ok(!defined $rows->[2][1] && !defined $rows->[2][5], "$road: NULLs");

        my $sel = $dbh->prepare("SELECT id FROM $t WHERE d < ? ORDER BY id");
        $sel->execute("2024-01-01");
        is_deeply($sel->fetchall_arrayref, [[2]], "$road: date placeholder in a WHERE");

        $dbh->{AutoCommit} = 0;
        $dbh->do("DELETE FROM $t");
        $dbh->rollback;
        $dbh->{AutoCommit} = 1;
        is($dbh->selectrow_array("SELECT COUNT(*) FROM $t"), 3, "$road: rollback keeps the rows");

        eval { $dbh->do("SELECT * FROM kx_no_such_table") };
        like($@, qr/kx_no_such_table/i, "$road: the database's error text");
        $dbh->do("DROP TABLE $t");
        $dbh->disconnect;
    }
}
done_testing();
