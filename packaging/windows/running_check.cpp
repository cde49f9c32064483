// SPDX-License-Identifier: GPL-3.0-or-later
// A custom action of the Windows Installer package, run before it changes
// anything: it fails while a program of the installed folder runs (a
// child's game, a teacher's Progrès), so that an upgrade or an uninstall
// never replaces half of the files under a running game and leaves the rest
// for the next restart. The installation then ends with status 1603, the
// earlier version whole, and says why in French: in a window when the
// installer shows its own, in its log when silent. A deployment tool tries
// again at its next run.
// clang-format off
#include <windows.h>
#include <msiquery.h>
#include <tlhelp32.h>
// clang-format on

#include <string>

namespace {

std::wstring lowered(std::wstring text)
{
    if (!text.empty())
        CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

// The full path of a process's program, empty when it cannot be read.
std::wstring programOf(DWORD processId)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process)
        return {};
    std::wstring path(32768, L'\0');
    DWORD size = static_cast<DWORD>(path.size());
    const bool read = QueryFullProcessImageNameW(process, 0, path.data(), &size);
    CloseHandle(process);
    path.resize(read ? size : 0);
    return path;
}

int runningFrom(const std::wstring &folder)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    int running = 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (bool more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        const std::wstring program = lowered(programOf(entry.th32ProcessID));
        if (program.size() > folder.size() && program.compare(0, folder.size(), folder) == 0)
            ++running;
    }
    CloseHandle(snapshot);
    return running;
}

std::wstring property(MSIHANDLE installer, const wchar_t *name)
{
    wchar_t empty[1] = L"";
    DWORD size = 0;
    if (MsiGetPropertyW(installer, name, empty, &size) != ERROR_MORE_DATA)
        return {};
    std::wstring value(++size, L'\0');
    if (MsiGetPropertyW(installer, name, value.data(), &size) != ERROR_SUCCESS)
        return {};
    value.resize(size);
    return value;
}

} // namespace

extern "C" __declspec(dllexport) UINT __stdcall NoProgramRunning(MSIHANDLE installer)
{
    std::wstring folder = lowered(property(installer, L"INSTALLDIR"));
    while (!folder.empty() && folder.back() == L'\\')
        folder.pop_back();
    if (folder.empty() || runningFrom(folder + L'\\') == 0)
        return ERROR_SUCCESS;
    PMSIHANDLE message = MsiCreateRecord(0);
    MsiRecordSetStringW(message, 0,
                        L"Additions est ouvert sur cet ordinateur : fermez le jeu et « Additions - "
                        L"progrès » dans chaque session, puis relancez l'installation. Rien n'a "
                        L"été changé.");
    MsiProcessMessage(installer, INSTALLMESSAGE(INSTALLMESSAGE_ERROR | MB_OK | MB_ICONWARNING),
                      message);
    return ERROR_INSTALL_FAILURE;
}
