package qorvik.tests;

/** The object cases against pkcs11-spy, which forwards every call to SoftHSM2. */
class SoftHsmObjectsBehindSpyTest extends ObjectCases {
    @Override
    protected String moduleName() {
        return TestSetup.spy();
    }
}
