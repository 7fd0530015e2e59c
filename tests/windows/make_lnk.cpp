// make_lnk.exe <lnk> <target> <start in> [<lnk> <target> <start in>]...: saves each
// shortcut through the shell's IShellLinkW and IPersistFile, from a Target and a Start
// in as a user types them into a shortcut's Properties. The Target is split as the
// shell splits a command: PathGetArgsW's arguments, and the rest without its quotes.
// Exit code: 0 when every shortcut was saved, 1 when one was not, 2 on bad arguments.
#include <windows.h>
// After windows.h, which they need.
#include <shlobj.h>
#include <shlwapi.h>

#include <cstdio>
#include <string>

static HRESULT SaveShortcut(const wchar_t* lnk, std::wstring target, const wchar_t* startIn) {
    const std::wstring arguments = PathGetArgsW(target.c_str());
    PathRemoveArgsW(&target[0]);
    PathUnquoteSpacesW(&target[0]);
    IShellLinkW* link = nullptr;
    IPersistFile* file = nullptr;
    HRESULT result = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IShellLinkW, reinterpret_cast<void**>(&link));
    if (SUCCEEDED(result) && SUCCEEDED(result = link->SetPath(target.c_str())) &&
        SUCCEEDED(result = link->SetArguments(arguments.c_str())) &&
        SUCCEEDED(result = link->SetWorkingDirectory(startIn)) &&
        SUCCEEDED(result =
                      link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        result = file->Save(lnk, TRUE);
        file->Release();
    }
    if (link != nullptr) {
        link->Release();
    }
    return result;
}

int main() {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr || count < 4 || count % 3 != 1) {
        fprintf(stderr,
                "usage: make_lnk <lnk> <target> <start in> [<lnk> <target> <start in>]...\n");
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int result = 0;
    for (int i = 1; i < count; i += 3) {
        if (FAILED(SaveShortcut(arguments[i], arguments[i + 1], arguments[i + 2]))) {
            fprintf(stderr, "make_lnk: not saved: %ls\n", arguments[i]);
            result = 1;
        }
    }
    CoUninitialize();
    return result;
}
