// make_lnk.exe: makes shortcuts (.lnk) through the shell's own IShellLinkW, from
// a Target and a Start in text as a user enters them in a shortcut's Properties.
//
//   make_lnk.exe <list file>
//
// The list file is UTF-16LE text, three lines per shortcut, each ending in "\n":
// the .lnk path to write, the Target, the Start in folder. The Target is split the
// way the shell splits a command: the arguments are what PathGetArgsW finds, the
// program's path the rest without them and without its quotes (PathRemoveArgsW,
// PathUnquoteSpacesW). Each shortcut is saved with IPersistFile::Save.
// Exit code: 0 when every shortcut was saved, 1 when one was not, 2 on bad arguments
// or a list whose lines do not come in threes.
#include <windows.h>
// After windows.h, which they need.
#include <shlobj.h>
#include <shlwapi.h>

#include <cstdio>
#include <string>

namespace {

HRESULT SaveShortcut(const std::wstring& lnk, std::wstring target, const std::wstring& startIn) {
    const std::wstring arguments = PathGetArgsW(target.c_str());
    PathRemoveArgsW(&target[0]);
    PathUnquoteSpacesW(&target[0]);
    IShellLinkW* link = nullptr;
    IPersistFile* file = nullptr;
    HRESULT result = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IShellLinkW, reinterpret_cast<void**>(&link));
    if (SUCCEEDED(result) && SUCCEEDED(result = link->SetPath(target.c_str())) &&
        SUCCEEDED(result = link->SetArguments(arguments.c_str())) &&
        SUCCEEDED(result = link->SetWorkingDirectory(startIn.c_str())) &&
        SUCCEEDED(result =
                      link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        result = file->Save(lnk.c_str(), TRUE);
        file->Release();
    }
    if (link != nullptr) {
        link->Release();
    }
    return result;
}

}  // namespace

int main() {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    FILE* in = arguments != nullptr && count == 2 ? _wfopen(arguments[1], L"rb") : nullptr;
    if (in == nullptr) {
        fprintf(stderr, "usage: make_lnk <list file: lnk, target, start in lines, UTF-16LE>\n");
        return 2;
    }
    std::wstring text;
    for (wchar_t unit; fread(&unit, sizeof unit, 1, in) == 1;) {
        text.push_back(unit);
    }
    fclose(in);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int result = 0;
    std::wstring lines[3];
    int filled = 0;
    for (size_t start = 0, end; (end = text.find(L'\n', start)) != std::wstring::npos;
         start = end + 1) {
        lines[filled++] = text.substr(start, end - start);
        if (filled < 3) {
            continue;
        }
        filled = 0;
        if (FAILED(SaveShortcut(lines[0], lines[1], lines[2]))) {
            fprintf(stderr, "make_lnk: not saved: %ls\n", lines[0].c_str());
            result = 1;
        }
    }
    CoUninitialize();
    LocalFree(arguments);
    return filled == 0 ? result : 2;
}
