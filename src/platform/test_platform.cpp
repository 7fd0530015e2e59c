#include "test_platform.h"

namespace test_platform {
namespace {

Script current;
std::vector<Call> calls;

Call& Record(Function function) {
    calls.push_back(Call{});
    calls.back().function = function;
    return calls.back();
}

}  // namespace

void Reset(const Script& script) {
    current = script;
    calls.clear();
}

const std::vector<Call>& Calls() {
    return calls;
}

std::vector<Function> Functions() {
    std::vector<Function> functions;
    for (const Call& call : calls) {
        functions.push_back(call.function);
    }
    return functions;
}

std::vector<std::string> BoxTexts() {
    std::vector<std::string> texts;
    for (const Call& call : calls) {
        if (call.function == Function::MessageBoxA) {
            texts.push_back(call.text);
        }
    }
    return texts;
}

}  // namespace test_platform

namespace platform {

using test_platform::current;
using test_platform::Function;
using test_platform::Record;

Handle GetCurrentProcess() {
    Record(Function::GetCurrentProcess);
    return current.ownProcess;
}

bool GetProcessAffinityMask(Handle process, uint32_t* processMask, uint32_t* systemMask) {
    Record(Function::GetProcessAffinityMask).process = process;
    if (!current.systemMaskKnown) {
        return false;
    }
    *processMask = current.processMask;
    *systemMask = current.systemMask;
    return true;
}

bool CreateProcessA(const char* applicationName, const char* commandLine, void* processAttributes,
                    void* threadAttributes, bool inheritHandles, uint32_t creationFlags,
                    void* environment, const char* currentDirectory, StartupRecord* startup,
                    ProcessRecord* process) {
    test_platform::Call& call = Record(Function::CreateProcessA);
    call.applicationName = applicationName;
    call.commandLine = commandLine;
    call.commandLineText = commandLine != nullptr ? commandLine : "";
    call.processAttributes = processAttributes;
    call.threadAttributes = threadAttributes;
    call.inheritHandles = inheritHandles;
    call.value = creationFlags;
    call.environment = environment;
    call.currentDirectory = currentDirectory;
    call.startup = *startup;
    if (!current.createSucceeds) {
        return false;
    }
    *process = ProcessRecord{current.targetProcess, current.targetThread, 4242, 4243};
    return true;
}

void Sleep(uint32_t milliseconds) {
    Record(Function::Sleep).value = milliseconds;
}

bool SetProcessAffinityMask(Handle process, uint32_t mask) {
    test_platform::Call& call = Record(Function::SetProcessAffinityMask);
    call.process = process;
    call.value = mask;
    return current.setAffinitySucceeds;
}

bool SetPriorityClass(Handle process, uint32_t priorityClass) {
    test_platform::Call& call = Record(Function::SetPriorityClass);
    call.process = process;
    call.value = priorityClass;
    return current.setPrioritySucceeds;
}

void MessageBoxA(Handle owner, const char* text, const char* caption, uint32_t style) {
    test_platform::Call& call = Record(Function::MessageBoxA);
    call.process = owner;
    call.text = text;
    call.caption = caption;
    call.value = style;
}

}  // namespace platform
