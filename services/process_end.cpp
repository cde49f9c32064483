// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/process_end.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <windows.h>

namespace {

// Wine's ntdll alone exports wine_get_version.
bool underWine()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

} // namespace
#endif

int endOfProgram(int status)
{
#ifdef Q_OS_WIN
    if (underWine())
        TerminateProcess(GetCurrentProcess(), UINT(status));
#endif
    return status;
}
