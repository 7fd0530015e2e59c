// The command-builder page's pure functions, run in Node as the page runs them:
// the page's one script is evaluated in a fresh context, without a document.
import { test } from "node:test";
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import vm from "node:vm";
import { crc32 } from "node:zlib";

const root = new URL("../../", import.meta.url);
const html = readFileSync(new URL("src/page/kelvor-command-builder.html", root), "utf8");
const scripts = [...html.matchAll(/<script>([\s\S]*?)<\/script>/g)].map((match) => match[1]);
const page = vm.createContext({}); vm.runInContext(scripts[0], page);
// Plain data out of the page's context, so deepEqual compares values, not realms.
const run = (code) => JSON.parse(JSON.stringify(vm.runInContext(code, page)) ?? "null");
const call = (name, ...args) => JSON.parse(JSON.stringify(vm.runInContext(name, page)(...args)));
const range = (from, to, step = 1) => Array.from({ length: Math.floor((to - from) / step) + 1 }, (_, i) => from + i * step);

test("one self-contained file that asks for nothing", () => {
  assert.equal(scripts.length, 1);
  // 47 KB: the layout line's reader and the PowerShell shortcut came on top of the 40 KB page.
  assert.ok(Buffer.byteLength(html) <= 48128, `${Buffer.byteLength(html)} bytes`);
  assert.doesNotMatch(html, /<[^>]*\s(src|href|action|srcset|poster)=|@import|\burl\(|<(link|iframe|img|object|embed)\b|fetch\(|XMLHttpRequest|WebSocket|sendBeacon/i);
});

test("the facts kelvor decides by are those of tests/data/facts.def", () => {
  const facts = readFileSync(new URL("tests/data/facts.def", root), "utf8");
  const rows = (macro) => [...facts.matchAll(new RegExp(`^${macro}\\((\\w+), (\\w+)\\)`, "gm"))].map((m) => [m[1], Number(m[2])]);
  const limits = Object.fromEntries(rows("KELVOR_LIMIT"));
  assert.deepEqual([run("LONGEST_DELAY"), run("HIGHEST_CPU")], [limits.longest_delay, limits.highest_cpu]);
  assert.deepEqual(run("PRIORITY_LEVELS").map((p) => [String(p.level), p.win32Class]), rows("KELVOR_PRIORITY_CLASS"));
});

test("the mask in kelvor's decimal and start /affinity's hexadecimal", () => {
  for (const [cpus, mask, hex] of [
    [[0], 1, "1"], [[0, 1], 3, "3"], [[2, 3], 12, "C"], [range(0, 7), 255, "FF"], [[1, 1, 0], 3, "3"], [["4", "5"], 48, "30"],
    [range(0, 14, 2), 21845, "5555"], [range(16, 19), 983040, "F0000"], [range(16, 30), 2147418112, "7FFF0000"], [range(0, 30), 2147483647, "7FFFFFFF"],
  ]) assert.deepEqual([call("maskOf", cpus), call("hexOf", mask)], [mask, hex], `${cpus}`);
  for (const cpus of [[31], [-1], [1.5], ["x"]]) assert.throws(() => page.maskOf(cpus), `${cpus}`);
});

// A tile as cpu/core, its kind, $cache, @die or @group when not 0, and ! when it cannot be ticked.
const tileText = (t) => `${t.cpu}/${t.core}${t.kind}${t.cache >= 0 ? "$" + t.cache : ""}${t.die || t.group ? "@" + (t.die || t.group) : ""}${t.selectable ? "" : "!"}`;
const hybrid = { logical: 32, threadsPerCore: 2, pCores: 8, eCores: 16, dies: 1 }, twoDies = { logical: 32, threadsPerCore: 2, pCores: 0, eCores: 0, dies: 2 };
const plain = { logical: "8", threadsPerCore: "2", pCores: "", eCores: "", dies: "" };

test("CPU tiles in Task Manager's numbering, their sections and quick picks", () => {
  // [counts, some tiles, section titles, {pick: cpus}]
  for (const [cpu, tiles, sections, picks] of [
    [plain, "0/0 1/0 2/1 3/1 4/2 5/2 6/3 7/3", [""], { p: [], e: [], "one-per-core": [0, 2, 4, 6], "all-but-0": range(1, 7) }],
    [{ ...plain, threadsPerCore: 1, logical: 4 }, "0/0 1/1 2/2 3/3", [""], {}],
    [hybrid, range(0, 15).map((n) => `${n}/${n >> 1}P`).concat(range(16, 31).map((n) => `${n}/${n - 8}E${n > 30 ? "!" : ""}`)).join(" "), [""], {}],
    [{ logical: 20, threadsPerCore: 2, pCores: 6, eCores: 8, dies: 1 }, "0/0P 1/0P 10/5P 11/5P 12/6E 19/13E", [""], {}],
    [twoDies, "0/0 1/0 14/7 15/7 16/8@1 17/8@1 30/15@1 31/15@1!", ["Die 0: cpu0 to cpu15", "Die 1: cpu16 to cpu31"], { "first-die": range(0, 15), "one-per-core": range(0, 30, 2) }],
  ]) {
    const all = call("topology", cpu);
    assert.equal(all.length, Number(cpu.logical));
    assert.deepEqual(all.map(tileText).filter((t) => tiles.split(" ").includes(t)), tiles.split(" "), JSON.stringify(cpu));
    assert.deepEqual(call("tileSections", all, null).map((s) => s.title), sections);
    for (const [name, cpus] of Object.entries(picks)) assert.deepEqual(call("quickPick", name, all), cpus, `${name} of ${JSON.stringify(cpu)}`);
  }
  assert.throws(() => page.quickPick("none", []));
  for (const [cpu, field] of [
    [{ ...plain, logical: "7" }, "threads-per-core"], [{ ...plain, logical: "65" }, "logical"], [{ ...plain, logical: "" }, "logical"], [{ ...hybrid, eCores: 15 }, "logical"],
    [{ ...plain, threadsPerCore: "0" }, "threads-per-core"], [{ ...plain, pCores: "x" }, "p-cores"], [{ ...plain, eCores: "-1" }, "e-cores"], [{ ...plain, dies: "3" }, "dies"],
  ]) assert.deepEqual([Object.keys(call("topologyErrors", cpu)), call("topology", cpu)], [[field], []], JSON.stringify(cpu));
});

// kelvor-cpus.exe's line of these fields, its check computed here by zlib.
const layoutLine = (fields) => {
  const line = `kelvor-cpus-1;${fields}`;
  return `${line};x=${crc32(line).toString(16).toUpperCase().padStart(8, "0")}`;
};
const pairs = (from, to) => range(from, to, 2).map((n) => `${n}-${n + 1}`);
// docs/CPU-LAYOUT.md's example: 8 P-cores of two threads, 16 E-cores, one 36 MB L3.
const hybridLine = layoutLine(`g=32;c=${[...pairs(0, 14).map((cpus) => `1:${cpus}`), ...range(16, 31).map((n) => `0:${n}`)]};l=3:36864:0-31;n=0-31;p=0-31`);
// Sixteen cores of one class under two caches, the first of them the larger.
const twoCacheLine = layoutLine(`g=32;c=${pairs(0, 30).map((cpus) => `0:${cpus}`)};l=3:98304:0-15,3:32768:16-31;n=0-31;p=0-31`);
// Two sockets, each its own processor group, NUMA node and cache.
const twoGroupLine = layoutLine(`g=20,20;c=${pairs(0, 38).map((cpus) => `0:${cpus}`)};l=3:25600:0-19,3:25600:20-39;n=0-19,20-39;p=0-19,20-39`);
// Three classes of core, the highest (the P-core) between the others: kinds go by class, not place.
const threeClassLine = layoutLine("g=4;c=1:0,2:1-2,0:3;l=2:1536:0-3;n=0-3;p=0-3");

test("a layout line read into tiles, sections, picks and a summary", () => {
  // [line, some tiles, every pick offered as {name: cpus}, section titles, summary]
  for (const [line, tiles, picks, sections, summary] of [
    [hybridLine, "0/0P$0 1/0P$0 15/7P$0 16/8E$0 30/22E$0 31/23E$0!",
      { all: range(0, 30), p: range(0, 15), e: range(16, 30), "one-per-core": range(0, 14, 2).concat(range(16, 30)), "all-but-0": range(1, 30) },
      ["36 MB L3: cpu0 to cpu31"], "24 cores, 32 logical processors: 8 P-cores, 16 E-cores. Last-level cache: 36 MB L3 (cpu0 to cpu31)."],
    [twoCacheLine, "0/0$0 15/7$0 16/8$1 30/15$1 31/15$1!",
      { all: range(0, 30), "cache-0": range(0, 15), "cache-1": range(16, 30), "one-per-core": range(0, 30, 2), "all-but-0": range(1, 30) },
      ["96 MB L3: cpu0 to cpu15", "32 MB L3: cpu16 to cpu31"],
      "16 cores, 32 logical processors. Last-level cache: 96 MB L3 (cpu0 to cpu15); 32 MB L3 (cpu16 to cpu31)."],
    [twoGroupLine, "0/0$0 19/9$0 20/10$1@1! 39/19$1@1!",
      { all: range(0, 19), "cache-0": range(0, 19), "cache-1": [], "one-per-core": range(0, 18, 2), "all-but-0": range(1, 19) },
      ["25 MB L3: cpu0 to cpu19", "25 MB L3: cpu20 to cpu39"],
      "20 cores, 40 logical processors. Last-level cache: 25 MB L3 (cpu0 to cpu19); 25 MB L3 (cpu20 to cpu39). " +
      "2 processor groups of 20, 20 CPUs: only group 0's can be ticked. 2 NUMA nodes: cpu0 to cpu19; cpu20 to cpu39."],
    [threeClassLine, "0/0E1$0 1/1P$0 2/1P$0 3/2E0$0", { all: range(0, 3), e1: [0], p: [1, 2], e0: [3], "one-per-core": [0, 1, 3], "all-but-0": range(1, 3) },
      ["1.5 MB L2: cpu0 to cpu3"], "3 cores, 4 logical processors: 1 E-cores (class 1), 1 P-cores, 1 E-cores (class 0). Last-level cache: 1.5 MB L2 (cpu0 to cpu3)."],
  ]) {
    const { layout } = call("readLayout", line);
    const all = call("tilesFromLayout", layout);
    assert.equal(all.length, layout.groups.reduce((a, b) => a + b), line);
    assert.deepEqual(all.map(tileText).filter((t) => tiles.split(" ").includes(t)), tiles.split(" "), line);
    assert.deepEqual(call("pickList", all, layout).map((p) => p.name), Object.keys(picks), line);
    for (const [name, cpus] of Object.entries(picks)) assert.deepEqual(call("quickPick", name, all), cpus, `${name} of ${line}`);
    assert.deepEqual(call("tileSections", all, layout).map((s) => s.title), sections);
    assert.equal(call("layoutSummary", layout), summary);
  }
});

test("a layout line found in the box's text, and each kind of damage refused", () => {
  assert.deepEqual(call("readLayout", `kelvor-cpus\r\n\r\n8 P-cores, 16 E-cores\r\n${hybridLine}\r\nOn the clipboard.`), call("readLayout", hybridLine));
  assert.deepEqual(call("readLayout", `  ${hybridLine}\t`), call("readLayout", hybridLine));
  const [damaged, unknown, missing] = ["LAYOUT_DAMAGED", "LAYOUT_UNKNOWN", "LAYOUT_MISSING"].map(run);
  const good = layoutLine("g=4;c=1:0-1,0:2,0:3;l=3:8192:0-3;n=0-3;p=0-3");
  for (const [what, text, error] of [
    ["bad check", good.replace(/x=(.)/, (_, digit) => `x=${digit === "0" ? "1" : "0"}`), damaged],
    ["check in lower case", good.slice(0, -8) + good.slice(-8).toLowerCase().replace(/^[0-9]{8}$/, "zzzzzzzz"), damaged],
    ["wrong version", "kelvor-cpus-12;g=9", unknown],
    ["version not a number", layoutLine("g=4").replace("kelvor-cpus-1;", "kelvor-cpus-1b;"), damaged],
    ["no line", "CPU layout: unknown", missing],
    ["missing field", layoutLine("g=4;c=1:0-1,0:2,0:3;l=3:8192:0-3;n=0-3"), damaged],
    ["fields out of order", layoutLine("g=4;c=1:0-1,0:2,0:3;n=0-3;l=3:8192:0-3;p=0-3"), damaged],
    ["empty list", layoutLine("g=4;c=1:0-1,0:2,0:3;l=;n=0-3;p=0-3"), damaged],
    ["overlapping cores", layoutLine("g=4;c=1:0-1,0:1-2,0:3;l=3:8192:0-3;n=0-3;p=0-3"), damaged],
    ["CPU missing from the cores", layoutLine("g=4;c=1:0-1,0:2;l=3:8192:0-3;n=0-3;p=0-3"), damaged],
    ["CPU missing from the nodes", layoutLine("g=4;c=1:0-1,0:2,0:3;l=3:8192:0-3;n=0-2;p=0-3"), damaged],
    ["CPU past the last", layoutLine("g=4;c=1:0-1,0:2,0:3;l=3:8192:0-3;n=0-3;p=0-4"), damaged],
    ["bad range: backwards", layoutLine("g=4;c=1:1-0,0:2,0:3;l=3:8192:0-3;n=0-3;p=0-3"), damaged],
    ["bad range: one CPU as a-a", layoutLine("g=4;c=1:0-1,0:2-2,0:3;l=3:8192:0-3;n=0-3;p=0-3"), damaged],
    ["bad range: touching", layoutLine("g=4;c=1:0+1,0:2,0:3;l=3:8192:0-3;n=0-3;p=0-3"), damaged],
    ["bad range: leading zero", layoutLine("g=4;c=1:0-1,0:02,0:3;l=3:8192:0-3;n=0-3;p=0-3"), damaged],
    ["class above 255", layoutLine("g=4;c=256:0-1,0:2,0:3;l=3:8192:0-3;n=0-3;p=0-3"), damaged],
    ["cores out of order", layoutLine("g=4;c=0:2,1:0-1,0:3;l=3:8192:0-3;n=0-3;p=0-3"), damaged],
    ["CPU in two caches", layoutLine("g=4;c=1:0-1,0:2,0:3;l=3:8192:0-3,3:8192:3;n=0-3;p=0-3"), damaged],
    ["cache over two groups", layoutLine("g=2,2;c=0:0-1,0:2-3;l=3:8192:0-3;n=0-3;p=0-3"), damaged],
    ["core over two groups", layoutLine("g=2,2;c=0:0,0:1-2,0:3;l=3:8192:0-1,3:8192:2-3;n=0-3;p=0-3"), damaged],
    ["group over 64", layoutLine(`g=65;c=${range(0, 64).map((n) => `0:${n}`)};l=3:8192:0-64;n=0-64;p=0-64`), damaged],
    ["not ASCII", layoutLine("g=4;c=1:0-1,0:2,0:3;l=3:8192:0-3;n=0-3;p=0-3;é"), damaged],
    ["other character", layoutLine("g=4;c=1:0-1,0:2,0:3;l=3:8192:0-3;n=0-3;p=0-3,"), damaged],
    ["too long", layoutLine(`g=1;c=0:0;l=3:1:0;n=0;p=0${"+".repeat(65536)}`), damaged],
  ]) assert.deepEqual(call("readLayout", text), { error }, what);
});

const base = { cpus: [0, 1], priority: "5", delay: "1000", kelvor: "C:\\Tools\\kelvor.exe", program: "C:\\Games\\game.exe", arguments: "", folder: "" };
const kelvorAt = '"C:\\Tools\\kelvor.exe" 3 5 1000 ';
const cmd64 = '"C:\\Windows\\Sysnative\\cmd.exe" /d /s /c ';

test("the lines for a shortcut, a .bat file and Task Scheduler", () => {
  // [fields that differ, target command line, Start in, its .bat form if not the same]
  for (const [fields, cmdl, startIn, batCmdl] of [
    [{ arguments: 'a|b <c> "|<>" >log' }, '"C:\\Games\\game.exe" a|b <c> "|<>" >log', "C:\\Games", '"C:\\Games\\game.exe" a^|b ^<c^> "|<>" ^>log'],
    [{ program: "C:\\s\\Run.CMD", arguments: "a&b 5%" }, cmd64 + '""C:\\s\\Run.CMD" a^&b 5%"', "C:\\s", cmd64 + '""C:\\s\\Run.CMD" a^&b 5%%"'],
    [{ program: "C:\\s\\a.bat", windows64: false, windowsFolder: ' "D:\\WIN\\" ' }, '"D:\\WIN\\System32\\cmd.exe" /d /s /c ""C:\\s\\a.bat""', "C:\\s"],
    [{ program: "C:\\s\\a.bat", windowsFolder: "" }, cmd64 + '""C:\\s\\a.bat""', "C:\\s"],
    [{ program: '  "C:\\Games\\game.exe" ', folder: ' "D:\\Saves\\" ' }, '"C:\\Games\\game.exe"', "D:\\Saves"],
    // The Windows folder matters only to a .bat program.
    [{ windowsFolder: "Windows" }, '"C:\\Games\\game.exe"', "C:\\Games"], [{ program: "C:\\game.exe", folder: "" }, '"C:\\game.exe"', "C:\\"],
    [{ program: "\\\\pc\\share\\old.COM", arguments: "  " }, '"\\\\pc\\share\\old.COM"', "\\\\pc\\share"],
    [{ program: "C:\\" + "g".repeat(253) + ".exe" }, `"C:\\${"g".repeat(253)}.exe"`, "C:\\"],
  ]) {
    const { outputs } = call("buildLines", { ...base, ...fields });
    assert.deepEqual([outputs["shortcut-target"], outputs["shortcut-start-in"], outputs["task-arguments"], outputs["task-start-in"]],
      [kelvorAt + cmdl, startIn, `3 5 1000 ${cmdl}`, startIn], JSON.stringify(fields));
    assert.equal(outputs.bat, ["@echo off", "setlocal DisableDelayedExpansion", `start "" /D "${startIn}" ${kelvorAt}${batCmdl ?? cmdl}`, ""].join("\r\n"));
  }
  // Explorer, a 64-bit program, has no Sysnative: a .bat's shortcut takes System32's cmd.exe icon.
  assert.match(call("buildLines", { ...base, program: "C:\\s\\a.bat" }).outputs["powershell-shortcut"], /; \$s\.IconLocation = 'C:\\Windows\\System32\\cmd\.exe,0'; /);
  // The README's one line that sets a task's priority: the page must show the same.
  assert.equal(call("buildLines", base).outputs["task-priority-command"], readFileSync(new URL("README.md", root), "utf8").match(/^\$t = Get-ScheduledTask.*$/m)[0]);
});

test("warnings name what Windows would expand or cut", () => {
  const bat = { program: "C:\\s\\run.bat" };
  const startPrefix = `start "" /D "C:\\Games" ${kelvorAt}"C:\\Games\\game.exe" `;
  // [fields, {list: a pattern per warning}]
  for (const [fields, expected] of [
    [{ arguments: "-p %PATH% 100% %%" }, { shortcut: [/expand %PATH% in a shortcut's Target/], task: [/^Task Scheduler expands .*: %PATH% would become/] }],
    [{ folder: "D:\\%USERNAME%\\x" }, { task: [/Start in: %USERNAME% would become/] }],
    [{ kelvor: "%ProgramFiles%\\kelvor.exe" }, {}], [{ folder: "%TEMP%" }, {}],
    [{ kelvor: "C:\\%Tools%\\kelvor.exe" }, { shortcut: [/%Tools%/], task: [/Program\/script, .*: %Tools% would become/] }],
    [{ ...bat, arguments: "%TEMP% %%x" }, {
      shortcut: [/%TEMP%/, /^cmd\.exe expands %TEMP% when it runs run\.bat/], task: [/^Task Scheduler expands .*%TEMP%/, /^cmd\.exe expands %TEMP% /], bat: [/^cmd\.exe expands %TEMP% /] }],
    [{ ...bat, arguments: "x".repeat(8200) }, {
      shortcut: [/holds 259/, /^cmd\.exe's line would be \d+ characters, but cmd\.exe reads 8191/], task: [/8191/], bat: [/^No batch file: .*8191.* No route runs it whole, since cmd\.exe reads run\.bat's line too/] }],
    [{ ...bat, folder: "\\\\pc\\share" }, { shortcut: [/\\\\server\\share/], task: [/\\\\server\\share/], bat: [/\\\\server\\share/] }],
    [{ folder: "\\\\pc\\share" }, {}],
    [{ arguments: "x".repeat(8191 - startPrefix.length) }, { shortcut: [/259/] }],
    [{ arguments: "x".repeat(8192 - startPrefix.length) }, { shortcut: [/259/], bat: [/^No batch file: its start line would be 8192 characters.*Task Scheduler.*PowerShell/] }],
  ]) {
    const lines = call("buildLines", { ...base, ...fields });
    for (const list of ["shortcut", "task", "bat"]) {
      const want = expected[list] ?? [];
      assert.equal(lines.warnings[list].length, want.length, `${list} of ${JSON.stringify(fields).slice(0, 80)}: ${lines.warnings[list]}`);
      want.forEach((pattern, i) => assert.match(lines.warnings[list][i], pattern));
    }
    // No .bat when cmd.exe would cut its line; the shortcut and the task stay.
    if (Object.keys(lines.errors).length === 0) {
      assert.deepEqual(["bat", "task-arguments", "powershell-shortcut"].map((id) => typeof lines.outputs[id]),
        [lines.warnings.bat.some((w) => w.startsWith("No batch file")) ? "undefined" : "string", "string", "string"]);
    }
  }
});

// What each refused field leaves: the outputs that do not need it; a field not named here
// (priority, delay, arguments, the Windows folder) leaves OTHERS.
const MASK = ["mask-decimal", "mask-hex"], START_IN = ["shortcut-start-in", "task-start-in"], OTHERS = [...MASK, ...START_IN, "task-program"];
const KEPT = {
  program: [...MASK, "task-program"],
  cpus: [...START_IN, "task-program"],
  folder: [...MASK, "shortcut-target", "task-program", "task-arguments"],
  kelvor: [...MASK, ...START_IN, "task-arguments"],
};

test("every refusal is one sentence by its field, and the lines that do not need it stay", () => {
  const longest = 32766 - (kelvorAt + '"C:\\Games\\game.exe" ').length;
  assert.equal(call("buildLines", { ...base, arguments: "x".repeat(longest) }).outputs["shortcut-target"].length, 32766);
  for (const [field, values] of Object.entries({
    program: ["C:\\Games\\game.lnk", "C:\\Games\\Site.URL", "steam://rungameid/1", "https://example.com/game.exe", "C:\\Games\\", "game.exe", "Games\\game.exe",
      "C:game.exe", "C:\\Games\\notes.txt", " ", "C:\\a|b.exe", '"C:\\a"b.exe"', "C:\\game", "C:\\Games\\game", "C:\\" + "g".repeat(254) + ".exe"],
    cpus: [[], [0, 31]], priority: ["0", "7", ""], delay: ["60001", "-1", "1.5", "", "1e3"], arguments: ["a\nb", "a\r", "a\0", "x".repeat(longest + 1)],
    folder: ["C:\\x\n", "Games", "C:\\G<1>"], kelvor: ["C:\\Tools\\kelvor", "kelvor.exe", "C:\\Tools\\kelvor.bat", ""],
    "windows-folder": ["Windows", "C:Windows", "\\\\pc\\share\\Windows", "C:\\Win<dows", "C:\\Windows\n"],
  })) {
    for (const value of values) {
      const fields = field === "windows-folder" ? { program: "C:\\s\\run.bat", windowsFolder: value } : { [field]: value };
      const lines = call("buildLines", { ...base, ...fields });
      assert.deepEqual(Object.keys(lines.errors), [field], `${field}: ${value}`);
      assert.deepEqual(Object.keys(lines.outputs).sort(), [...(KEPT[field] ?? OTHERS), "task-note", "task-priority-command"].sort(), `${field}: ${value}`);
      assert.match(lines.errors[field], /^((?![.!?] )[^\n])+\.$/, "one sentence");
    }
  }
});
