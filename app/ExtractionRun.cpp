// The extraction run (see ExtractionRun.h).
#include "app/ExtractionRun.h"

#include "app/EnsureFolder.h"
#include "app/Globals.h"
#include "support/StrBuf.h"

#include <commctrl.h>

namespace {

// The screen follows the run at most this often. Painting a name and a bar
// step per file costs more than extracting a small file (a package of
// thousands takes several times as long under Wine), while a person reads
// no more than a few names a second.
constexpr DWORD REPAINT_INTERVAL_MS = 40;

// A message nobody posts: a look at the queue for it finds nothing.
constexpr UINT NO_SUCH_MESSAGE = WM_APP + 0x3FFF;

// What the dialog is to show: the file being extracted and how many are
// done. The sinks record each change and repaint when the last repaint is
// at least REPAINT_INTERVAL_MS old; the run repaints its last state at the
// end whatever the time.
class CRunDisplay {
public:
    void Reset()
    {
        m_Name[0] = L'\0';
        m_FilesDone = 0;
        m_NameChanged = m_CountChanged = m_EverRepainted = false;
        m_LastRepaint = 0;
    }

    void SetName(const WCHAR *name)
    {
        lstrcpynW(m_Name, name, ARRAYSIZE(m_Name));
        m_NameChanged = true;
    }

    void StepFile()
    {
        ++m_FilesDone;
        m_CountChanged = true;
    }

    void RepaintIfDue()
    {
        if ((m_NameChanged || m_CountChanged) &&
            (!m_EverRepainted || GetTickCount() - m_LastRepaint >= REPAINT_INTERVAL_MS)) {
            Repaint();
        }
    }

    void Repaint()
    {
        // No message loop turns during the run: the controls paint now.
        if (m_NameChanged && g_StatusWnd != nullptr) {
            SetWindowTextW(g_StatusWnd, m_Name);
            UpdateWindow(g_StatusWnd);
        }
        if (m_CountChanged && g_ProgressWnd != nullptr) {
            SendMessageW(g_ProgressWnd, PBM_SETPOS, m_FilesDone, 0);
            UpdateWindow(g_ProgressWnd);
        }
        ShowPaintedNow();
        m_NameChanged = m_CountChanged = false;
        m_EverRepainted = true;
        m_LastRepaint = GetTickCount();
    }

private:
    // GdiFlush hands GDI's batched drawing over at once (Windows). Wine
    // keeps a window's drawing in memory and puts it on the screen when the
    // program goes idle, or at the end of a WM_PAINT but only once 50 ms
    // have passed since the last idle moment; a run that started from a
    // timer message has none, and a static control paints its new text
    // outside WM_PAINT. A look at the queue that finds nothing is such an
    // idle moment. It removes and dispatches no posted message (input
    // waits for the end of the run, as before); messages sent from other
    // threads are answered, as on any look at the queue.
    static void ShowPaintedNow()
    {
        GdiFlush();
        MSG message;
        PeekMessageW(&message, nullptr, NO_SUCH_MESSAGE, NO_SUCH_MESSAGE, PM_NOREMOVE);
    }

    WCHAR m_Name[MAX_PATH] = {};
    UINT m_FilesDone = 0;
    bool m_NameChanged = false;
    bool m_CountChanged = false;
    bool m_EverRepainted = false;
    DWORD m_LastRepaint = 0;
};

// The one run's display; the sinks are plain functions without state.
CRunDisplay g_RunDisplay;

// The extractor takes its paths as buffers; each copy lives for one call.
bool IsPackageCabinet(Cabinet::CExtract &extract, const WCHAR *modulePath, FDICABINETINFO *info)
{
    CStrBufW path(modulePath);
    return extract.IsCabinet(path, info) != 0;
}

bool CopyPackage(Cabinet::CExtract &extract, const WCHAR *modulePath, const WCHAR *targetFolder)
{
    CStrBufW path(modulePath);
    CStrBufW destination(targetFolder);
    return extract.Copy(path, destination, 0);
}

} // namespace

bool RunExtraction(const WCHAR *modulePath, const WCHAR *targetFolder, HWND status, HWND progress)
{
    // The extractor lives for this call only; the callbacks are
    // assigned as a whole record before Create.
    Cabinet::CExtract extract;
    Cabinet::ExtractCallbacks callbacks;
    callbacks.OnCopyFile = ShowFileName;
    callbacks.OnFileDone = StepProgress;
    callbacks.OnProgress = IgnoreProgress;
    // Byte reports are the chances to show the name of a file that started
    // less than an interval after the last repaint while it is written.
    callbacks.ProgressIntervalMs = REPAINT_INTERVAL_MS;
    extract.Callbacks = callbacks;

    // The sinks reach the controls through the globals.
    g_StatusWnd = status;
    g_ProgressWnd = progress;
    g_RunDisplay.Reset();

    // A package without a cabinet ends here, before any folder exists.
    if (!extract.Create()) {
        return false;
    }
    FDICABINETINFO info = {};
    if (!IsPackageCabinet(extract, modulePath, &info)) {
        return false;
    }

    // The bar counts files; its position stays at 0.
    if (g_ProgressWnd != nullptr) {
        SendMessageW(g_ProgressWnd, PBM_SETRANGE32, 0, static_cast<LPARAM>(static_cast<uint16_t>(info.cFiles)));
    }

    // The target folder first. The extractor creates each file's folder itself, so a failure here
    // shows up there.
    EnsureFolder(targetFolder);

    // The files, and the result. The extractor unloads Cabinet.dll as it
    // goes out of scope. The last name and count show, however soon after
    // the previous repaint they came: the dialog stays up with them, after a
    // failure under the message box.
    const bool copied = CopyPackage(extract, modulePath, targetFolder);
    g_RunDisplay.Repaint();
    return copied;
}

int ShowFileName(const Cabinet::CopyFileInfo *info, intptr_t)
{
    g_RunDisplay.SetName(info->Name);
    g_RunDisplay.RepaintIfDue();
    return 1;
}

void StepProgress(const WCHAR *, const Cabinet::CMemSink *, intptr_t)
{
    g_RunDisplay.StepFile();
    g_RunDisplay.RepaintIfDue();
}

void IgnoreProgress(const Cabinet::ProgressInfo *, intptr_t)
{
    g_RunDisplay.RepaintIfDue();
}
