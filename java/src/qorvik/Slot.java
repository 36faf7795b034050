package qorvik;

/** A slot of the loaded Cryptoki module, identified by its slot ID. */
public interface Slot {
    /** The slot ID as the module reported it (its low 32 bits). */
    int getSlotID();
}
