package qorvik.tool.cli.crypto;

import java.util.HexFormat;

import picocli.CommandLine;

import qorvik.CryptokiException;
import qorvik.nat.NativeSession;
import qorvik.tool.cli.CommandFailure;

/** What the data commands share: finding their key and their mechanism, with failures worded for the user. */
public final class CryptoCommands {
    private CryptoCommands() {
    }

    /** The one key named by the options among {@code classes}; none or several is a failure. */
    public static KeyLookup.Key key(NativeSession session, KeyOptions name, String what, int... classes)
            throws CryptokiException, CommandFailure {
        try {
            return KeyLookup.find(session, name, what, classes);
        } catch (KeyLookup.NotFound e) {
            throw new CommandFailure(e.getMessage(), e);
        }
    }

    /** The signature mechanism named, or the key type's default; a wrong name is a usage error. */
    public static Algorithms.Signing signing(CommandLine.Model.CommandSpec command, String name, int keyType) {
        try {
            return Algorithms.signing(name, keyType);
        } catch (IllegalArgumentException e) {
            throw new CommandLine.ParameterException(command.commandLine(), e.getMessage());
        }
    }

    /** The cipher named, or the key type's default; a wrong name is a usage error. */
    public static Algorithms.Cipher cipher(CommandLine.Model.CommandSpec command, String name, int keyType) {
        try {
            return Algorithms.cipher(name, keyType);
        } catch (IllegalArgumentException e) {
            throw new CommandLine.ParameterException(command.commandLine(), e.getMessage());
        }
    }

    /** True for --format der, false for raw; anything else is a usage error. */
    public static boolean der(CommandLine.Model.CommandSpec command, String format) {
        if (!format.equals("der") && !format.equals("raw")) {
            throw new CommandLine.ParameterException(command.commandLine(), "--format is der or raw, not '" + format + "'");
        }
        return format.equals("der");
    }

    public static String hex(byte[] bytes) {
        return HexFormat.of().formatHex(bytes);
    }
}
