// The extraction run: one Cabinet::CExtract over the package file, feeding
// the progress dialog's status text and bar.
#pragma once

#include <cstdint>

#include "cabinet/Extract.h"
#include "platform/Win32.h"

// Extracts the cabinet embedded in the package file modulePath into
// targetFolder (ending in "\" or "/"; "MEMORY\" extracts into memory),
// synchronously on this thread. status and progress are the controls that
// the sinks below update (either may be null); they are kept in g_StatusWnd
// and g_ProgressWnd. True when the whole cabinet was extracted without a
// recorded failure. No folder is created when the package holds no cabinet.
bool RunExtraction(const WCHAR *modulePath, const WCHAR *targetFolder, HWND status, HWND progress);

// The sinks below repaint the controls at most every 40 ms (the run paints
// its last state at the end), and make sure the screen shows what they
// painted at once, also under Wine.

// OnCopyFile sink: the stored file's name (without its directory) is the
// text of g_StatusWnd from now on. Returns 1: no file is skipped.
int ShowFileName(const Cabinet::CopyFileInfo *info, intptr_t userData);

// OnFileDone sink: g_ProgressWnd counts one more file.
void StepProgress(const WCHAR *outPath, const Cabinet::CMemSink *sink, intptr_t userData);

// OnProgress sink: the bar counts files, so the byte count is ignored; the
// report only lets a name set just after a repaint show while its file is
// written.
void IgnoreProgress(const Cabinet::ProgressInfo *info, intptr_t userData);
