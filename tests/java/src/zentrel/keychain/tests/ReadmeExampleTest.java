package zentrel.keychain.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;

import org.junit.jupiter.api.Test;

import zentrel.keychain.KeyChainException;

/** The README's keychain example: the same lines as ReadmeExample, and what they print when run. */
class ReadmeExampleTest {
    /** The lines between the README's "## Keychain bridge" heading's first java block fences. */
    private static List<String> readmeExample() throws IOException {
        String readme = System.getProperty("tarnel.readme");
        assertNotNull(readme, "run by run-junit.sh: -Dtarnel.readme is missing");
        assertFalse(readme.isEmpty(), "run by run-junit.sh: -Dtarnel.readme is empty");
        List<String> lines = Files.readAllLines(Path.of(readme), StandardCharsets.UTF_8);
        int heading = lines.indexOf("## Keychain bridge");
        assertTrue(heading >= 0, "the README has no '## Keychain bridge' section");
        int open = heading;
        while (open < lines.size() && !lines.get(open).equals("```java")) {
            open++;
        }
        assertTrue(open < lines.size(), "the keychain section shows no java block");
        int close = lines.subList(open + 1, lines.size()).indexOf("```");
        assertTrue(close >= 0, "the java block is not closed");
        return lines.subList(open + 1, open + 1 + close);
    }

    /** The lines of ReadmeExample between its markers. */
    private static List<String> sourceExample() throws IOException {
        String sources = System.getProperty("tarnel.sources");
        assertNotNull(sources, "run by run-junit.sh: -Dtarnel.sources is missing");
        assertFalse(sources.isEmpty(), "run by run-junit.sh: -Dtarnel.sources is empty");
        List<String> lines = Files.readAllLines(
                Path.of(sources, "zentrel", "keychain", "tests", "ReadmeExample.java"), StandardCharsets.UTF_8);
        int begin = lines.indexOf("        // README begin");
        int end = lines.indexOf("        // README end");
        assertTrue(begin >= 0 && end > begin, "ReadmeExample has lost its markers");
        return lines.subList(begin + 1, end);
    }

    private static List<String> stripped(List<String> lines) {
        List<String> result = new ArrayList<>();
        for (String line : lines) {
            result.add(line.strip());
        }
        return result;
    }

    @Test
    void theReadmeShowsTheCompiledExample() throws IOException {
        List<String> shown = stripped(readmeExample());
        assertFalse(shown.isEmpty());
        assertEquals(stripped(sourceExample()), shown);
    }

    @Test
    void theExampleListsAndSigns() throws KeyChainException {
        Keychains.load();
        Keychains.KeyPair alpha = Keychains.rsa("alpha", 2048);
        Keychains.KeyPair delta = Keychains.rsa("delta", 4096);
        Path empty = Keychains.newKeychain("example-empty");
        Path signing = Keychains.newKeychain("example");
        Keychains.putPair(signing, "alice", alpha);
        Keychains.putP12(signing, "bob", delta, "");
        Path unreadable = Keychains.work().resolve("p".repeat(200)).resolve("q".repeat(200)).resolve("r".repeat(100));
        Keychains.configureDefault(empty, unreadable, signing);

        ByteArrayOutputStream printed = new ByteArrayOutputStream();
        try (PrintStream out = new PrintStream(printed, true, StandardCharsets.UTF_8)) {
            ReadmeExample.listAndSign("a document".getBytes(StandardCharsets.UTF_8), out);
        }
        String expected = signing + ": alice, 256-byte signature, " + alpha.der().length + "-byte certificate\n"
                + signing + ": bob, 512-byte signature, " + delta.der().length + "-byte certificate\n";
        assertEquals(expected, printed.toString(StandardCharsets.UTF_8));
    }
}
