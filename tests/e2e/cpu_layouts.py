"""Made-up CPU layouts for the cpus group of e2e.py: the files of /sys that Wine 8 builds its
processor answer from, a private mount namespace that shows them to Wine, and what
kelvor-cpus.exe must make of each layout (its line, docs/CPU-LAYOUT.md, and its box's rows)."""

import zlib
from pathlib import Path


def made_up_layout(cores, shared, nodes, packages):
    """A layout: each core's CPUs (Linux's numbers are Wine's), each with its own L1 data and
    instruction caches, the `shared` unified caches as (level, KiB, CPUs), the NUMA nodes' CPUs
    and the packages'. Its caches are (level, type, KiB, CPUs)."""
    own = [(1, kind, kib, core) for core in cores
           for kind, kib in (("Data", 48), ("Instruction", 32))]
    return dict(cores=cores, caches=own + [(level, "Unified", kib, list(cpus))
                                           for level, kib, cpus in shared],
                nodes=[list(node) for node in nodes], packages=[list(p) for p in packages])


CPU_LAYOUTS = {
    "6 cores of 2 threads (cpuN and cpuN+6), an L2 each, one L3": made_up_layout(
        [[i, i + 6] for i in range(6)],
        [(2, 1280, [i, i + 6]) for i in range(6)] + [(3, 12288, range(12))], [range(12)],
        [range(12)]),
    "8 cores of 1 thread, an L2 per 2 cores, two L3 of 4 cores and 32 and 16 MiB, two packages "
    "and nodes": made_up_layout(
        [[i] for i in range(8)],
        [(2, 2048, [i, i + 1]) for i in range(0, 8, 2)] + [(3, 32768, range(4)),
                                                         (3, 16384, range(4, 8))],
        [range(4), range(4, 8)], [range(4), range(4, 8)]),
}


def cpu_list(cpus, joiner=","):
    """CPUs as ascending ranges: Linux's list ("0-3,8"); with "+", the layout line's."""
    cpus, ranges = sorted(cpus), []
    for cpu in cpus:
        if ranges and ranges[-1][1] == cpu - 1:
            ranges[-1][1] = cpu
        else:
            ranges.append([cpu, cpu])
    return joiner.join(f"{a}" if a == b else f"{a}-{b}" for a, b in ranges)


def cpu_map(cpus) -> str:
    return f"{sum(1 << cpu for cpu in cpus):08x}"


def write_sysfs(layout, root: Path):
    """The files of /sys/devices/system/cpu and .../node that Wine 8 and glibc read (seen with
    strace), as `root`/cpu and `root`/node."""
    cpus = cpu_list(cpu for core in layout["cores"] for cpu in core)
    files = {"cpu/online": cpus, "cpu/present": cpus,
             "node/online": cpu_list(range(len(layout["nodes"])))}
    files.update({f"node/node{i}/cpumap": cpu_map(node) for i, node in enumerate(layout["nodes"])})
    for core in layout["cores"]:
        for cpu in core:
            files[f"cpu/cpu{cpu}/topology/physical_package_id"] = next(
                i for i, package in enumerate(layout["packages"]) if cpu in package)
            files[f"cpu/cpu{cpu}/topology/thread_siblings"] = cpu_map(core)
            files[f"cpu/cpu{cpu}/topology/thread_siblings_list"] = cpu_list(core)
            caches = [cache for cache in layout["caches"] if cpu in cache[3]]
            for index, (level, kind, kib, sharing) in enumerate(caches):
                for name, value in (("level", level), ("type", kind), ("size", f"{kib}K"),
                                    ("shared_cpu_map", cpu_map(sharing)),
                                    ("ways_of_associativity", 8), ("coherency_line_size", 64)):
                    files[f"cpu/cpu{cpu}/cache/index{index}/{name}"] = value
    for name, value in files.items():
        (root / name).parent.mkdir(parents=True, exist_ok=True)
        (root / name).write_text(f"{value}\n")


def within_layout(root: Path):
    """The command words that run a command in a private mount namespace (unshare -m, whose
    mounts stay its own) with `root`'s tree bound over /sys/devices/system/cpu and node."""
    return ["unshare", "-m", "sh", "-c", 'mount --bind "$1/cpu" /sys/devices/system/cpu && '
            'mount --bind "$1/node" /sys/devices/system/node && shift && exec "$@"', "sh", root]


def layout_caches(layout):
    """The last-level caches: those of the highest level of data or unified caches, in the
    order of their lowest CPU."""
    top = max(level for level, kind, _, _ in layout["caches"] if kind != "Instruction")
    return sorted((cache for cache in layout["caches"] if cache[0] == top and
                   cache[1] != "Instruction"), key=lambda cache: min(cache[3]))


def layout_line(layout) -> str:
    """The line of docs/CPU-LAYOUT.md for a layout as Wine reports it: one group, every
    core of efficiency class 0."""
    text = ";".join([
        "kelvor-cpus-1", f"g={sum(len(core) for core in layout['cores'])}",
        "c=" + ",".join(f"0:{cpu_list(core, '+')}" for core in sorted(layout["cores"], key=min)),
        "l=" + ",".join(f"{level}:{kib}:{cpu_list(cpus, '+')}"
                        for level, _, kib, cpus in layout_caches(layout)),
        "n=" + ",".join(cpu_list(node, "+") for node in layout["nodes"]),
        "p=" + ",".join(cpu_list(package, "+") for package in sorted(layout["packages"], key=min))])
    return f"{text};x={zlib.crc32(text.encode()):08X}"


def layout_box_rows(layout):
    """The lines that kelvor-cpus's box shows for a layout of one kind of core, as Wine reports
    it: the counts, then each set of CPUs with the number kelvor takes for it."""
    def row(label, cpus, number=True):
        return f"  {label}: cpu{cpu_list(cpus, ', cpu')}" + (
            f" = {sum(1 << cpu for cpu in cpus)}" if number else "")
    cores, packages = layout["cores"], len(layout["packages"])
    count = sum(len(core) for core in cores)
    rows = [f"This computer has {count} CPUs (logical processors) on {len(cores)} cores" +
            (f", in {packages} packages (sockets) and" if packages > 1 else ", in") +
            " 1 processor group.", row("all CPUs", range(count))]
    if len(cores) < count:
        rows.append(row("one thread per core", [min(core) for core in cores]))
    last = layout_caches(layout)
    if len(last) > 1:
        rows += [row(f"{kib // 1024} MB L{level} cache", cpus) for level, _, kib, cpus in last]
    if len(layout["nodes"]) > 1:
        rows += [row(f"NUMA node {i}", node, False) for i, node in enumerate(layout["nodes"])]
    return rows
