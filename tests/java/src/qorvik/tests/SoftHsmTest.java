package qorvik.tests;

/** The library-level cases against SoftHSM2's module. */
class SoftHsmTest extends ModuleCases {
    @Override
    protected String moduleName() {
        return TestSetup.softhsm();
    }
}
