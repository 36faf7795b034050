package qorvik.tool.cli.crypto;

import java.io.BufferedOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.io.PrintStream;
import java.nio.file.Files;
import java.nio.file.Path;

import qorvik.tool.cli.CommandFailure;

/** Input and output files of the data commands, with their failures worded for the user. */
public final class DataFiles {
    /** Most a one-part mechanism (EdDSA, RSA encryption) reads into memory. */
    public static final int ONE_PART_LIMIT = 16 << 20;

    private DataFiles() {
    }

    public static long size(Path file) throws CommandFailure {
        try {
            return Files.size(file);
        } catch (IOException e) {
            throw new CommandFailure("cannot read " + file + ": " + e, e);
        }
    }

    public static InputStream open(Path file) throws CommandFailure {
        try {
            return Files.newInputStream(file);
        } catch (IOException e) {
            throw new CommandFailure("cannot read " + file + ": " + e, e);
        }
    }

    /** The whole of a small file, for mechanisms that take their input in one part. */
    public static byte[] readSmall(Path file, String why) throws CommandFailure {
        if (size(file) > ONE_PART_LIMIT) {
            throw new CommandFailure(file + " is larger than " + (ONE_PART_LIMIT >> 20) + " MiB, the most " + why
                    + " takes in one part");
        }
        try {
            return Files.readAllBytes(file);
        } catch (IOException e) {
            throw new CommandFailure("cannot read " + file + ": " + e, e);
        }
    }

    /** {@code file}, or standard output when it is null (left open). */
    public static OutputStream create(Path file, PrintStream stdout) throws CommandFailure {
        if (file == null) {
            return new OutputStream() {
                @Override
                public void write(int b) {
                    stdout.write(b);
                }

                @Override
                public void write(byte[] b, int off, int len) {
                    stdout.write(b, off, len);
                }

                @Override
                public void close() {
                    stdout.flush();
                }
            };
        }
        try {
            return new BufferedOutputStream(Files.newOutputStream(file), Streams.PART);
        } catch (IOException e) {
            throw new CommandFailure("cannot write " + file + ": " + e, e);
        }
    }

    /** Writes {@code bytes} to {@code file}, or to standard output when it is null. */
    public static void write(Path file, PrintStream stdout, byte[] bytes) throws CommandFailure {
        try (OutputStream out = create(file, stdout)) {
            out.write(bytes);
        } catch (IOException e) {
            throw new CommandFailure("cannot write " + file + ": " + e, e);
        }
    }

    /** Removes what a failed command left of its output file. */
    public static void discard(Path file) {
        if (file != null) {
            try {
                Files.deleteIfExists(file);
            } catch (IOException e) {
                // nothing more to do: the failure itself is what gets reported
            }
        }
    }
}
