package qorvik.tool.cli;

import java.util.ArrayList;
import java.util.HexFormat;
import java.util.List;
import java.util.Locale;
import java.util.OptionalInt;

import picocli.CommandLine;
import picocli.CommandLine.Option;

import qorvik.Attribute;
import qorvik.CryptokiException;
import qorvik.nat.NativeSession;

/**
 * The options that pick token objects: class, label, ID (a picocli mixin). There is no choice by
 * handle: a module may number the same object differently in the next process.
 */
public final class ObjectSelector {
    public static final int CKA_CLASS = 0x0;
    public static final int CKA_LABEL = 0x3;
    public static final int CKA_ID = 0x102;

    @Option(names = "--type", paramLabel = "CLASS", converter = ClassConverter.class,
            description = "Objects of this class: privkey, pubkey, secrkey, cert, data, or a "
                    + "CKO_ name or number.")
    Integer objectClass;

    @Option(names = "--label", paramLabel = "LABEL", description = "Objects with this label.")
    String label;

    @Option(names = "--id", paramLabel = "HEX", converter = HexConverter.class,
            description = "Objects with this CKA_ID, in hex.")
    HexBytes idOption;

    /** Hex bytes as one option value (picocli would take a byte[] option as repeated bytes). */
    record HexBytes(byte[] bytes) {
    }

    /** True when no option narrows the choice. */
    public boolean empty() {
        return objectClass == null && label == null && idOption == null;
    }

    private byte[] id() {
        return idOption == null ? null : idOption.bytes();
    }

    /** The search template of the options (empty: every object). */
    public Attribute[] template() {
        List<Attribute> template = new ArrayList<>();
        if (objectClass != null) {
            template.add(new Attribute(CKA_CLASS, objectClass));
        }
        if (label != null) {
            template.add(new Attribute(CKA_LABEL, label));
        }
        if (idOption != null) {
            template.add(new Attribute(CKA_ID, id()));
        }
        return template.toArray(new Attribute[0]);
    }

    /** The handles of the matching objects, in the module's order; empty when none match. */
    public long[] find(NativeSession session) throws CryptokiException {
        long[] found = session.J_FindObjects(template());
        return found == null ? new long[0] : found;
    }

    /** What the options ask for, for messages. */
    public String describe() {
        List<String> parts = new ArrayList<>();
        if (objectClass != null) {
            parts.add("class " + Names.objectClass(objectClass));
        }
        if (label != null) {
            parts.add("label '" + label + "'");
        }
        if (idOption != null) {
            parts.add("id " + HexFormat.of().formatHex(id()));
        }
        return parts.isEmpty() ? "any object" : String.join(", ", parts);
    }

    /** Object classes by short name (as pkcs11-tool's --type has them) or by CKO_ name. */
    static final class ClassConverter implements CommandLine.ITypeConverter<Integer> {
        @Override
        public Integer convert(String text) {
            switch (text.toLowerCase(Locale.ROOT)) {
                case "data": return 0;
                case "cert": return 1;
                case "pubkey": return 2;
                case "privkey": return 3;
                case "secrkey": return 4;
                default:
                    OptionalInt value = Names.parseObjectClass(text);
                    if (value.isEmpty()) {
                        throw new CommandLine.TypeConversionException("not an object class: '"
                                + text + "'");
                    }
                    return value.getAsInt();
            }
        }
    }

    /** Hex bytes, with or without colons. */
    static final class HexConverter implements CommandLine.ITypeConverter<HexBytes> {
        @Override
        public HexBytes convert(String text) {
            try {
                return new HexBytes(HexFormat.of().parseHex(text.replace(":", "")));
            } catch (IllegalArgumentException e) {
                throw new CommandLine.TypeConversionException("not hex bytes: '" + text + "'");
            }
        }
    }
}
