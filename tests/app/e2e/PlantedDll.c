/* A DLL planted beside a package under the name of one that the stub, the
   common controls or the shell may load (cabinet.dll, uxtheme.dll, ...).
   Loading it leaves a marker file: the DLL's own path plus ".loaded". */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        WCHAR path[MAX_PATH + 8] = {0};
        DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
        if (length != 0 && length < MAX_PATH) {
            lstrcatW(path, L".loaded");
            HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
            if (marker != INVALID_HANDLE_VALUE) {
                CloseHandle(marker);
            }
        }
    }
    return TRUE;
}
