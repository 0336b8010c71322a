package kxprobe;

import java.util.Arrays;
import javax.transaction.xa.XAException;
import javax.transaction.xa.XAResource;
import javax.transaction.xa.Xid;

/**
 * An XAResource with scripted answers: format id 7 prepares read-only, 99 is
 * an unknown branch, 66 fails with a plain runtime error; recover answers
 * three identifiers, the second with a 70-byte global id.
 */
public class FakeXAResource implements XAResource {
    private final StringBuilder log = new StringBuilder();

    private void check(Xid xid) throws XAException {
        if (xid.getFormatId() == 99) throw new XAException(XAException.XAER_NOTA);
        if (xid.getFormatId() == 66) throw new IllegalStateException("resource broken");
        if (xid.getFormatId() == 55) throw new XAException(XAException.XA_RBDEADLOCK);
    }

    private void note(String what, Xid xid) {
        log.append(what).append('(').append(xid.getFormatId()).append(',')
           .append(new String(xid.getGlobalTransactionId())).append(',')
           .append(new String(xid.getBranchQualifier())).append(')').append(';');
    }

    public String calls() { return log.toString(); }

    @Override public void commit(Xid xid, boolean onePhase) throws XAException { check(xid); note("commit:" + onePhase, xid); }
    @Override public void end(Xid xid, int flags) throws XAException { check(xid); note("end:" + flags, xid); }
    @Override public void forget(Xid xid) throws XAException { check(xid); note("forget", xid); }
    @Override public int getTransactionTimeout() { return 0; }
    @Override public boolean isSameRM(XAResource r) { return r == this; }
    @Override public int prepare(Xid xid) throws XAException {
        check(xid);
        note("prepare", xid);
        return xid.getFormatId() == 7 ? XA_RDONLY : XA_OK;
    }
    @Override public void rollback(Xid xid) throws XAException { check(xid); note("rollback", xid); }
    @Override public boolean setTransactionTimeout(int seconds) { return false; }
    @Override public void start(Xid xid, int flags) throws XAException { check(xid); note("start:" + flags, xid); }

    @Override public Xid[] recover(int flag) {
        if (flag == TMENDRSCAN) return new Xid[0];
        byte[] longId = new byte[70];
        Arrays.fill(longId, (byte) 'g');
        return new Xid[] {xid(1, "g1".getBytes(), "b1".getBytes()), xid(2, longId, "b2".getBytes()),
                          xid(3, "g3".getBytes(), "b3".getBytes())};
    }

    private static Xid xid(final int format, final byte[] g, final byte[] b) {
        return new Xid() {
            public int getFormatId() { return format; }
            public byte[] getGlobalTransactionId() { return g; }
            public byte[] getBranchQualifier() { return b; }
        };
    }
}
