package qorvik.tests;

/** The object cases against SoftHSM2's module. */
class SoftHsmObjectsTest extends ObjectCases {
    @Override
    protected String moduleName() {
        return TestSetup.softhsm();
    }
}
