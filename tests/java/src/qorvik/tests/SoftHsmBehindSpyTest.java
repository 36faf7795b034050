package qorvik.tests;

/** The library-level cases against pkcs11-spy, which forwards every call to SoftHSM2. */
class SoftHsmBehindSpyTest extends ModuleCases {
    @Override
    protected String moduleName() {
        return TestSetup.spy();
    }
}
