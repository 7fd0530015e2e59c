// box_reader.exe: reads and closes kelvor's message boxes, in the order they appear.
//
//   box_reader.exe <captions> <output file> <count> <timeout ms> [<hold ms>]
//
// <captions> is one caption or several joined by '|' (kelvor's and kelvor-cpus's). About
// every 10 ms it looks for a visible top-level window with exactly one of them (complete
// once visible: its dialog fills it in before showing it) and records it; then it waits
// <hold ms> (default 0; the screenshots use it) and presses OK. It ends after <count> boxes
// (exit code 0) or <timeout ms> after its start (exit code 1).
//
// Output (plain ASCII, one line a record, flushed at once; a box's line wrapped here):
//   format kelvor-boxes 3
//   ready                                         (it is looking)
//   box <n from 1> <ms since start> pid=<process> rect=<left>,<top>,<right>,<bottom>
//       buttons=<escaped texts joined by '|'> comctl32=<escaped paths joined by '|'>
//       clipboard=<hex> textw=<hex> text=<escaped text>
//   done <number of boxes> | timeout <number of boxes>
// comctl32: each comctl32.dll the process loaded (the common-controls 6 one from winsxs
// themes it), as UTF-8 with spaces as "\x20"; this 32-bit reader sees 32-bit processes'.
// clipboard: its Unicode text as UTF-8, which the reader then empties, so that each box
// shows what was put there since the last (kelvor-cpus's line). textw: the Unicode text as
// UTF-8; text: the ANSI text. Hex fields are "-" when empty. Escapes: '\' "\\", LF "\n",
// TAB "\t", CR "\r", '|' "\|", bytes 0x20-0x7e as is, others "\xHH".
#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kTextId = 0xFFFF;

std::string Escape(const char* text, int length, bool spaceAsHex = false) {
    std::string out;
    char hex[8];
    for (int i = 0; i < length; ++i) {
        const unsigned char byte = static_cast<unsigned char>(text[i]);
        const char* named = byte == '\\'   ? "\\\\"
                            : byte == '\n' ? "\\n"
                            : byte == '\t' ? "\\t"
                            : byte == '\r' ? "\\r"
                            : byte == '|'  ? "\\|"
                                           : nullptr;
        if (named != nullptr) {
            out += named;
        } else if (byte >= 0x20 && byte < 0x7f && !(spaceAsHex && byte == ' ')) {
            out += static_cast<char>(byte);
        } else {
            snprintf(hex, sizeof hex, "\\x%02x", byte);
            out += hex;
        }
    }
    return out;
}

// An empty text makes WideCharToMultiByte fail, leaving `out` empty.
std::string Utf8(const wchar_t* text, int length) {
    std::string out;
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (size > 0) {
        out.resize(size);
        WideCharToMultiByte(CP_UTF8, 0, text, length, &out[0], size, nullptr, nullptr);
    }
    return out;
}

std::string Hex(const std::string& bytes) {
    std::string out = bytes.empty() ? "-" : "";
    for (const char byte : bytes) {
        out += "0123456789abcdef"[static_cast<unsigned char>(byte) >> 4];
        out += "0123456789abcdef"[byte & 0xF];
    }
    return out;
}

// The full paths of every comctl32.dll loaded in the process.
std::string Comctl32Paths(DWORD pid) {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return "-";
    }
    std::string paths;
    MODULEENTRY32W module{};
    module.dwSize = sizeof module;
    for (BOOL more = Module32FirstW(snapshot, &module); more;
         more = Module32NextW(snapshot, &module)) {
        if (lstrcmpiW(module.szModule, L"comctl32.dll") == 0) {
            const std::string path = Utf8(module.szExePath, lstrlenW(module.szExePath));
            if (!paths.empty()) {
                paths += '|';
            }
            paths += Escape(path.data(), static_cast<int>(path.size()), true);
        }
    }
    CloseHandle(snapshot);
    return paths.empty() ? "-" : paths;
}

// OpenClipboard fails while another window has the clipboard open: a few tries.
std::string TakeClipboardText() {
    std::string text;
    bool open = false;
    for (int tries = 0; tries < 50 && !(open = OpenClipboard(nullptr)); ++tries) {
        Sleep(20);
    }
    if (!open) {
        return text;
    }
    const HANDLE data = GetClipboardData(CF_UNICODETEXT);
    const auto* wide = data != nullptr ? static_cast<const wchar_t*>(GlobalLock(data)) : nullptr;
    if (wide != nullptr) {
        text = Utf8(wide, lstrlenW(wide));
        GlobalUnlock(data);
    }
    EmptyClipboard();
    CloseClipboard();
    return text;
}

