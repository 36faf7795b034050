package qorvik.tool;

import qorvik.CryptokiException;
import qorvik.nat.NativeSlot;

/**
 * Which token to use, as named on the command line: a token label (blank padding ignored), or
 * {@code slot:ID} for the token in the slot with that ID (decimal, or hex after 0x).
 */
final class TokenChoice {
    static final String SLOT_PREFIX = "slot:";

    private final String label;
    private final long slotId;

    private TokenChoice(String label, long slotId) {
        this.label = label;
        this.slotId = slotId;
    }

    /** Throws IllegalArgumentException for an empty label or a slot ID that is not a number. */
    static TokenChoice parse(String text) {
        if (text.startsWith(SLOT_PREFIX)) {
            long id;
            try {
                id = Long.decode(text.substring(SLOT_PREFIX.length()));
            } catch (NumberFormatException e) {
                throw new IllegalArgumentException("not a slot ID: " + text, e);
            }
            if (id < 0 || id > 0xFFFFFFFFL) {
                throw new IllegalArgumentException("slot ID out of range: " + text);
            }
            return new TokenChoice(null, id);
        }
        if (text.trim().isEmpty()) {
            throw new IllegalArgumentException("empty token label");
        }
        return new TokenChoice(text.trim(), -1);
    }

    boolean matches(NativeSlot slot) throws CryptokiException {
        if (label == null) {
            return Integer.toUnsignedLong(slot.getSlotID()) == slotId;
        }
        return slot.J_GetTokenInfo().getLabel().trim().equals(label);
    }

    @Override
    public String toString() {
        return label == null ? "the token in slot " + slotId : "the token labelled '" + label + "'";
    }
}
