package qorvik.tool.cli;

import picocli.CommandLine.Command;
import picocli.CommandLine.Mixin;
import picocli.CommandLine.Option;

import qorvik.nat.NativeSession;
import qorvik.nat.NativeSlot;

/** Changes the user PIN, or with --so the security officer's PIN. */
@Command(name = "change-pin", description = {"Change the user PIN (the current one from the "
        + "PIN options or the prompt), or with --so the SO PIN (from the SO PIN options)."})
public final class ChangePin extends KelvaneCommand {
    @Option(names = "--so", description = "Change the security officer's PIN instead.")
    boolean so;

    @Mixin
    SoPinOptions soPin;

    @Mixin
    NewPinOptions newPin;

    @Override
    protected int execute(CommandContext context) throws Exception {
        NativeSlot slot = context.slot();
        PinSource current = so ? soPin.source() : context.userPin();
        String old = current.read(context.env(), context.console());
        String pin = newPin.source(so ? "New SO PIN" : "New user PIN")
                .readNew(context.env(), context.console());
        NativeSession session = context.remember(slot.J_OpenSession(
                CommandContext.CKF_SERIAL_SESSION | CommandContext.CKF_RW_SESSION,
                so ? CommandContext.CKU_SO : CommandContext.CKU_USER, old));
        session.J_SetPIN(old, pin);
        context.out().println((so ? "SO" : "User") + " PIN changed on token '"
                + slot.J_GetTokenInfo().getLabel().trim() + "'");
        return ExitCodes.OK;
    }
}
