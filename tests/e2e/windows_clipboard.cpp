// SPDX-License-Identifier: GPL-3.0-or-later
//
// Prints Windows' clipboard as the Windows game's end-to-end test reads it,
// under Wine: its change count, a line end, then its text in UTF-8. Wine
// hands a program's copy over to the X clipboard late and now and then
// never, so the test reads the copy where the game put it.
#include <string>
#include <windows.h>

namespace {

// The clipboard is busy while a program writes to it.
bool openClipboard()
{
    for (int attempt = 0; attempt < 40; ++attempt) {
        if (OpenClipboard(nullptr))
            return true;
        Sleep(25);
    }
    return false;
}

std::string clipboardText()
{
    const HANDLE data = GetClipboardData(CF_UNICODETEXT);
    const auto *text = data ? static_cast<const wchar_t *>(GlobalLock(data)) : nullptr;
    if (!text)
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(size > 0 ? size_t(size) : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), size, nullptr, nullptr);
    GlobalUnlock(data);
    if (!utf8.empty())
        utf8.pop_back(); // the terminating NUL
    return utf8;
}

} // namespace

int main()
{
    if (!openClipboard())
        return 1;
    // Read while the clipboard is open, so the count belongs to the text.
    const std::string shown = std::to_string(GetClipboardSequenceNumber()) + '\n' + clipboardText();
    CloseClipboard();
    DWORD written = 0;
    const bool ok = WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), shown.data(), DWORD(shown.size()),
                              &written, nullptr);
    return ok && written == shown.size() ? 0 : 1;
}
