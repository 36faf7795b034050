package qorvik.tool.cli.crypto;

import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;

import qorvik.CryptokiException;
import qorvik.Mechanism;
import qorvik.nat.NativeSession;

/**
 * The multi-part loops: a file goes to the token in parts of {@link #PART} bytes through the
 * *Update calls and ends with the *Final call, so no file is ever held whole in memory.
 */
public final class Streams {
    /** Bytes handed to the module per update call. */
    public static final int PART = 1 << 20;

    private static final byte[] NOTHING = new byte[0];

    /** One part of the input: {@code first} is true for the call that starts the operation. */
    interface Part {
        void accept(boolean first, byte[] data, int length) throws CryptokiException, IOException;
    }

    private final NativeSession session;
    private final long handle;

    public Streams(NativeSession session) {
        this.session = session;
        this.handle = session.getSessionHandle();
    }

    /**
     * Hands every part of {@code in} to {@code part}; an empty input still gets one call with
     * {@code first} set, so the operation starts and can be finished.
     */
    static void feed(InputStream in, Progress progress, Part part) throws IOException, CryptokiException {
        byte[] buffer = new byte[PART];
        boolean first = true;
        int length;
        while ((length = in.readNBytes(buffer, 0, PART)) > 0) {
            part.accept(first, buffer, length);
            first = false;
            progress.advance(length);
        }
        if (first) {
            part.accept(true, NOTHING, 0);
        }
    }

    public byte[] digest(Mechanism mechanism, InputStream in, Progress progress)
            throws IOException, CryptokiException {
        feed(in, progress, (first, data, length) ->
                session.J_DigestUpdate(handle, first, first ? mechanism : null, data, 0, length));
        return session.J_DigestFinal();
    }

    /** Signs in parts, or, with a {@code prehash} digest, signs the token's digest of the parts in one. */
    public byte[] sign(Mechanism mechanism, int prehash, long key, InputStream in, Progress progress)
            throws IOException, CryptokiException {
        if (prehash != 0) {
            byte[] hash = digest(new Mechanism(prehash), in, progress);
            return session.J_Sign(handle, true, mechanism, key, hash, 0, hash.length);
        }
        session.J_SignInit(handle, mechanism, key);
        feed(in, progress, (first, data, length) -> session.J_SignUpdate(handle, false, null, 0, data, 0, length));
        return session.J_SignFinal();
    }

    /** Returns normally only when the token accepts the signature. */
    public void verify(Mechanism mechanism, int prehash, long key, InputStream in, byte[] signature,
                       Progress progress) throws IOException, CryptokiException {
        if (prehash != 0) {
            byte[] hash = digest(new Mechanism(prehash), in, progress);
            session.J_Verify(handle, true, mechanism, key, hash, 0, hash.length, signature, 0, signature.length);
            return;
        }
        feed(in, progress, (first, data, length) ->
                session.J_VerifyUpdate(handle, first, first ? mechanism : null, first ? key : 0, data, 0, length));
        session.J_VerifyFinal(signature, 0, signature.length);
    }

    public void encrypt(Mechanism mechanism, long key, InputStream in, OutputStream out, Progress progress)
            throws IOException, CryptokiException {
        feed(in, progress, (first, data, length) -> write(out,
                session.J_EncryptUpdate(handle, first, first ? mechanism : null, first ? key : 0, data, 0, length)));
        write(out, session.J_EncryptFinal());
    }

    public void decrypt(Mechanism mechanism, long key, InputStream in, OutputStream out, Progress progress)
            throws IOException, CryptokiException {
        session.J_DecryptInit(handle, mechanism, key);
        feed(in, progress, (first, data, length) ->
                write(out, session.J_DecryptUpdate(handle, false, null, 0, data, 0, length)));
        write(out, session.J_DecryptFinal());
    }

    private static void write(OutputStream out, byte[] bytes) throws IOException {
        if (bytes != null) {
            out.write(bytes);
        }
    }
}
