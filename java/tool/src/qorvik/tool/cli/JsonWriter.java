package qorvik.tool.cli;

import java.util.ArrayDeque;
import java.util.Deque;

/**
 * A small streaming JSON writer for the --json output: objects, arrays, strings, numbers,
 * booleans and null, written compactly in the order given. Misuse (a value where a name is
 * due, an unbalanced end) throws IllegalStateException, so a malformed document is a bug that
 * shows, never output.
 */
public final class JsonWriter {
    private final StringBuilder text = new StringBuilder();
    /** One entry per open container: 'o' object awaiting a name, 'v' object awaiting a value, 'a' array. */
    private final Deque<Character> open = new ArrayDeque<>();
    /** Whether the innermost container already holds an entry (a comma is due before the next). */
    private final Deque<Boolean> filled = new ArrayDeque<>();
    private boolean done;

    public JsonWriter beginObject() {
        beforeValue();
        text.append('{');
        open.push('o');
        filled.push(false);
        return this;
    }

    public JsonWriter endObject() {
        if (open.isEmpty() || open.peek() != 'o') {
            throw new IllegalStateException("no object to end here");
        }
        return end('}');
    }

    public JsonWriter beginArray() {
        beforeValue();
        text.append('[');
        open.push('a');
        filled.push(false);
        return this;
    }

    public JsonWriter endArray() {
        if (open.isEmpty() || open.peek() != 'a') {
            throw new IllegalStateException("no array to end here");
        }
        return end(']');
    }

    public JsonWriter name(String name) {
        if (open.isEmpty() || open.peek() != 'o') {
            throw new IllegalStateException("a name outside an object or twice in a row: " + name);
        }
        comma();
        string(name);
        text.append(':');
        open.pop();
        open.push('v');
        return this;
    }

    public JsonWriter value(String value) {
        beforeValue();
        if (value == null) {
            text.append("null");
        } else {
            string(value);
        }
        return this;
    }

    public JsonWriter value(long value) {
        beforeValue();
        text.append(value);
        return this;
    }

    public JsonWriter value(boolean value) {
        beforeValue();
        text.append(value);
        return this;
    }

    public JsonWriter nullValue() {
        beforeValue();
        text.append("null");
        return this;
    }

    /** Shorthand for name(name).value(value). */
    public JsonWriter field(String name, String value) {
        return name(name).value(value);
    }

    public JsonWriter field(String name, long value) {
        return name(name).value(value);
    }

    public JsonWriter field(String name, boolean value) {
        return name(name).value(value);
    }

    /** The finished document; throws while a container is still open or nothing was written. */
    @Override
    public String toString() {
        if (!done || !open.isEmpty()) {
            throw new IllegalStateException("unfinished JSON document: " + text);
        }
        return text.toString();
    }

    private void beforeValue() {
        if (open.isEmpty()) {
            if (done) {
                throw new IllegalStateException("a second top-level value");
            }
            done = true;
            return;
        }
        char state = open.peek();
        if (state == 'o') {
            throw new IllegalStateException("a value without a name in an object");
        }
        if (state == 'v') {
            open.pop();
            open.push('o');
            filled.pop();
            filled.push(true);
            return;
        }
        comma();
    }

    private void comma() {
        if (filled.peek()) {
            text.append(',');
        }
        filled.pop();
        filled.push(true);
    }

    private JsonWriter end(char bracket) {
        open.pop();
        filled.pop();
        text.append(bracket);
        return this;
    }

    private void string(String s) {
        text.append('"');
        for (int i = 0; i < s.length(); i++) {
            char c = s.charAt(i);
            switch (c) {
                case '"' -> text.append("\\\"");
                case '\\' -> text.append("\\\\");
                case '\n' -> text.append("\\n");
                case '\r' -> text.append("\\r");
                case '\t' -> text.append("\\t");
                case '\b' -> text.append("\\b");
                case '\f' -> text.append("\\f");
                default -> {
                    if (c < 0x20 || c == 0x7F || Character.isSurrogate(c)
                            && !validSurrogate(s, i)) {
                        text.append(String.format("\\u%04x", (int) c));
                    } else {
                        text.append(c);
                    }
                }
            }
        }
        text.append('"');
    }

    /** A lone surrogate is escaped so that the output stays valid UTF-8. */
    private static boolean validSurrogate(String s, int i) {
        char c = s.charAt(i);
        if (Character.isHighSurrogate(c)) {
            return i + 1 < s.length() && Character.isLowSurrogate(s.charAt(i + 1));
        }
        return i > 0 && Character.isHighSurrogate(s.charAt(i - 1));
    }
}
