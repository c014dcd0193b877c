// e2e_probe: the end-to-end suite's eyes inside Wine. It finds the stub's
// windows by caption and reads what the user would see (texts, the bar,
// where to click), starts a program from a given current directory, and
// reads file attributes as Windows reports them. Input itself comes from
// xdotool, through the X server, as a user's would.
//
//   e2e_probe wait CAPTION [ID] [TIMEOUT_MS]   exit 0 once a dialog with that
//                                              caption (and control ID) shows
//   e2e_probe gone CAPTION [ID] [TIMEOUT_MS]   exit 0 once no such dialog shows
//   e2e_probe text CAPTION ID                  the control's text (ID 0: caption)
//   e2e_probe click CAPTION ID                 screen point at the control's centre
//   e2e_probe closebox CAPTION                 screen point at the close box
//   e2e_probe bar CAPTION                      "STATUS|POS|MAX" of a progress dialog
//   e2e_probe watch CAPTION TIMEOUT_MS         prints "ready", waits for the progress
//                                              dialog, then follows it until it
//                                              closes: "MS|STATUS|POS|MAX", MS = the
//                                              time it showed
//   e2e_probe launch DIR PROGRAM               runs PROGRAM in current directory
//                                              DIR; exit code = the program's
//   e2e_probe attrs PATH...                    GetFileAttributesW of each, in hex
//   e2e_probe load DLL                         LoadLibraryW(DLL): the loaded path
//
// Texts are printed as UTF-8, one result per line. Exit code 2 = bad usage,
// 1 = not found or timed out.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

constexpr DWORD DEFAULT_TIMEOUT_MS = 30000;
constexpr UINT POLL_MS = 10;
constexpr int IDC_STATUS = 1002;
constexpr int IDC_PROGRESS = 1003;

void Print(const std::wstring &text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, utf8.data(), size, nullptr, nullptr);
    std::fputs(utf8.c_str(), stdout);
    std::fputs("\n", stdout);
    std::fflush(stdout);
}

struct Search {
    const wchar_t *Caption;
    int RequiredId; // 0: any dialog with the caption
    HWND Found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM param)
{
    auto *search = reinterpret_cast<Search *>(param);
    wchar_t text[512] = {};
    wchar_t className[64] = {};
    GetWindowTextW(window, text, 512);
    GetClassNameW(window, className, 64);
    if (!IsWindowVisible(window) || std::wcscmp(text, search->Caption) != 0 || std::wcscmp(className, L"#32770") != 0) {
        return TRUE;
    }
    if (search->RequiredId != 0 && GetDlgItem(window, search->RequiredId) == nullptr) {
        return TRUE;
    }
    search->Found = window;
    return FALSE;
}

// The visible dialog with this caption (and a control requiredId), or null.
HWND FindDialog(const wchar_t *caption, int requiredId)
{
    Search search = {caption, requiredId, nullptr};
    EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

HWND WaitForDialog(const wchar_t *caption, int requiredId, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (HWND dialog = FindDialog(caption, requiredId)) {
            return dialog;
        }
        if (GetTickCount() - start > timeoutMs) {
            return nullptr;
        }
        Sleep(POLL_MS);
    }
}

// A window's text read across processes; a busy window answers nothing.
bool ReadText(HWND window, std::wstring &text)
{
    wchar_t buffer[1024] = {};
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 200,
                             &copied)) {
        return false;
    }
    text = buffer;
    return true;
}

bool ReadNumber(HWND window, UINT message, WPARAM wParam, LRESULT &value)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wParam, 0, SMTO_ABORTIFHUNG, 200, &result)) {
        return false;
    }
    value = static_cast<LRESULT>(result);
    return true;
}

// "STATUS|POS|MAX" of a progress dialog; false while its thread is busy.
bool ReadBar(HWND dialog, std::wstring &state)
{
    std::wstring status;
    LRESULT position = 0;
    LRESULT maximum = 0;
    HWND bar = GetDlgItem(dialog, IDC_PROGRESS);
    if (!ReadText(GetDlgItem(dialog, IDC_STATUS), status) || !ReadNumber(bar, PBM_GETPOS, 0, position) ||
        !ReadNumber(bar, PBM_GETRANGE, FALSE, maximum)) {
        return false;
    }
    state = status + L"|" + std::to_wstring(position) + L"|" + std::to_wstring(maximum);
    return true;
}

