package qorvik.params;

/**
 * Client and server random data of the SSL 3.0 derivations. The master-key derivation reads
 * the {@code m_} pair and the key-material derivation the plain pair, so the class carries
 * both; the constructor sets both pairs to the same arrays.
 */
public class SSL3RANDOMDATA {
    public byte[] m_clientRandom;
    public byte[] m_serverRandom;
    public byte[] clientRandom;
    public byte[] serverRandom;

    public SSL3RANDOMDATA() {
    }

    public SSL3RANDOMDATA(byte[] clientRandom, byte[] serverRandom) {
        this.m_clientRandom = clientRandom;
        this.m_serverRandom = serverRandom;
        this.clientRandom = clientRandom;
        this.serverRandom = serverRandom;
    }
}
