package qorvik.provider;

import java.security.ProviderException;

import qorvik.CryptokiException;
import qorvik.nat.NativeCryptoki;
import qorvik.nat.NativeSlot;

/** Picks the configured slot: by ID, by index among the slots with a token, or by token label. */
final class SlotChoice {
    private SlotChoice() {
    }

    /** Called holding the module's lock. Without a choice, the first slot with a token. */
    static NativeSlot choose(NativeCryptoki cryptoki, ProviderConfig config) throws CryptokiException {
        if (config.slot != null) {
            for (NativeSlot slot : cryptoki.GetSlotList(false)) {
                if (Integer.toUnsignedLong(slot.getSlotID()) == config.slot) {
                    return slot;
                }
            }
            throw new ProviderException("Kelvane: " + config.source + ": the module has no slot "
                    + config.slot);
        }
        NativeSlot[] withToken = cryptoki.GetSlotList(true);
        if (withToken == null) {
            withToken = new NativeSlot[0];
        }
        if (config.tokenLabel != null) {
            for (NativeSlot slot : withToken) {
                if (slot.J_GetTokenInfo().getLabel().trim().equals(config.tokenLabel)) {
                    return slot;
                }
            }
            throw new ProviderException("Kelvane: " + config.source + ": no token labelled '"
                    + config.tokenLabel + "'");
        }
        int index = config.slotListIndex == null ? 0 : config.slotListIndex;
        if (index >= withToken.length) {
            throw new ProviderException("Kelvane: " + config.source + ": slotListIndex " + index
                    + " but the module has " + withToken.length + " slot(s) with a token");
        }
        return withToken[index];
    }
}