void PrintPoint(LONG x, LONG y)
{
    Print(std::to_wstring(x) + L" " + std::to_wstring(y));
}

int Watch(const wchar_t *caption, DWORD timeoutMs)
{
    // Tells the caller that the watch runs before the dialog can show.
    Print(L"ready");
    HWND dialog = WaitForDialog(caption, IDC_PROGRESS, timeoutMs);
    if (dialog == nullptr) {
        return 1;
    }
    DWORD shown = GetTickCount();
    std::wstring last = L"||";
    while (IsWindow(dialog) && IsWindowVisible(dialog)) {
        std::wstring state;
        if (ReadBar(dialog, state)) {
            last = state;
        }
        Sleep(POLL_MS);
    }
    Print(std::to_wstring(GetTickCount() - shown) + L"|" + last);
    return 0;
}

int Launch(const wchar_t *directory, const wchar_t *program)
{
    std::wstring commandLine = L"\"" + std::wstring(program) + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, directory, &startup,
                        &process)) {
        return 1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return static_cast<int>(exitCode);
}

DWORD TimeoutArgument(int argc, wchar_t **argv, int index)
{
    return argc > index ? static_cast<DWORD>(std::wcstoul(argv[index], nullptr, 10)) : DEFAULT_TIMEOUT_MS;
}

int IdArgument(int argc, wchar_t **argv, int index)
{
    return argc > index ? static_cast<int>(std::wcstol(argv[index], nullptr, 10)) : 0;
}

int Run(int argc, wchar_t **argv)
{
    if (argc < 3) {
        return 2;
    }
    std::wstring command = argv[1];
    const wchar_t *subject = argv[2];

    if (command == L"wait") {
        return WaitForDialog(subject, IdArgument(argc, argv, 3), TimeoutArgument(argc, argv, 4)) ? 0 : 1;
    }
    if (command == L"gone") {
        DWORD start = GetTickCount();
        while (FindDialog(subject, IdArgument(argc, argv, 3)) != nullptr) {
            if (GetTickCount() - start > TimeoutArgument(argc, argv, 4)) {
                return 1;
            }
            Sleep(POLL_MS);
        }
        return 0;
    }
    if (command == L"watch") {
        return Watch(subject, TimeoutArgument(argc, argv, 3));
    }
    if (command == L"launch") {
        return argc > 3 ? Launch(subject, argv[3]) : 2;
    }
    if (command == L"attrs") {
        for (int i = 2; i < argc; ++i) {
            wchar_t hex[16];
            std::swprintf(hex, 16, L"0x%x", GetFileAttributesW(argv[i]));
            Print(hex);
        }
        return 0;
    }
    if (command == L"load") {
        HMODULE module = LoadLibraryW(subject);
        wchar_t path[MAX_PATH] = L"none";
        if (module != nullptr) {
            GetModuleFileNameW(module, path, MAX_PATH);
        }
        Print(path);
        return 0;
    }

    // The rest reads a dialog that is up now.
    int id = IdArgument(argc, argv, 3);
    HWND dialog = FindDialog(subject, command == L"bar" ? IDC_PROGRESS : id);
    if (dialog == nullptr) {
        return 1;
    }
    if (command == L"text") {
        std::wstring text;
        if (!ReadText(id == 0 ? dialog : GetDlgItem(dialog, id), text)) {
            return 1;
        }
        Print(text);
        return 0;
    }
    if (command == L"bar") {
        std::wstring state;
        if (!ReadBar(dialog, state)) {
            return 1;
        }
        Print(state);
        return 0;
    }
    if (command == L"click") {
        RECT rect;
        GetWindowRect(GetDlgItem(dialog, id), &rect);
        PrintPoint((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
        return 0;
    }
    if (command == L"closebox") {
        // The close box is the last caption button: square, as high as the
        // caption, inside the frame at the top right.
        RECT rect;
        GetWindowRect(dialog, &rect);
        LONG frame = GetSystemMetrics(SM_CXFIXEDFRAME);
        LONG button = GetSystemMetrics(SM_CYCAPTION) - 1;
        PrintPoint(rect.right - frame - button / 2 - 2, rect.top + frame + button / 2);
        return 0;
    }
    return 2;
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    return Run(argc, argv);
}
