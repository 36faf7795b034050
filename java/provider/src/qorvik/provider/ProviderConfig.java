package qorvik.provider;

import java.io.IOException;
import java.io.Reader;
import java.io.StringReader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.InvalidParameterException;
import java.util.Map;
import java.util.Properties;
import java.util.Set;
import java.util.TreeSet;

/**
 * A provider's configuration: a properties file with the keys {@code library} (the module's
 * path, required), {@code name}, one of {@code slot}, {@code slotListIndex} and
 * {@code tokenLabel}, {@code pin} and {@code signerPin} ({@code env:NAME}, {@code file:PATH} or
 * {@code prompt}). An argument starting with "--" is the configuration text itself.
 */
final class ProviderConfig {
    static final Set<String> KEYS =
            Set.of("library", "name", "slot", "slotListIndex", "tokenLabel", "pin", "signerPin");

    final String source;
    final String library;
    final String name;
    final Long slot;
    final Integer slotListIndex;
    final String tokenLabel;
    final PinSource pin;
    final PinSource signerPin;

    private ProviderConfig(String source, Properties p) {
        this.source = source;
        Set<String> unknown = new TreeSet<>(p.stringPropertyNames());
        unknown.removeAll(KEYS);
        if (!unknown.isEmpty()) {
            throw invalid("unknown key " + String.join(", ", unknown) + " (known: library, name, "
                    + "slot, slotListIndex, tokenLabel, pin, signerPin)");
        }
        library = value(p, "library");
        if (library == null) {
            throw invalid("no 'library' (the PKCS#11 module's path)");
        }
        name = value(p, "name");
        if (name != null && !name.matches("[A-Za-z0-9_.-]+")) {
            throw invalid("'name' may hold letters, digits, '_', '.' and '-' only: " + name);
        }
        int choices = 0;
        String slotText = value(p, "slot");
        String indexText = value(p, "slotListIndex");
        tokenLabel = value(p, "tokenLabel");
        slot = slotText == null ? null : parseSlot(slotText);
        slotListIndex = indexText == null ? null : parseIndex(indexText);
        choices += slotText == null ? 0 : 1;
        choices += indexText == null ? 0 : 1;
        choices += tokenLabel == null ? 0 : 1;
        if (choices > 1) {
            throw invalid("give at most one of 'slot', 'slotListIndex' and 'tokenLabel'");
        }
        pin = pinSource(p, "pin");
        signerPin = pinSource(p, "signerPin");
    }

    private PinSource pinSource(Properties p, String key) {
        try {
            return PinSource.parse(value(p, key), key);
        } catch (InvalidParameterException e) {
            throw invalid(e.getMessage());
        }
    }

    /** Reads the file {@code arg}, or the text after "--". */
    static ProviderConfig read(String arg) {
        if (arg == null || arg.isBlank()) {
            throw new InvalidParameterException("Kelvane: no configuration given");
        }
        Properties p = new Properties();
        String source;
        try {
            if (arg.startsWith("--")) {
                source = "inline configuration";
                try (Reader r = new StringReader(arg.substring(2).replace("\\n", "\n"))) {
                    p.load(r);
                }
            } else {
                Path file = Path.of(arg);
                source = file.toString();
                try (Reader r = Files.newBufferedReader(file, StandardCharsets.UTF_8)) {
                    p.load(r);
                }
            }
        } catch (IOException e) {
            InvalidParameterException failure =
                    new InvalidParameterException("Kelvane: cannot read configuration " + arg + ": " + e);
            failure.initCause(e);
            throw failure;
        } catch (IllegalArgumentException e) {
            throw new InvalidParameterException("Kelvane: malformed configuration " + arg + ": "
                    + e.getMessage());
        }
        return new ProviderConfig(source, p);
    }

    /** A configuration from key-value pairs (tests, programs building one in code). */
    static ProviderConfig of(Map<String, String> values) {
        Properties p = new Properties();
        p.putAll(values);
        return new ProviderConfig("configuration", p);
    }

    /** "Kelvane" or "Kelvane-NAME". */
    String providerName() {
        return name == null ? KelvaneProvider.BASE_NAME : KelvaneProvider.BASE_NAME + "-" + name;
    }

    private static String value(Properties p, String key) {
        String v = p.getProperty(key);
        if (v == null) {
            return null;
        }
        v = v.trim();
        return v.isEmpty() ? null : v;
    }

    private InvalidParameterException invalid(String what) {
        return new InvalidParameterException("Kelvane: " + source + ": " + what);
    }

    private long parseSlot(String text) {
        try {
            long id = Long.decode(text);
            if (id < 0 || id > 0xFFFFFFFFL) {
                throw invalid("'slot' out of range: " + text);
            }
            return id;
        } catch (NumberFormatException e) {
            throw invalid("'slot' is not a number: " + text);
        }
    }

    private int parseIndex(String text) {
        try {
            int index = Integer.parseInt(text);
            if (index < 0) {
                throw invalid("'slotListIndex' is negative: " + text);
            }
            return index;
        } catch (NumberFormatException e) {
            throw invalid("'slotListIndex' is not a number: " + text);
        }
    }
}
