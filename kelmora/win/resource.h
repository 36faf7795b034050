// Resource identifiers of the signer-PIN dialog (kelvane.rc).
#pragma once

#define IDD_SIGNER_PIN 101
#define IDB_SIGNER_PIN_IMAGE 102
#define IDC_SIGNER_PIN_FIELD 1000
#define IDC_SIGNER_PIN_PROMPT 1002
