// SPDX-License-Identifier: GPL-3.0-or-later
// Custom actions of the Windows Installer package, so that an upgrade or an
// uninstall never replaces half of the files under a running game (a
// child's game, a teacher's Progrès) and leaves the rest for the next
// restart. The installation then ends with status 1603, the earlier version
// whole, and says why in French: in a window when the installer shows its
// own, in its log when silent. A deployment tool tries again at its next run.
//
// A program is found by the files it has loaded, compared with the folder's
// by identity (volume and file number), not by their paths' spelling: a
// game started by its short 8.3 name, through a linked folder or by another
// drive letter holds the same files.
// clang-format off
#include <windows.h>
#include <msiquery.h>
#include <msi.h>
#include <tlhelp32.h>
// clang-format on

#include <cwchar>
#include <set>
#include <string>
#include <tuple>

namespace {

using Identity = std::tuple<DWORD, DWORD, DWORD>;

bool identityOf(const std::wstring &path, Identity *identity)
{
    HANDLE file =
        CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION information{};
    const bool read = GetFileInformationByHandle(file, &information);
    CloseHandle(file);
    if (read)
        *identity = {information.dwVolumeSerialNumber, information.nFileIndexHigh,
                     information.nFileIndexLow};
    return read;
}

// The programs and libraries of a folder and its sub-folders, by identity,
// with their paths.
void collectFiles(const std::wstring &folder, std::set<Identity> *files, std::wstring *someFile)
{
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const std::wstring path = folder + L'\\' + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                collectFiles(path, files, someFile);
            continue;
        }
        const size_t dot = name.rfind(L'.');
        const std::wstring kind = dot == std::wstring::npos ? L"" : name.substr(dot);
        if (lstrcmpiW(kind.c_str(), L".exe") != 0 && lstrcmpiW(kind.c_str(), L".dll") != 0)
            continue;
        Identity identity;
        if (identityOf(path, &identity))
            files->insert(identity);
        if (someFile->empty())
            *someFile = path;
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

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

// A file of `files` that a process has loaded, as that process names it;
// empty when there is none.
std::wstring loadedFrom(DWORD processId, const std::set<Identity> &files)
{
    Identity identity;
    const std::wstring program = programOf(processId);
    if (!program.empty() && identityOf(program, &identity) && files.count(identity))
        return program;
    HANDLE modules = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId);
    if (modules == INVALID_HANDLE_VALUE)
        return {};
    std::wstring loaded;
    MODULEENTRY32W module{};
    module.dwSize = sizeof module;
    for (bool more = Module32FirstW(modules, &module); more && loaded.empty();
         more = Module32NextW(modules, &module))
        if (identityOf(module.szExePath, &identity) && files.count(identity))
            loaded = module.szExePath;
    CloseHandle(modules);
    return loaded;
}

// The first file of `folder` a running process holds, and that process's
// program.
bool fileInUse(const std::wstring &folder, std::wstring *file, std::wstring *program)
{
    std::set<Identity> files;
    std::wstring someFile;
    collectFiles(folder, &files, &someFile);
    if (files.empty())
        return false;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    const DWORD self = GetCurrentProcessId();
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (bool more = Process32FirstW(snapshot, &entry); more && file->empty();
         more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == self || entry.th32ProcessID == 0)
            continue;
        *file = loadedFrom(entry.th32ProcessID, files);
        *program = entry.szExeFile;
    }
    CloseHandle(snapshot);
    return !file->empty();
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

// The next field of `text` from `*start`, up to `separator` or the end.
std::wstring field(const std::wstring &text, size_t *start, wchar_t separator)
{
    size_t end = text.find(separator, *start);
    if (end == std::wstring::npos)
        end = text.size();
    std::wstring value = text.substr(*start, end - *start);
    *start = end + 1;
    return value;
}

// The package's own key, where an installation that stopped after the
// earlier version's removal keeps its folder (InstallDirUnfinished) for the
// next try: that removal took the earlier version's InstallDir, and the
// rollback takes the new one's.
HKEY packageKey()
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Atelier Additions\\Additions", 0, nullptr,
                        0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