struct FindState {
    const char* captions;  // "|<caption>|<caption>|"
    std::vector<HWND> found;
};

BOOL CALLBACK CollectBox(HWND window, LPARAM param) {
    auto* state = reinterpret_cast<FindState*>(param);
    char caption[258] = "|";
    const int length = GetWindowTextA(window, caption + 1, 256);
    caption[length + 1] = '|';
    caption[length + 2] = '\0';
    if (strstr(state->captions, caption) != nullptr && IsWindowVisible(window)) {
        state->found.push_back(window);
    }
    return TRUE;
}

BOOL CALLBACK CollectButton(HWND child, LPARAM param) {
    char className[32];
    GetClassNameA(child, className, sizeof className);
    if (lstrcmpiA(className, "Button") == 0 && IsWindowVisible(child)) {
        char text[256];
        const int length = GetWindowTextA(child, text, sizeof text);
        auto* buttons = reinterpret_cast<std::string*>(param);
        if (!buttons->empty()) {
            *buttons += '|';
        }
        *buttons += Escape(text, length);
    }
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        fprintf(stderr,
                "usage: box_reader <captions> <output file> <count> <timeout ms> [<hold ms>]\n");
        return 2;
    }
    const std::string captions = std::string("|") + argv[1] + "|";
    FILE* out = fopen(argv[2], "wb");
    if (out == nullptr) {
        return 3;
    }
    const int wanted = atoi(argv[3]);
    const DWORD timeoutMs = strtoul(argv[4], nullptr, 10);
    const DWORD holdMs = argc > 5 ? strtoul(argv[5], nullptr, 10) : 0;
    const DWORD started = GetTickCount();

    fputs("format kelvor-boxes 3\nready\n", out);
    fflush(out);

    std::vector<HWND> seen;
    std::vector<char> text(65536);
    std::vector<wchar_t> wideText(65536);
    int count = 0;
    while (count < wanted && GetTickCount() - started < timeoutMs) {
        FindState state{captions.c_str(), {}};
        EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&state));
        bool any = false;
        for (HWND box : state.found) {
            if (std::find(seen.begin(), seen.end(), box) != seen.end()) {
                continue;
            }
            any = true;
            seen.push_back(box);
            const int length = GetDlgItemTextA(box, kTextId, text.data(), 65536);
            const int wideLength = GetDlgItemTextW(box, kTextId, wideText.data(), 65536);
            DWORD pid = 0;
            GetWindowThreadProcessId(box, &pid);
            const std::string comctl32 = Comctl32Paths(pid);
            RECT rect{};
            GetWindowRect(box, &rect);
            std::string buttons;
            EnumChildWindows(box, CollectButton, reinterpret_cast<LPARAM>(&buttons));
            ++count;
            fprintf(out,
                    "box %d %lu pid=%lu rect=%ld,%ld,%ld,%ld buttons=%s comctl32=%s clipboard=%s "
                    "textw=%s text=%s\n",
                    count, GetTickCount() - started, pid, rect.left, rect.top, rect.right,
                    rect.bottom, buttons.c_str(), comctl32.c_str(),
                    Hex(TakeClipboardText()).c_str(),
                    Hex(Utf8(wideText.data(), wideLength)).c_str(),
                    Escape(text.data(), length).c_str());
            fflush(out);
            if (holdMs > 0) {
                Sleep(holdMs);
            }
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            // Wait until the box is gone, so a later box that reuses the handle is
            // still seen as new; a box that will not close stays on the skip list.
            const DWORD closing = GetTickCount();
            while (IsWindow(box) && GetTickCount() - closing < 10000) {
                Sleep(5);
            }
            if (!IsWindow(box)) {
                seen.pop_back();
            }
            break;  // one box at a time, in the order they come
        }
        if (!any) {
            Sleep(10);
        }
    }
    fprintf(out, "%s %d\n", count >= wanted ? "done" : "timeout", count);
    fclose(out);
    return count >= wanted ? 0 : 1;
}
