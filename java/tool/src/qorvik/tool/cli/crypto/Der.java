package qorvik.tool.cli.crypto;

import java.io.ByteArrayOutputStream;
import java.math.BigInteger;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/**
 * The little DER the commands need beyond what the JDK parses: wrapping traditional key files
 * into PKCS #8, EC points as OCTET STRINGs, and ECDSA signatures between r||s and SEQUENCE form.
 */
public final class Der {
    public static final int INTEGER = 0x02;
    public static final int BIT_STRING = 0x03;
    public static final int OCTET_STRING = 0x04;
    public static final int NULL = 0x05;
    public static final int OID = 0x06;
    public static final int SEQUENCE = 0x30;

    /** One element: its tag, its content and where the whole element ends in the input. */
    public record Element(int tag, byte[] content, int end) {
    }

    private Der() {
    }

    /** The element starting at {@code at}; a malformed or truncated encoding is refused. */
    public static Element read(byte[] der, int at) {
        if (at + 2 > der.length) {
            throw new IllegalArgumentException("DER element truncated");
        }
        int tag = der[at] & 0xFF;
        int first = der[at + 1] & 0xFF;
        int pos = at + 2;
        long length;
        if (first < 0x80) {
            length = first;
        } else {
            int count = first & 0x7F;
            if (count == 0 || count > 4 || pos + count > der.length) {
                throw new IllegalArgumentException("DER length malformed");
            }
            length = 0;
            for (int i = 0; i < count; i++) {
                length = (length << 8) | (der[pos++] & 0xFF);
            }
        }
        if (length > der.length - pos) {
            throw new IllegalArgumentException("DER element longer than its input");
        }
        int end = pos + (int) length;
        return new Element(tag, Arrays.copyOfRange(der, pos, end), end);
    }

    /** The elements of a SEQUENCE's content (or any constructed content). */
    public static List<Element> children(byte[] content) {
        List<Element> out = new ArrayList<>();
        int at = 0;
        while (at < content.length) {
            Element element = read(content, at);
            out.add(element);
            at = element.end();
        }
        return out;
    }

    public static byte[] tlv(int tag, byte[] content) {
        ByteArrayOutputStream out = new ByteArrayOutputStream(content.length + 6);
        out.write(tag);
        int length = content.length;
        if (length < 0x80) {
            out.write(length);
        } else {
            int bytes = length > 0xFFFFFF ? 4 : length > 0xFFFF ? 3 : length > 0xFF ? 2 : 1;
            out.write(0x80 | bytes);
            for (int i = bytes - 1; i >= 0; i--) {
                out.write(length >>> (8 * i));
            }
        }
        out.writeBytes(content);
        return out.toByteArray();
    }

    public static byte[] sequence(byte[]... elements) {
        ByteArrayOutputStream content = new ByteArrayOutputStream();
        for (byte[] element : elements) {
            content.writeBytes(element);
        }
        return tlv(SEQUENCE, content.toByteArray());
    }

    public static byte[] integer(BigInteger value) {
        return tlv(INTEGER, value.toByteArray());
    }

    /** ECDSA's r||s (two halves of equal length) as the SEQUENCE of two INTEGERs. */
    public static byte[] ecdsaToDer(byte[] rs) {
        if (rs.length == 0 || rs.length % 2 != 0) {
            throw new IllegalArgumentException("an ECDSA signature of odd length " + rs.length);
        }
        int half = rs.length / 2;
        return sequence(integer(new BigInteger(1, Arrays.copyOfRange(rs, 0, half))),
                integer(new BigInteger(1, Arrays.copyOfRange(rs, half, rs.length))));
    }

    /** The SEQUENCE of two INTEGERs as r||s, each half {@code half} bytes. */
    public static byte[] ecdsaFromDer(byte[] der, int half) {
        Element sequence = read(der, 0);
        List<Element> parts = sequence.tag() == SEQUENCE && sequence.end() == der.length
                ? children(sequence.content()) : List.of();
        if (parts.size() != 2 || parts.get(0).tag() != INTEGER || parts.get(1).tag() != INTEGER) {
            throw new IllegalArgumentException("not a DER ECDSA signature");
        }
        byte[] rs = new byte[2 * half];
        for (int i = 0; i < 2; i++) {
            BigInteger value = new BigInteger(parts.get(i).content());
            if (value.signum() < 0 || value.bitLength() > 8 * half) {
                throw new IllegalArgumentException("ECDSA signature value out of range");
            }
            byte[] bytes = value.toByteArray();
            int skip = bytes.length > half ? bytes.length - half : 0;
            System.arraycopy(bytes, skip, rs, i * half + half - (bytes.length - skip), bytes.length - skip);
        }
        return rs;
    }
}