void rememberUnfinished(const std::wstring &folder)
{
    if (HKEY key = packageKey()) {
        RegSetValueExW(key, L"InstallDirUnfinished", 0, REG_SZ,
                       reinterpret_cast<const BYTE *>(folder.c_str()),
                       static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
}

UINT refuse(MSIHANDLE installer, const std::wstring &sentence)
{
    PMSIHANDLE message = MsiCreateRecord(0);
    MsiRecordSetStringW(message, 0, sentence.c_str());
    MsiProcessMessage(installer, INSTALLMESSAGE(INSTALLMESSAGE_ERROR | MB_OK | MB_ICONWARNING),
                      message);
    return ERROR_INSTALL_FAILURE;
}

// Fails while a program holds a file of one of the folders, given as a
// list separated by semicolons; `afterwards` ends the sentence.
UINT refuseWhileRunning(MSIHANDLE installer, const std::wstring &folders,
                        const wchar_t *afterwards = L" ; rien n'a été changé.")
{
    for (size_t start = 0; start < folders.size();) {
        std::wstring folder = field(folders, &start, L';');
        while (!folder.empty() && folder.back() == L'\\')
            folder.pop_back();
        std::wstring file, program;
        if (!folder.empty() && fileInUse(folder, &file, &program))
            return refuse(installer,
                          L"Additions est ouvert sur cet ordinateur (" + program + L" utilise " +
                              file +
                              L") : fermez le jeu et « Additions - progrès » dans chaque "
                              L"session, arrêtez la classe qu'un enseignant y héberge (onglet "
                              L"« Salle »), puis relancez l'installation" +
                              afterwards);
    }
    return ERROR_SUCCESS;
}

} // namespace

// Before anything is changed: the folder chosen and the one an earlier
// version was installed in.
extern "C" __declspec(dllexport) UINT __stdcall NoProgramRunning(MSIHANDLE installer)
{
    return refuseWhileRunning(installer, property(installer, L"INSTALLDIR") + L';' +
                                             property(installer, L"REMEMBERED_FOLDER"));
}

// Run first in the installation's script, just before files are removed
// or replaced: a program started since the first check is found there. The
// data is the folder, then "|install" when the package is being installed.
extern "C" __declspec(dllexport) UINT __stdcall NoProgramRunningNow(MSIHANDLE installer)
{
    const std::wstring data = property(installer, L"CustomActionData");
    size_t start = 0;
    const std::wstring folder = field(data, &start, L'|');
    const UINT status = refuseWhileRunning(installer, folder, L".");
    if (status != ERROR_SUCCESS && start < data.size())
        rememberUnfinished(folder);
    return status;
}

// After the earlier version's removal: Windows Installer goes on when that
// removal was refused (a game started in between), which would install the
// new files beside a running game and list both versions.
extern "C" __declspec(dllexport) UINT __stdcall EarlierVersionRemoved(MSIHANDLE installer)
{
    const std::wstring products = property(installer, L"WIX_UPGRADE_DETECTED");
    for (size_t start = 0; start < products.size();) {
        const std::wstring product = field(products, &start, L';');
        if (MsiQueryProductStateW(product.c_str()) == INSTALLSTATE_DEFAULT)
            return refuse(installer,
                          L"La version d'Additions déjà installée dans " +
                              property(installer, L"INSTALLDIR") +
                              L" n'a pas pu être retirée (un programme de ce dossier s'est ouvert "
                              L"pendant l'installation) : fermez le jeu et « Additions - "
                              L"progrès » dans chaque session, puis relancez l'installation.");
    }
    return ERROR_SUCCESS;
}

namespace {

// Whether a file is the package's: the hash of its MsiFileHash row, in an
// entry "name*hash*hash*hash*hash" of the data EveryFileReplaced and
// StaleFilesRemoved are given, after the folder and '|'.
bool sameAsPackage(const std::wstring &file, const std::wstring &entry, size_t part)
{
    MSIFILEHASHINFO hash{};
    hash.dwFileHashInfoSize = sizeof hash;
    bool same = MsiGetFileHashW(file.c_str(), 0, &hash) == ERROR_SUCCESS;
    for (ULONG word : hash.dwData)
        same = same && static_cast<ULONG>(
                           std::wcstol(field(entry, &part, L'*').c_str(), nullptr, 10)) == word;
    return same;
}

// Runs `check` on each file of the data, until it fails.
template <typename Check> UINT eachFile(MSIHANDLE installer, Check check)
{
    const std::wstring data = property(installer, L"CustomActionData");
    size_t start = 0;
    const std::wstring folder = field(data, &start, L'|');
    while (start < data.size()) {
        const std::wstring entry = field(data, &start, L':');
        size_t part = 0;
        const std::wstring file = folder + field(entry, &part, L'*');
        if (const UINT status = check(file, entry, part); status != ERROR_SUCCESS) {
            rememberUnfinished(folder);
            return status;
        }
    }
    return ERROR_SUCCESS;
}

} // namespace

// Run in the script just before the files are written: a file left in the
// folder that is not the package's (an earlier try stopped half-way) goes
// first, since Windows Installer keeps a file of the same version; one that
// a program holds stops the installation before anything is written.
extern "C" __declspec(dllexport) UINT __stdcall StaleFilesRemoved(MSIHANDLE installer)
{
    return eachFile(
        installer,
        [installer](const std::wstring &file, const std::wstring &entry, size_t part) -> UINT {
            if (GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES ||
                sameAsPackage(file, entry, part) || DeleteFileW(file.c_str()))
                return ERROR_SUCCESS;
            return refuse(installer, file + L" est utilisé par un programme : fermez le jeu et « "
                                            L"Additions - progrès » dans chaque session, puis "
                                            L"relancez l'installation.");
        });
}

// Run in the script once the files are written: a program started from the
// folder during the installation holds a file Windows could not replace,
// which stays the earlier version's until the next restart. Its failure
// asks for the installation again, which replaces the rest, in the same
// folder.
extern "C" __declspec(dllexport) UINT __stdcall EveryFileReplaced(MSIHANDLE installer)
{
    const UINT status = eachFile(installer, [installer](const std::wstring &file,
                                                        const std::wstring &entry, size_t part) {
        return sameAsPackage(file, entry, part)
                   ? static_cast<UINT>(ERROR_SUCCESS)
                   : refuse(installer,
                            file + L" n'a pas pu être remplacé (un programme l'utilisait pendant "
                                   L"l'installation) : fermez le jeu et « Additions - progrès » "
                                   L"dans chaque session, puis relancez l'installation.");
    });
    if (status == ERROR_SUCCESS) {
        if (HKEY key = packageKey()) {
            RegDeleteValueW(key, L"InstallDirUnfinished");
            RegCloseKey(key);
        }
    }
    return status;
}
