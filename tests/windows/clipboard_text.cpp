// clipboard_text.exe <output file>: writes the clipboard's Unicode text (CF_UNICODETEXT) to
// the file as UTF-8, then empties the clipboard, so that the next reading shows only what was
// put there since. Exit code: 0 with a text, 1 when the clipboard holds none (the file is then
// empty), 2 on bad arguments, 3 when the clipboard cannot be opened or the file written.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

// Another process may hold the clipboard for a moment: a few tries.
bool OpenTheClipboard() {
    for (int tries = 0; tries < 50; ++tries) {
        if (OpenClipboard(nullptr)) {
            return true;
        }
        Sleep(20);
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: clipboard_text <output file>\n");
        return 2;
    }
    FILE* out = fopen(argv[1], "wb");
    if (out == nullptr || !OpenTheClipboard()) {
        return 3;
    }
    int result = 1;
    const HANDLE data = GetClipboardData(CF_UNICODETEXT);
    const auto* text = data != nullptr ? static_cast<const wchar_t*>(GlobalLock(data)) : nullptr;
    if (text != nullptr) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
        char* utf8 = size > 0 ? static_cast<char*>(malloc(size)) : nullptr;
        if (utf8 != nullptr &&
            WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, size, nullptr, nullptr) == size) {
            fwrite(utf8, 1, size - 1, out);  // without the terminating null
            result = 0;
        }
        free(utf8);
        GlobalUnlock(data);
    }
    EmptyClipboard();
    CloseClipboard();
    return fclose(out) == 0 ? result : 3;
}
