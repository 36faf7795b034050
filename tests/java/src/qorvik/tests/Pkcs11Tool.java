package qorvik.tests;

import java.io.File;
import java.io.IOException;
import java.io.UncheckedIOException;
import java.math.BigInteger;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import java.util.stream.Collectors;

/** What OpenSC's pkcs11-tool reports about a module: the reference the bridge is held to. */
final class Pkcs11Tool {
    record ModuleInfo(int cryptokiMajor, int cryptokiMinor, String manufacturer, String description) {
    }

    /** A slot as listed; {@code label} is null for a slot without an initialised token. */
    record SlotEntry(long id, String label) {
    }

    /** A slot of the verbose listing: its description and the fields below it by name. */
    record SlotDetails(long id, String description, Map<String, String> fields) {
        String field(String name) {
            String value = fields.get(name);
            if (value == null) {
                throw new AssertionError("pkcs11-tool shows no '" + name + "' for slot 0x"
                        + Long.toHexString(id) + ": " + fields);
            }
            return value;
        }
    }

    /** One line of the mechanism list: key sizes (0 where not shown) and the flag names. */
    record MechanismEntry(String name, long minKeySize, long maxKeySize, String flags) {
    }

    /**
     * An object of the {@code --list-objects} listing: its heading ("Data object 2", "Public Key
     * Object; RSA 2048 bits") and the "name: value" lines below it. pkcs11-tool shows the label and
     * application of a data object in single quotes, those of keys bare.
     */
    record ObjectEntry(String heading, Map<String, String> fields) {
        String field(String name) {
            String value = fields.get(name);
            if (value == null) {
                throw new AssertionError("pkcs11-tool shows no '" + name + "' for " + heading + ": " + fields);
            }
            return value;
        }
    }

    /** An RSA public key as openssl reads it from the DER pkcs11-tool exported. */
    record RsaPublicKey(BigInteger modulus, BigInteger exponent) {
    }

    /** pkcs11-tool's names for the CKF_ bits of slots, tokens and mechanisms that SoftHSM2 sets. */
    static final Map<String, Long> SLOT_FLAGS = Map.of("token present", 0x1L);
    static final Map<String, Long> TOKEN_FLAGS = Map.of("rng", 0x1L, "login required", 0x4L,
            "PIN initialized", 0x8L, "token initialized", 0x400L, "user PIN count low", 0x10000L);
    static final Map<String, Long> MECHANISM_FLAGS = Map.ofEntries(
            Map.entry("encrypt", 0x100L), Map.entry("decrypt", 0x200L), Map.entry("digest", 0x400L),
            Map.entry("sign", 0x800L), Map.entry("verify", 0x2000L), Map.entry("generate", 0x8000L),
            Map.entry("generate_key_pair", 0x10000L), Map.entry("wrap", 0x20000L),
            Map.entry("unwrap", 0x40000L), Map.entry("derive", 0x80000L), Map.entry("EC F_P", 0x100000L),
            Map.entry("EC OID", 0x800000L), Map.entry("EC uncompressed", 0x1000000L));

    private static final Pattern CRYPTOKI = Pattern.compile("(?m)^Cryptoki version (\\d+)\\.(\\d+)$");
    private static final Pattern MANUFACTURER = Pattern.compile("(?m)^Manufacturer +(.*)$");
    private static final Pattern LIBRARY = Pattern.compile("(?m)^Library +(.*) \\(ver \\d+\\.\\d+\\)$");
    private static final Pattern SLOT = Pattern.compile("^Slot \\d+ \\(0x([0-9a-f]+)\\):(.*)$");
    private static final Pattern FIELD = Pattern.compile("^\\s+([^:]*[^:\\s])\\s*:(.*)$");
    private static final Pattern OBJECT =
            Pattern.compile("^(Data object \\d+|(Public|Private|Secret) Key Object;.*|Certificate Object;.*)$");
    private static final Pattern OPENSSL_MODULUS = Pattern.compile("(?m)^Modulus=([0-9A-F]+)$");
    private static final Pattern OPENSSL_EXPONENT = Pattern.compile("(?m)^Exponent: (\\d+) ");
    private static final Pattern MECHANISM =
            Pattern.compile("^  ([^, ]+)(?:, keySize=\\{(\\d*),(\\d*)\\})?(?:, (.*))?$");

