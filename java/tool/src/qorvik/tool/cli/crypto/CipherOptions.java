package qorvik.tool.cli.crypto;

import picocli.CommandLine;
import picocli.CommandLine.Option;

/** The options encrypt and decrypt share: the cipher, its IV, and GCM's additional data and tag size. */
public final class CipherOptions {
    @Option(names = {"-m", "--mechanism"}, paramLabel = "NAME",
            description = "aes-cbc-pad (AES default), aes-cbc, aes-ctr, aes-gcm, aes-ecb; rsa-pkcs-oaep "
                    + "(RSA default, SHA-256), rsa-pkcs.")
    public String mechanism;

    @Option(names = "--iv", paramLabel = "HEX",
            description = "The IV (16 bytes; 12 for aes-gcm). Default: random, kept at the start of the encrypted file.")
    String ivHex;

    @Option(names = "--aad", paramLabel = "HEX", description = "aes-gcm's additional authenticated data.")
    String aadHex;

    @Option(names = "--tag-bits", paramLabel = "BITS", defaultValue = "128", description = "aes-gcm's tag size.")
    public int tagBits;

    /** The IV given, checked against what the cipher takes; null when none was given. */
    public byte[] iv(CommandLine.Model.CommandSpec command, Algorithms.Cipher cipher) {
        byte[] iv = hex(command, ivHex);
        if (iv != null && cipher.ivLength() == 0) {
            throw new CommandLine.ParameterException(command.commandLine(), cipher.name() + " takes no IV");
        }
        if (iv != null && cipher.type() != Ck.CKM_AES_GCM && iv.length != cipher.ivLength()) {
            throw new CommandLine.ParameterException(command.commandLine(),
                    cipher.name() + " takes a " + cipher.ivLength() + "-byte IV, not " + iv.length);
        }
        if (aadHex != null && cipher.type() != Ck.CKM_AES_GCM) {
            throw new CommandLine.ParameterException(command.commandLine(), "--aad goes with aes-gcm only");
        }
        return iv;
    }

    /** aes-gcm's additional data, or null. */
    public byte[] aad(CommandLine.Model.CommandSpec command) {
        return hex(command, aadHex);
    }

    private static byte[] hex(CommandLine.Model.CommandSpec command, String text) {
        try {
            return text == null ? null : new KeyOptions.HexConverter().convert(text);
        } catch (CommandLine.TypeConversionException e) {
            throw new CommandLine.ParameterException(command.commandLine(), e.getMessage());
        }
    }
}
