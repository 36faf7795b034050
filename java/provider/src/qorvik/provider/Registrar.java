package qorvik.provider;

import java.util.List;
import java.util.Map;

/** How each family of services enters the provider's table. */
interface Registrar {
    /** Makes the engine of one service for the provider's token. */
    @FunctionalInterface
    interface Factory {
        Object make(Token token, String algorithm);
    }

    /** Adds the service {@code type}.{@code algorithm}, known also by {@code aliases}. */
    void add(String type, String algorithm, List<String> aliases, Map<String, String> attributes,
             Factory factory);

    default void add(String type, String algorithm, List<String> aliases, Factory factory) {
        add(type, algorithm, aliases, Map.of(), factory);
    }

    default void add(String type, String algorithm, Factory factory) {
        add(type, algorithm, List.of(), Map.of(), factory);
    }
}