    private Pkcs11Tool() {
    }

    static ModuleInfo showInfo(String module) {
        String out = run(module, "--show-info");
        Matcher cryptoki = find(CRYPTOKI, out);
        return new ModuleInfo(Integer.parseInt(cryptoki.group(1)), Integer.parseInt(cryptoki.group(2)),
                find(MANUFACTURER, out).group(1).trim(), find(LIBRARY, out).group(1).trim());
    }

    /** Every slot ({@code --list-slots}) or those with a token ({@code --list-token-slots}), in order. */
    static List<SlotEntry> slots(String module, boolean withTokenOnly) {
        return slotDetails(module, withTokenOnly).stream()
                .map(s -> new SlotEntry(s.id(), s.fields().getOrDefault("token flags", "")
                        .contains("token initialized") ? s.field("token label") : null))
                .collect(Collectors.toList());
    }

    /**
     * The slots as the verbose listing shows them: the description after the slot number and
     * each "name: value" line below it (slot manufacturer, "hardware ver", "token label",
     * "serial num", ...), values trimmed.
     */
    static List<SlotDetails> slotDetails(String module, boolean withTokenOnly) {
        List<SlotDetails> slots = new ArrayList<>();
        Map<String, String> fields = null;
        for (String line : run(module, withTokenOnly ? "--list-token-slots" : "--list-slots", "--verbose")
                .split("\n")) {
            Matcher slot = SLOT.matcher(line);
            Matcher field = FIELD.matcher(line);
            if (slot.find()) {
                fields = new HashMap<>();
                slots.add(new SlotDetails(Long.parseLong(slot.group(1), 16), slot.group(2).trim(), fields));
            } else if (fields != null && field.matches()) {
                fields.put(field.group(1), field.group(2).trim());
            }
        }
        return slots;
    }

    /** The mechanisms {@code --list-mechanisms} shows for {@code slot}, in the module's order. */
    static List<MechanismEntry> mechanisms(String module, long slot) {
        List<MechanismEntry> mechanisms = new ArrayList<>();
        for (String line : run(module, "--list-mechanisms", "--slot", Long.toString(slot)).split("\n")) {
            Matcher m = MECHANISM.matcher(line);
            if (m.matches()) {
                mechanisms.add(new MechanismEntry(m.group(1), size(m.group(2)), size(m.group(3)),
                        m.group(4) == null ? "" : m.group(4)));
            }
        }
        return mechanisms;
    }

    private static long size(String digits) {
        return digits == null || digits.isEmpty() ? 0 : Long.parseLong(digits);
    }

    /**
     * The flag word pkcs11-tool printed as {@code text}: each name looked up in {@code names},
     * "other flags=0x.." added as it stands. A name not in the table fails.
     */
    static long flagBits(String text, Map<String, Long> names) {
        long bits = 0;
        for (String name : text.isEmpty() ? new String[0] : text.split(", ")) {
            if (name.startsWith("other flags=0x")) {
                bits |= Long.parseLong(name.substring("other flags=0x".length()), 16);
            } else if (names.containsKey(name)) {
                bits |= names.get(name);
            } else {
                throw new AssertionError("flag name '" + name + "' unknown to the test in: " + text);
            }
        }
        return bits;
    }

    private static Matcher find(Pattern pattern, String text) {
        Matcher m = pattern.matcher(text);
        if (!m.find()) {
            throw new AssertionError("pkcs11-tool output lacks " + pattern + ":\n" + text);
        }
        return m;
    }

