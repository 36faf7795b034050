package qorvik.provider.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.CodeSigner;
import java.security.MessageDigest;
import java.security.Security;
import java.security.cert.X509Certificate;
import java.util.ArrayList;
import java.util.Enumeration;
import java.util.HexFormat;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;
import java.util.jar.JarEntry;
import java.util.jar.JarFile;
import java.util.jar.JarOutputStream;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

import org.junit.jupiter.api.Test;

/**
 * The JDK's keytool and jarsigner on the token through the provider, configured each way the JDK
 * offers (-providerclass with -providerArg, -addprovider by the provider's name, java.security);
 * what they print and sign is judged by the JDK alone.
 */
class KeyStoreToolsTest {
    private static final String CLASS = "qorvik.provider.KelvaneProvider";

    /** The options that put the configured provider into a tool's JVM, by route. */
    private static Map<String, List<String>> routes() {
        String config = ProviderSetup.configFile().toString();
        String inline = "--library=" + ProviderSetup.softhsm() + "\\nname=junit\\ntokenLabel="
                + ProviderSetup.tokenLabel() + "\\npin=file:" + ProviderSetup.pinFile();
        int next = 1;
        while (Security.getProperty("security.provider." + next) != null) {
            next++;
        }
        Path securityFile = ProviderSetup.write("ks-java.security",
                "security.provider." + next + "=" + CLASS + " " + config + "\n");
        String classPath = ProviderSetup.providerPath();
        Map<String, List<String>> routes = new TreeMap<>();
        routes.put("-providerclass", List.of("-providerpath", classPath, "-providerclass", CLASS,
                "-providerArg", config));
        routes.put("-providerclass, inline configuration", List.of("-providerpath", classPath,
                "-providerclass", CLASS, "-providerArg", inline));
        routes.put("-addprovider", List.of("-J-cp", "-J" + classPath, "-addprovider", "Kelvane",
                "-providerArg", config));
        routes.put("java.security", List.of("-J-cp", "-J" + classPath,
                "-J-Djava.security.properties=" + securityFile));
        return routes;
    }

    /** jarsigner has no -providerpath: the jars go on its class path. */
    private static List<List<String>> jarsignerRoutes() {
        Map<String, List<String>> keytool = routes();
        String classPath = ProviderSetup.providerPath();
        return List.of(
                List.of("-J-cp", "-J" + classPath, "-providerClass", CLASS, "-providerArg",
                        ProviderSetup.configFile().toString()),
                keytool.get("-addprovider"),
                keytool.get("java.security"));
    }

    private static List<String> tool(String name, List<String> route, String... args) {
        List<String> command = new ArrayList<>();
        command.add(KeyStoreFixture.jdkTool(name));
        command.add("-J-Dkelvane.library=" + ProviderSetup.bridgeLibrary());
        command.add("-J-Xcheck:jni");
        command.addAll(route);
        command.addAll(List.of("-keystore", "NONE", "-storetype", "Kelvane", "-storepass", ProviderSetup.USER_PIN));
        command.addAll(List.of(args));
        return command;
    }

    private static String fingerprint(X509Certificate c) throws Exception {
        return HexFormat.ofDelimiter(":").withUpperCase()
                .formatHex(MessageDigest.getInstance("SHA-256").digest(c.getEncoded()));
    }

    @Test
    void keytoolListsTheTokenByEveryRoute() throws Exception {
        KeyStoreFixture.World w = KeyStoreFixture.world();
        Map<String, String> fingerprints = new TreeMap<>();
        for (KeyStoreFixture.Identity i : List.of(w.root, w.intermediate, w.rsa, w.ec, w.twin)) {
            fingerprints.put("CN=" + i.name, fingerprint(i.cert));
        }
        Map<String, String> expected = new TreeMap<>();
        for (Map.Entry<String, String> e : KeyStoreTest.fullView().entrySet()) {
            expected.put(e.getKey(), e.getValue().replace("secret:AES", "secret"));
        }
        Pattern type = Pattern.compile("^Entry type: (\\S+)$", Pattern.MULTILINE);
        Pattern owner = Pattern.compile("^Owner: (.*)$", Pattern.MULTILINE);
        Pattern sha256 = Pattern.compile("^\\s*SHA256: (\\S+)$", Pattern.MULTILINE);
        for (Map.Entry<String, List<String>> route : routes().entrySet()) {
            KeyStoreFixture.Run run = KeyStoreFixture.exec(tool("keytool", route.getValue(), "-list", "-v"));
            String what = route.getKey() + ": " + run;
            assertEquals(0, run.status, what);
            assertFalse(run.output.contains("WARNING in native method"), what);
            assertTrue(run.output.contains("Keystore provider: Kelvane-junit\n"), what);
            Map<String, String> listed = new TreeMap<>();
            for (String block : run.output.split("Alias name: ")) {
                String alias = block.lines().findFirst().orElse("");
                if (!alias.startsWith("ks-")) {
                    continue;
                }
                Matcher t = type.matcher(block);
                assertTrue(t.find(), what);
                List<String> owners = new ArrayList<>();
                List<String> prints = new ArrayList<>();
                for (Matcher m = owner.matcher(block); m.find(); ) {
                    owners.add(m.group(1));
                    prints.add(fingerprints.get(m.group(1)));
                }
                List<String> printed = new ArrayList<>();
                for (Matcher m = sha256.matcher(block); m.find(); ) {
                    printed.add(m.group(1));
                }
                assertEquals(prints, printed, what + ": the fingerprints of " + alias);
                switch (t.group(1)) {
                    case "PrivateKeyEntry":
                        assertTrue(block.contains("Certificate chain length: " + owners.size() + "\n"), what);
                        listed.put(alias, "key:" + String.join(">", owners));
                        break;
                    case "trustedCertEntry":
                        listed.put(alias, "cert:" + String.join(">", owners));
                        break;
                    default:
                        listed.put(alias, t.group(1).equals("SecretKeyEntry") && owners.isEmpty()
                                ? "secret" : "?" + t.group(1) + owners);
                }
            }
            KeyStoreTest.assertView(expected, listed);
        }
    }

