package qorvik.tool.cli.crypto;

import java.util.HexFormat;

import picocli.CommandLine;
import picocli.CommandLine.Option;

/** --label and --id: how the data commands name their key and the key commands name what they make. */
public final class KeyOptions {
    @Option(names = "--label", paramLabel = "LABEL", description = "The key's label (CKA_LABEL).")
    public String label;

    @Option(names = "--id", paramLabel = "HEX", description = "The key's ID (CKA_ID) in hex.")
    String idHex;

    /** The --id given, as bytes, or null. */
    public byte[] id() {
        return idHex == null ? null : new HexConverter().convert(idHex);
    }

    /** Either option set, or a usage error naming both. */
    public void require(CommandLine.Model.CommandSpec command) {
        if (label == null && idHex == null) {
            throw new CommandLine.ParameterException(command.commandLine(), "name the key with --label or --id");
        }
    }

    /** How the key is named in messages. */
    public String describe() {
        if (label != null && idHex != null) {
            return "labelled '" + label + "' with ID " + HexFormat.of().formatHex(id());
        }
        return label != null ? "labelled '" + label + "'" : "with ID " + HexFormat.of().formatHex(id());
    }

    /** Hex bytes, with or without colons. */
    public static final class HexConverter implements CommandLine.ITypeConverter<byte[]> {
        @Override
        public byte[] convert(String text) {
            String digits = text.replace(":", "");
            if (digits.isEmpty()) {
                throw new CommandLine.TypeConversionException("empty hex value");
            }
            try {
                return HexFormat.of().parseHex(digits);
            } catch (IllegalArgumentException e) {
                throw new CommandLine.TypeConversionException("not hex bytes: '" + text + "'");
            }
        }
    }
}
