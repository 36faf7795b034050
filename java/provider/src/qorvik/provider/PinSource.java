package qorvik.provider;

import java.io.Console;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.InvalidParameterException;
import java.util.List;

/** Where a PIN comes from: {@code env:NAME}, {@code file:PATH} (its first line) or {@code prompt}. */
final class PinSource {
    enum Kind { ENV, FILE, PROMPT }

    final Kind kind;
    final String where;
    private final String key;

    private PinSource(Kind kind, String where, String key) {
        this.kind = kind;
        this.where = where;
        this.key = key;
    }

    /**
     * Null for no text; otherwise the source, or InvalidParameterException for another form (its
     * message names the key; the configuration adds where it was read).
     */
    static PinSource parse(String text, String key) {
        if (text == null) {
            return null;
        }
        if (text.equals("prompt")) {
            return new PinSource(Kind.PROMPT, null, key);
        }
        if (text.startsWith("env:") && text.length() > 4) {
            return new PinSource(Kind.ENV, text.substring(4), key);
        }
        if (text.startsWith("file:") && text.length() > 5) {
            return new PinSource(Kind.FILE, text.substring(5), key);
        }
        throw new InvalidParameterException("'" + key
                + "' must be env:NAME, file:PATH or prompt (a PIN is never written in the configuration)");
    }

    /** The PIN; {@code prompt} names the token on the console. Fails naming what is missing. */
    char[] read(String tokenName) throws PinUnavailable {
        switch (kind) {
            case ENV: {
                String v = System.getenv(where);
                if (v == null) {
                    throw new PinUnavailable(key + ": the environment variable " + where + " is not set");
                }
                return v.toCharArray();
            }
            case FILE: {
                try {
                    List<String> lines = Files.readAllLines(Path.of(where), StandardCharsets.UTF_8);
                    if (lines.isEmpty()) {
                        throw new PinUnavailable(key + ": " + where + " is empty");
                    }
                    return lines.get(0).toCharArray();
                } catch (IOException e) {
                    PinUnavailable failure = new PinUnavailable(key + ": cannot read " + where + ": " + e);
                    failure.initCause(e);
                    throw failure;
                }
            }
            default: {
                Console console = System.console();
                if (console == null) {
                    throw new PinUnavailable(key + ": 'prompt' needs a console, and this JVM has none");
                }
                char[] typed = console.readPassword("%s for %s: ",
                        key.equals("pin") ? "PIN" : "Signature PIN", tokenName);
                if (typed == null) {
                    throw new PinUnavailable(key + ": no PIN typed");
                }
                return typed;
            }
        }
    }

    @Override
    public String toString() {
        return kind == Kind.PROMPT ? "prompt" : kind.name().toLowerCase() + ":" + where;
    }

    /** A PIN the configuration names but that cannot be had. */
    static final class PinUnavailable extends Exception {
        private static final long serialVersionUID = 1L;

        PinUnavailable(String message) {
            super(message);
        }
    }
}