    /**
     * The objects of the token labelled {@code token} as {@code --list-objects} shows them, after
     * a user login with {@code pin}; without one when {@code pin} is null.
     */
    static List<ObjectEntry> objects(String module, String token, String pin) {
        List<String> options = new ArrayList<>(List.of("--token-label", token, "--list-objects"));
        if (pin != null) {
            options.addAll(List.of("--login", "--pin", pin));
        }
        List<ObjectEntry> objects = new ArrayList<>();
        Map<String, String> fields = null;
        for (String line : run(module, options.toArray(new String[0])).split("\n")) {
            Matcher object = OBJECT.matcher(line);
            Matcher field = FIELD.matcher(line);
            if (object.matches()) {
                fields = new HashMap<>();
                objects.add(new ObjectEntry(line.trim(), fields));
            } else if (fields != null && field.matches()) {
                fields.put(field.group(1), field.group(2).trim());
            }
        }
        return objects;
    }

    /** Writes a data object holding {@code value} to the token with {@code --write-object}. */
    static void writeDataObject(String module, String token, String pin, String label, String application,
            byte[] value) {
        Path file = tempFile();
        try {
            Files.write(file, value);
            run(module, "--token-label", token, "--login", "--pin", pin, "--write-object", file.toString(),
                    "--type", "data", "--label", label, "--application-label", application);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        } finally {
            delete(file);
        }
    }

    /** Generates an RSA-2048 key pair on the token; {@code id} is hexadecimal. */
    static void generateRsaKeyPair(String module, String token, String pin, String id, String label) {
        generateKeyPair(module, token, pin, "rsa:2048", id, label);
    }

    /** Generates a key pair of {@code keyType} ("rsa:2048", "EC:prime256v1") on the token. */
    static void generateKeyPair(String module, String token, String pin, String keyType, String id,
            String label) {
        run(module, "--token-label", token, "--login", "--pin", pin, "--keypairgen", "--key-type", keyType,
                "--id", id, "--label", label);
    }

    /**
     * Writes the public key with CKA_ID {@code id} to {@code der} as {@code --read-object} exports
     * it: a DER SubjectPublicKeyInfo, which openssl reads with {@code -keyform DER}.
     */
    static void exportPublicKey(String module, String token, String id, Path der) {
        run(module, "--token-label", token, "--read-object", "--type", "pubkey", "--id", id,
                "--output-file", der.toString());
    }

    /** The public key with CKA_ID {@code id}, exported by {@code --read-object} and read by openssl. */
    static RsaPublicKey rsaPublicKey(String module, String token, String id) {
        Path der = tempFile();
        try {
            exportPublicKey(module, token, id, der);
            String out = exec(List.of("openssl", "rsa", "-pubin", "-inform", "DER", "-in", der.toString(),
                    "-noout", "-text", "-modulus"));
            return new RsaPublicKey(new BigInteger(find(OPENSSL_MODULUS, out).group(1), 16),
                    new BigInteger(find(OPENSSL_EXPONENT, out).group(1)));
        } finally {
            delete(der);
        }
    }

    static Path tempFile() {
        try {
            return Files.createTempFile("kelvane-pkcs11-tool", ".bin");
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    static void delete(Path file) {
        try {
            Files.deleteIfExists(file);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    private static String run(String module, String... options) {
        List<String> command = new ArrayList<>(List.of("pkcs11-tool", "--module", module));
        command.addAll(Arrays.asList(options));
        return exec(command);
    }

    /** Runs {@code command} and returns its output, standard error included; a non-zero exit fails. */
    static String exec(List<String> command) {
        Outcome outcome = execStatus(command);
        if (outcome.status() != 0) {
            throw new AssertionError(String.join(" ", command) + " failed:\n" + outcome.output());
        }
        return outcome.output();
    }

    /** How a command ended: its exit status and its output, standard error included. */
    record Outcome(int status, String output) {
    }

    /** Runs {@code command} and returns how it ended; only a command that hangs fails. */
    static Outcome execStatus(List<String> command) {
        ProcessBuilder pb = new ProcessBuilder(command)
                .redirectErrorStream(true)
                .redirectInput(ProcessBuilder.Redirect.from(new File("/dev/null")));
        try {
            Process p = pb.start();
            String out = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
            if (!p.waitFor(60, TimeUnit.SECONDS)) {
                p.destroyForcibly();
                throw new AssertionError(String.join(" ", command) + " did not end:\n" + out);
            }
            return new Outcome(p.exitValue(), out);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new AssertionError("interrupted", e);
        }
    }
}
