package qorvik.tool.cli;

import picocli.CommandLine.Command;
import picocli.CommandLine.Mixin;
import picocli.CommandLine.Option;

import qorvik.nat.NativeCryptoki;
import qorvik.nat.NativeSlot;

/** Initialises (and so empties) the token in a slot, giving it a label and an SO PIN. */
@Command(name = "init-token", description = {"Initialise the token in a slot: every object on "
        + "it is destroyed; it gets the label and the SO PIN given.",
    "The slot is the one of --slot, or else the first slot whose token is not initialised."})
public final class InitToken extends KelvaneCommand {
    private static final int CKF_TOKEN_INITIALIZED = 0x400;

    @Option(names = "--label", required = true, paramLabel = "LABEL",
            description = "The token's new label (at most 32 bytes).")
    String label;

    @Mixin
    SoPinOptions soPin;

    @Override
    protected int execute(CommandContext context) throws Exception {
        NativeCryptoki module = context.cryptoki();
        NativeSlot slot = null;
        if (top.slot != null) {
            slot = context.slotById(module, top.slot);
        } else {
            for (NativeSlot candidate : module.GetSlotList(true)) {
                if ((candidate.J_GetTokenInfo().getFlags() & CKF_TOKEN_INITIALIZED) == 0) {
                    slot = candidate;
                    break;
                }
            }
            if (slot == null) {
                throw new CommandFailure("no slot with an uninitialised token: choose one with --slot");
            }
        }
        boolean fresh = (slot.J_GetTokenInfo().getFlags() & CKF_TOKEN_INITIALIZED) == 0;
        PinSource source = soPin.source();
        String pin = fresh ? source.readNew(context.env(), context.console())
                : source.read(context.env(), context.console());
        slot.J_InitToken(pin, label);
        context.out().println("Token '" + label + "' initialised in slot "
                + Text.slotId(slot.getSlotID()) + "; set its user PIN with init-pin");
        return ExitCodes.OK;
    }
}
