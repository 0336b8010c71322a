package quillmar.support;

import java.util.Arrays;
import javax.transaction.xa.XAException;
import javax.transaction.xa.Xid;

/** A plain XA transaction identifier handed to the JDBC driver's XAResource. */
public class XAXid implements Xid {
    public int formatID;
    public byte[] gtrid;
    public byte[] bqual;

    public XAXid(Xid other) throws XAException {
        this(other.getFormatId(), other.getGlobalTransactionId(), other.getBranchQualifier());
    }

    public XAXid(int formatId, byte[] gtrid, byte[] bqual) throws XAException {
        this.formatID = -1;
        if (gtrid == null || bqual == null || gtrid.length > 64 || bqual.length > 64) {
            throw new XAException(XAException.XAER_INVAL);
        }
        this.formatID = formatId;
        this.gtrid = gtrid;
        this.bqual = bqual;
    }

    public int getFormatId() { return formatID; }

    public byte[] getGlobalTransactionId() { return gtrid; }

    public byte[] getBranchQualifier() { return bqual; }

    public boolean equals(Object o) {
        if (!(o instanceof Xid)) {
            return false;
        }
        Xid other = (Xid) o;
        if (other.getFormatId() != formatID) {
            return false;
        }
        return sameBytes(gtrid, other.getGlobalTransactionId())
            && sameBytes(bqual, other.getBranchQualifier());
    }

    // Consistent with equals: equal identifiers have equal format id and bytes.
    public int hashCode() {
        return (formatID * 31 + Arrays.hashCode(gtrid)) * 31 + Arrays.hashCode(bqual);
    }

    private static boolean sameBytes(byte[] a, byte[] b) {
        if (a == null || b == null) {
            return a == b;
        }
        return Arrays.equals(a, b);
    }
}
