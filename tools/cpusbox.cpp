// cpusbox: kelvor-cpus's run on another machine's answer, without Windows.
//
//   cpusbox <answer file> [--no-clipboard]
//
// The file holds what GetLogicalProcessorInformationEx(RelationAll) wrote for a
// 32-bit process (as fuzz/corpus/cpus/ does). Prints the box kelvor-cpus would
// show, through the same run as the exe and the recording test platform.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "cpus_sequence.h"
#include "test_cpus_platform.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: cpusbox <answer file> [--no-clipboard]\n");
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "cpusbox: cannot read %s\n", argv[1]);
        return 2;
    }
    test_cpus_platform::Script script;
    script.answer.assign(std::istreambuf_iterator<char>(file), {});
    script.clipboardTakesText = !(argc > 2 && std::strcmp(argv[2], "--no-clipboard") == 0);
    test_cpus_platform::Reset(script);
    CpusMain();
    std::printf("%s\n", test_cpus_platform::Calls().back().text.c_str());
    return 0;
}
