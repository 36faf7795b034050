package qorvik.tool.cli;

import picocli.CommandLine.Command;
import picocli.CommandLine.Mixin;

import qorvik.nat.NativeSession;
import qorvik.nat.NativeSlot;

/** Sets the user PIN of the token, as its security officer. */
@Command(name = "init-pin", description = "Set the token's user PIN, logged in as the security "
        + "officer (SO PIN).")
public final class InitPin extends KelvaneCommand {
    @Mixin
    SoPinOptions soPin;

    @Mixin
    NewPinOptions newPin;

    @Override
    protected int execute(CommandContext context) throws Exception {
        NativeSlot slot = context.slot();
        String so = soPin.source().read(context.env(), context.console());
        String pin = newPin.source("New user PIN").readNew(context.env(), context.console());
        NativeSession session = context.remember(slot.J_OpenSession(
                CommandContext.CKF_SERIAL_SESSION | CommandContext.CKF_RW_SESSION,
                CommandContext.CKU_SO, so));
        session.J_InitPIN(pin);
        context.out().println("User PIN set on token '" + slot.J_GetTokenInfo().getLabel().trim()
                + "'");
        return ExitCodes.OK;
    }
}
