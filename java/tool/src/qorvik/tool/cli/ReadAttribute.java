package qorvik.tool.cli;

import java.io.IOException;
import java.io.PrintStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.HexFormat;
import java.util.List;
import java.util.OptionalInt;

import picocli.CommandLine;
import picocli.CommandLine.Command;
import picocli.CommandLine.Mixin;
import picocli.CommandLine.Model.CommandSpec;
import picocli.CommandLine.Option;
import picocli.CommandLine.Spec;
import picocli.CommandLine.Parameters;

import qorvik.Attribute;
import qorvik.nat.NativeSession;

/** Attributes of one object: byte strings in hex, numbers, booleans. */
@Command(name = "read-attribute", description = {"Read attributes of one object, chosen by "
        + "--type, --label and --id.",
    "Byte strings are shown in hex (or written raw with --output), numbers in decimal with "
        + "their name where they have one, booleans as true or false."})
public final class ReadAttribute extends KelvaneCommand {
    private static final int CKA_CLASS = 0x0;
    private static final int CKA_KEY_TYPE = 0x100;
    private static final int CKA_KEY_GEN_MECHANISM = 0x166;

    @Mixin
    JsonOption json;

    @Mixin
    ObjectSelector selector;

    @Spec
    CommandSpec command;

    @Option(names = "--login", description = "Log in as the user (needed for private objects).")
    boolean login;

    @Option(names = "--output", paramLabel = "FILE",
            description = "Write the value of the one attribute asked for to this file, raw.")
    Path output;

    @Parameters(arity = "1..*", paramLabel = "ATTRIBUTE", converter = AttributeConverter.class,
            description = "CKA_ names (with or without CKA_, any case) or numbers.")
    List<Integer> attributes;

    @Override
    protected int execute(CommandContext context) throws Exception {
        if (output != null && attributes.size() != 1) {
            throw new CommandLine.ParameterException(command.commandLine(),
                    "--output takes exactly one ATTRIBUTE");
        }
        if (selector.empty()) {
            throw new CommandLine.ParameterException(command.commandLine(),
                    "choose the object with --type, --label or --id");
        }
        NativeSession session = Login.session(context, login, false);
        long[] found = selector.find(session);
        if (found.length != 1) {
            throw new CommandFailure((found.length == 0 ? "no object" : found.length + " objects")
                    + " with " + selector.describe() + (found.length == 0 ? ""
                    : ": narrow the choice (list-objects shows them)"));
        }
        long handle = found[0];
        PrintStream out = context.out();
        JsonWriter w = json.json() ? new JsonWriter().beginObject() : null;
        if (w != null) {
            w.name("attributes").beginObject();
        }
        for (int type : attributes) {
            Attribute a = session.J_GetAttributeValue(handle, type);
            Object value = a == null ? null : a.getValue();
            if (output != null) {
                write(output, value);
                continue;
            }
            if (w != null) {
                w.name(Names.attribute(type));
                if (value instanceof byte[] b) {
                    w.value(HexFormat.of().formatHex(b));
                } else if (value instanceof Integer i) {
                    w.value(Integer.toUnsignedLong(i));
                } else if (value instanceof Boolean b) {
                    w.value(b);
                } else {
                    w.nullValue();
                }
            } else {
                Text.line(out, Names.attribute(type), text(type, value));
            }
        }
        if (w != null) {
            out.println(w.endObject().endObject());
        } else if (output != null) {
            out.println("Wrote " + Names.attribute(attributes.get(0)) + " to " + output);
        }
        return ExitCodes.OK;
    }

    private static String text(int type, Object value) {
        if (value instanceof byte[] b) {
            return HexFormat.of().formatHex(b);
        }
        if (value instanceof Integer i) {
            String number = Integer.toUnsignedString(i);
            switch (type) {
                case CKA_CLASS: return number + " " + Names.objectClass(i);
                case CKA_KEY_TYPE: return number + " " + Names.keyType(i);
                case CKA_KEY_GEN_MECHANISM: return number + " " + Names.mechanism(i);
                default: return number;
            }
        }
        return String.valueOf(value);
    }

    private static void write(Path file, Object value) throws CommandFailure {
        if (!(value instanceof byte[] bytes)) {
            throw new CommandFailure("--output: the attribute is not a byte string");
        }
        try {
            Files.write(file, bytes);
        } catch (IOException e) {
            throw new CommandFailure("cannot write " + file + ": " + e.getMessage(), e);
        }
    }

    /** Attribute types by CKA_ name or number. */
    static final class AttributeConverter implements CommandLine.ITypeConverter<Integer> {
        @Override
        public Integer convert(String text) {
            OptionalInt type = Names.parseAttribute(text);
            if (type.isEmpty()) {
                throw new CommandLine.TypeConversionException("not an attribute: '" + text + "'");
            }
            return type.getAsInt();
        }
    }
}