    /** A jar of a few entries, unsigned. */
    private static Path unsignedJar(Path file) throws IOException {
        try (OutputStream out = Files.newOutputStream(file); JarOutputStream jar = new JarOutputStream(out)) {
            for (int i = 0; i < 3; i++) {
                jar.putNextEntry(new JarEntry("data/entry" + i + ".txt"));
                jar.write(("entry " + i + " of the jar signed on the token\n").repeat(50 * (i + 1))
                        .getBytes(StandardCharsets.UTF_8));
                jar.closeEntry();
            }
        }
        return file;
    }

    /** The signers of every entry of {@code jar}, as the JDK verifies them on reading. */
    private static List<X509Certificate> signers(Path jar) throws IOException {
        List<X509Certificate> signers = new ArrayList<>();
        try (JarFile file = new JarFile(jar.toFile(), true)) {
            for (Enumeration<JarEntry> e = file.entries(); e.hasMoreElements(); ) {
                JarEntry entry = e.nextElement();
                if (entry.isDirectory() || entry.getName().startsWith("META-INF/")) {
                    continue;
                }
                try (InputStream in = file.getInputStream(entry)) {
                    in.readAllBytes();
                }
                CodeSigner[] codeSigners = entry.getCodeSigners();
                assertNotNull(codeSigners, entry.getName() + " is signed");
                assertEquals(1, codeSigners.length, entry.getName());
                signers.add((X509Certificate) codeSigners[0].getSignerCertPath().getCertificates().get(0));
            }
        }
        return signers;
    }

    @Test
    void jarsignerSignsWithTokenKeys() throws Exception {
        KeyStoreFixture.World w = KeyStoreFixture.world();
        Object[][] table = {
            // alias, -sigalg (null: jarsigner's choice for the key), the algorithm the JDK reports, its signer
            {"ks-rsa", null, "SHA256withRSA", w.rsa},
            {"ks-rsa", "SHA384withRSA", "SHA384withRSA", w.rsa},
            {"ks-rsa", "SHA512withRSA", "SHA512withRSA", w.rsa},
            {"ks-rsa", "RSASSA-PSS", "RSASSA-PSS", w.rsa},
            {"ks-ec", null, "SHA256withECDSA", w.ec},
            {"ks-ec", "SHA384withECDSA", "SHA384withECDSA", w.ec},
        };
        List<List<String>> routes = jarsignerRoutes();
        int row = 0;
        for (Object[] r : table) {
            List<String> route = routes.get(row % routes.size());
            String what = r[0] + " " + r[1] + " " + route;
            Path unsigned = unsignedJar(ProviderSetup.workDir().resolve("ks-unsigned" + row + ".jar"));
            Path signed = ProviderSetup.workDir().resolve("ks-signed" + row + ".jar");
            row++;
            List<String> args = new ArrayList<>();
            if (r[1] != null) {
                args.addAll(List.of("-sigalg", (String) r[1]));
            }
            args.addAll(List.of("-signedjar", signed.toString(), unsigned.toString(), (String) r[0]));
            KeyStoreFixture.Run sign = KeyStoreFixture.exec(tool("jarsigner", route, args.toArray(new String[0])));
            assertEquals(0, sign.status, what + ": " + sign);
            assertTrue(sign.output.contains("jar signed."), what + ": " + sign);
            assertFalse(sign.output.contains("WARNING in native method"), what + ": " + sign);

            // The JDK alone, with no provider of ours
            KeyStoreFixture.Run verify = KeyStoreFixture.exec(List.of(KeyStoreFixture.jdkTool("jarsigner"),
                    "-verify", "-verbose", "-certs", signed.toString()));
            assertEquals(0, verify.status, what + ": " + verify);
            assertTrue(verify.output.contains("jar verified."), what + ": " + verify);
            assertTrue(verify.output.contains("Signature algorithm: " + r[2] + ","), what + ": " + verify);
            X509Certificate signer = ((KeyStoreFixture.Identity) r[3]).cert;
            List<X509Certificate> signers = signers(signed);
            assertEquals(3, signers.size(), what);
            for (X509Certificate c : signers) {
                assertEquals(signer, c, what);
            }
        }
    }
}
