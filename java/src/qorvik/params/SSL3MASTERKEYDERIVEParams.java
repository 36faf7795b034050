package qorvik.params;

import qorvik.Version;

/** Parameters of CKM_SSL3_MASTER_KEY_DERIVE: protocol version and the random data. */
public class SSL3MASTERKEYDERIVEParams {
    public Version m_version;
    public SSL3RANDOMDATA m_randomInfo;

    public SSL3MASTERKEYDERIVEParams() {
    }

    public SSL3MASTERKEYDERIVEParams(Version version, SSL3RANDOMDATA randomInfo) {
        m_version = version;
        m_randomInfo = randomInfo;
    }
}
