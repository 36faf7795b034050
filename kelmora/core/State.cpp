// The process-wide state through which every native method reaches the module.
#include "../kelmora.h"

extern "C" {
CK_FUNCTION_LIST_PTR functionList = nullptr;
void* hLibModule = nullptr;
char sLibName[1024] = "";
char sLibFullPath[4096] = "";
int freeLibrary = 0;
CK_BBOOL bInitialized = CK_FALSE;
CK_C_SetCallBack pC_SetCallBack = nullptr;
bool g_bIsSecondAuthenticationRequired = true;
CK_VERSION libVersion = {1, platform::kLibVersionMinor};
CK_CHAR g_SignerPin[20] = {0};
}
