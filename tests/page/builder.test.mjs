// The command-builder page's pure functions, run in Node as the page runs them:
// the page's one script is evaluated in a fresh context, without a document.
import { test } from "node:test";
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import vm from "node:vm";

const root = new URL("../../", import.meta.url);
const html = readFileSync(new URL("src/page/kelvor-command-builder.html", root), "utf8");
const scripts = [...html.matchAll(/<script>([\s\S]*?)<\/script>/g)].map((match) => match[1]);
const page = vm.createContext({}); vm.runInContext(scripts[0], page);
// Plain data out of the page's context, so deepEqual compares values, not realms.
const run = (code) => JSON.parse(JSON.stringify(vm.runInContext(code, page)) ?? "null");
const call = (name, ...args) => JSON.parse(JSON.stringify(vm.runInContext(name, page)(...args)));
// The README's one line that sets a task's priority: the page must show the same.
const readmeTaskCommand = readFileSync(new URL("README.md", root), "utf8").match(/^\$t = Get-ScheduledTask.*$/m)[0];
const range = (from, to, step = 1) => Array.from({ length: Math.floor((to - from) / step) + 1 }, (_, i) => from + i * step);

test("one self-contained file that asks for nothing", () => {
  assert.equal(scripts.length, 1);
  assert.ok(Buffer.byteLength(html) <= 40960, `${Buffer.byteLength(html)} bytes`);
  assert.doesNotMatch(html, /<[^>]*\s(src|href|action|srcset|poster)=|@import|\burl\(|<(link|iframe|img|object|embed)\b|fetch\(|XMLHttpRequest|WebSocket|sendBeacon/i);
});

test("the facts kelvor decides by are those of tests/data/facts.def", () => {
  const facts = readFileSync(new URL("tests/data/facts.def", root), "utf8");
  const rows = (macro) => [...facts.matchAll(new RegExp(`^${macro}\\((\\w+), (\\w+)\\)`, "gm"))].map((m) => [m[1], Number(m[2])]);
  const limits = Object.fromEntries(rows("KELVOR_LIMIT"));
  assert.deepEqual([run("LONGEST_DELAY"), run("HIGHEST_CPU")], [limits.longest_delay, limits.highest_cpu]);
  assert.deepEqual(run("PRIORITY_LEVELS").map((p) => [String(p.level), p.win32Class]), rows("KELVOR_PRIORITY_CLASS"));
  assert.equal(call("maskOf", [limits.highest_cpu]), 2 ** limits.highest_cpu);
  assert.throws(() => page.maskOf([limits.highest_cpu + 1]));
});

test("the mask in kelvor's decimal and start /affinity's hexadecimal", () => {
  for (const [cpus, mask, hex] of [
    [[0], 1, "1"], [[0, 1], 3, "3"], [[2, 3], 12, "C"], [range(0, 7), 255, "FF"], [[1, 1, 0], 3, "3"], [["4", "5"], 48, "30"],
    [range(0, 14, 2), 21845, "5555"], [range(16, 19), 983040, "F0000"], [range(16, 30), 2147418112, "7FFF0000"], [range(0, 30), 2147483647, "7FFFFFFF"],
  ]) assert.deepEqual([call("maskOf", cpus), call("hexOf", mask)], [mask, hex], `${cpus}`);
  for (const cpus of [[31], [-1], [1.5], ["x"]]) assert.throws(() => page.maskOf(cpus), `${cpus}`);
});

// A tile as cpu/core, then P or E, then @die when not 0 and ! when it cannot be ticked.
const tileText = (t) => `${t.cpu}/${t.core}${t.kind}${t.die ? "@" + t.die : ""}${t.selectable ? "" : "!"}`;
const hybrid = { logical: 32, threadsPerCore: 2, pCores: 8, eCores: 16, dies: 1 }, twoDies = { logical: 32, threadsPerCore: 2, pCores: 0, eCores: 0, dies: 2 };
const plain = { logical: "8", threadsPerCore: "2", pCores: "", eCores: "", dies: "" };

test("CPU tiles in Task Manager's numbering", () => {
  for (const [cpu, tiles] of [
    [plain, "0/0 1/0 2/1 3/1 4/2 5/2 6/3 7/3"],
    [{ ...plain, threadsPerCore: 1, logical: 4 }, "0/0 1/1 2/2 3/3"],
    [hybrid, range(0, 15).map((n) => `${n}/${n >> 1}P`).concat(range(16, 31).map((n) => `${n}/${n - 8}E${n > 30 ? "!" : ""}`)).join(" ")],
    [{ logical: 20, threadsPerCore: 2, pCores: 6, eCores: 8, dies: 1 }, "0/0P 1/0P 10/5P 11/5P 12/6E 19/13E"],
    [twoDies, "0/0 1/0 14/7 15/7 16/8@1 17/8@1 30/15@1 31/15@1!"],
  ]) {
    const all = call("topology", cpu).map(tileText);
    assert.equal(all.length, Number(cpu.logical));
    assert.deepEqual(all.filter((t) => tiles.split(" ").includes(t)), tiles.split(" "), JSON.stringify(cpu));
  }
  for (const [cpu, field] of [
    [{ ...plain, logical: "7" }, "threads-per-core"], [{ ...plain, logical: "65" }, "logical"], [{ ...plain, logical: "" }, "logical"], [{ ...hybrid, eCores: 15 }, "logical"],
    [{ ...plain, threadsPerCore: "0" }, "threads-per-core"], [{ ...plain, pCores: "x" }, "p-cores"], [{ ...plain, eCores: "-1" }, "e-cores"], [{ ...plain, dies: "3" }, "dies"],
  ]) assert.deepEqual([Object.keys(call("topologyErrors", cpu)), call("topology", cpu)], [[field], []], JSON.stringify(cpu));
});

test("every quick pick", () => {
  for (const [cpu, name, cpus] of [
    [hybrid, "all", range(0, 30)], [hybrid, "p", range(0, 15)], [hybrid, "e", range(16, 30)],
    [hybrid, "one-per-core", range(0, 14, 2).concat(range(16, 30))], [hybrid, "all-but-0", range(1, 30)],
    [hybrid, "first-die", range(0, 30)], [twoDies, "first-die", range(0, 15)], [twoDies, "one-per-core", range(0, 30, 2)],
    [plain, "p", []], [plain, "e", []], [plain, "one-per-core", [0, 2, 4, 6]], [plain, "all-but-0", range(1, 7)],
  ]) assert.deepEqual(call("quickPick", name, call("topology", cpu)), cpus, `${name} of ${JSON.stringify(cpu)}`);
  assert.throws(() => page.quickPick("none", []));
});

const base = { cpus: [0, 1], priority: "5", delay: "1000", kelvor: "C:\\Tools\\kelvor.exe", program: "C:\\Games\\game.exe", arguments: "", folder: "" };
const kelvorAt = '"C:\\Tools\\kelvor.exe" 3 5 1000 ';

test("the lines for a shortcut, a .bat file and Task Scheduler", () => {
  // [fields that differ, target command line, Start in, its .bat form if not the same, warnings]
  for (const [fields, cmdl, startIn, batCmdl, warnings = 0] of [
    [{ program: "C:\\Program Files (x86)\\Some Game\\game.exe", arguments: "-fast" }, '"C:\\Program Files (x86)\\Some Game\\game.exe" -fast', "C:\\Program Files (x86)\\Some Game"],
    [{ arguments: "-p 100% %PATH%" }, '"C:\\Games\\game.exe" -p 100% %PATH%', "C:\\Games", '"C:\\Games\\game.exe" -p 100%% %%PATH%%', 1],
    [{ program: "C:\\R&D\\game.exe", arguments: 'a&b "c&d"' }, '"C:\\R&D\\game.exe" a&b "c&d"', "C:\\R&D", '"C:\\R&D\\game.exe" a^&b "c&d"'],
    [{ arguments: 'x^y "^" Hi!' }, '"C:\\Games\\game.exe" x^y "^" Hi!', "C:\\Games", '"C:\\Games\\game.exe" x^^y "^" Hi!'],
    [{ arguments: 'a|b <c> "|<>" >log' }, '"C:\\Games\\game.exe" a|b <c> "|<>" >log', "C:\\Games", '"C:\\Games\\game.exe" a^|b ^<c^> "|<>" ^>log'],
    [{ arguments: '--name "Big \\"Boss\\"" x&y' }, '"C:\\Games\\game.exe" --name "Big \\"Boss\\"" x&y', "C:\\Games", '"C:\\Games\\game.exe" --name "Big \\"Boss\\"" x^&y'],
    [{ program: "C:\\Łódź\\app.exe", arguments: "Ж 東京" }, '"C:\\Łódź\\app.exe" Ж 東京', "C:\\Łódź"],
    [{ program: "C:\\x y\\a.bat", arguments: '"arg"' }, 'cmd /c ""C:\\x y\\a.bat" "arg""', "C:\\x y"],
    [{ program: "C:\\s\\Run.CMD", arguments: "a&b 5%" }, 'cmd /c ""C:\\s\\Run.CMD" a^&b 5%"', "C:\\s", 'cmd /c ""C:\\s\\Run.CMD" a^&b 5%%"'],
    [{ program: '  "C:\\Games\\game.exe" ', folder: ' "D:\\Saves\\" ' }, '"C:\\Games\\game.exe"', "D:\\Saves"],
    [{}, '"C:\\Games\\game.exe"', "C:\\Games"], [{ program: "C:\\game", folder: "" }, '"C:\\game"', "C:\\"],
    [{ program: "\\\\pc\\share\\old.COM", arguments: "  " }, '"\\\\pc\\share\\old.COM"', "\\\\pc\\share"],
    [{ program: "C:\\Games\\" + "g".repeat(220) + ".exe" }, `"C:\\Games\\${"g".repeat(220)}.exe"`, "C:\\Games", undefined, 1],
  ]) {
    const lines = call("buildLines", { ...base, ...fields });
    const start = `start "" /D "${startIn}" ${kelvorAt}${batCmdl ?? cmdl}`;
    assert.deepEqual({ ...lines.shortcut, warnings: lines.shortcut.warnings.length }, { target: kelvorAt + cmdl, startIn, warnings }, JSON.stringify(lines));
    assert.equal(lines.bat, ["@echo off", "setlocal DisableDelayedExpansion", ...(/[^\x00-\x7F]/.test(start) ? ["chcp 65001 >nul"] : []), start, ""].join("\r\n"));
    assert.deepEqual({ ...lines.task, note: "", mask: lines.mask, hex: lines.hex }, { program: "C:\\Tools\\kelvor.exe", arguments: `3 5 1000 ${cmdl}`, startIn, note: "", mask: 3, hex: "3" });
    assert.ok(lines.task.note.startsWith("A task runs at priority 7, the Below normal class") && lines.task.note.endsWith(readmeTaskCommand), lines.task.note);
  }
});

test("every refusal is one sentence by its field, and no line", () => {
  const longest = 32766 - (kelvorAt + '"C:\\Games\\game.exe" ').length;
  assert.equal(call("buildLines", { ...base, arguments: "x".repeat(longest) }).shortcut.target.length, 32766);
  for (const [field, values] of Object.entries({
    program: ["C:\\Games\\game.lnk", "C:\\Games\\Site.URL", "steam://rungameid/1", "https://example.com/game.exe", "C:\\Games\\", "game.exe", "Games\\game.exe",
      "C:game.exe", "C:\\Games\\notes.txt", " ", "C:\\a|b.exe", '"C:\\a"b.exe"'],
    cpus: [[], [0, 31]], priority: ["0", "7", ""], delay: ["60001", "-1", "1.5", "", "1e3"], arguments: ["a\nb", "a\r", "a\0", "x".repeat(longest + 1)],
    folder: ["C:\\x\n", "Games", "C:\\G<1>"], kelvor: ["C:\\Tools\\kelvor", "kelvor.exe", "C:\\Tools\\kelvor.bat", ""],
  })) {
    for (const value of values) {
      const lines = call("buildLines", { ...base, [field]: value });
      assert.deepEqual(Object.entries(lines).map(([key, errors]) => [key, Object.keys(errors)]), [["errors", [field]]], `${field}: ${value}`);
      assert.match(lines.errors[field], /^((?![.!?] )[^\n])+\.$/, "one sentence");
    }
  }
});
