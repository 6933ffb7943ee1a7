#!/usr/bin/env python3
"""Writes the benchmark corpus: forbidden-cvar lists and configs of every shape the scanner must
handle fast. The same seed always gives the same bytes.

    python3 bench/gen_corpus.py [OUT_DIR] [--seed N] [--only NAME,...]

OUT_DIR defaults to bench/corpus. Files written (about 650 MB in all):

    names-550.ini names-10000.ini names-100000.ini   lists (header + one name a line)
    patterns-550.txt ...                              the same names as " name " lines, for grep -F -f
    config-52k.cfg                                    a typical player config (CRLF)
    config-200m.cfg                                   200 MiB of such lines, about 2% of them hits
    line-100m.cfg                                     one 100 MiB line: set, near misses, a few hits
    spaces-100m.cfg                                   "set" and 100 MiB of spaces
    dense-1m.cfg                                      a million lines, each one finding
    tiny.cfg                                          one line, for list start-up costs
    dir-10k/                                          10,000 configs of about 20 KB
    names-hostile-*.ini, patterns-hostile-*.txt       lists that would make a scan slow (below)
    line-400k.cfg                                     "set a a a ... a ", 400 KB, for the staircase

The hostile lists, each the 550 names plus: "spaces", names of 1 to 100 spaces; "inner", each
name again with inner or trailing spaces; "prefix", 5,000 names sharing a 60-byte prefix; "long",
a name of 100 KB. "staircase" is 1,000 names "a", "a a", "a a a"... on its own.
"""

import argparse
import os
import random
import sys

MIB = 1 << 20

PREFIXES = [("r_", 30), ("cg_", 30), ("cl_", 10), ("com_", 4), ("sv_", 4), ("g_", 6), ("s_", 3),
            ("ui_", 3), ("b_", 2), ("m_", 2), ("in_", 2), ("net_", 1), ("snd_", 1), ("con_", 1),
            ("bot_", 1), ("pmove_", 1), ("fs_", 1), ("cm_", 1), ("hud_", 2), ("etj_", 1), ("vid_", 1)]

WORDS = """draw fov gamma picmip shadows flares fast sky lod bias max packets time nudge zoom default
binoc sniper step team chat height weapon cycle delay particles wolf marks brass gun crosshair size
health alpha color fps lag ometer speed mode primitives finish swap interval texture filter anisotropy
detail dynamic light intensity over bright bits map subdivisions vertex cull tris normals lightmap clear
depth stencil ext compressed textures simple mipmap yaw pitch roll bob up free look guid avi demo frame
rate motion jpeg pipe format console keys double tap punk buster reconnect args player curve clip hunk
megs intro played auto record update timer spawn blood gibs damage hit sounds voice sprite tracer muzzle
flash third person range angle env awareness airstrike planes error decay visual effects items foliage
world entities fog dist samples truform tess edge levels ignore hw ambient scale allow extensions uifull
screen far near rmse show sensitivity filter accel offset smooth mouse input joy stick window border
fullscreen monitor refresh sync vsync multi sample aspect ratio wide hud compass popup message lines
font shadow announcer kill feed obituaries stats banner scoreboard ping net graph lagometer predict
local fire rifle grenade panzer mortar smoke medic ammo pack revive class limbo menu cursor hint icons
objective cam lean prone sprint stamina jump crouch walk run strafe duck""".split()

KEYS = ("TAB ENTER ESCAPE SPACE a b c d e f g h i j k l m n o p q r s t u v w x y z 0 1 2 3 4 5 6 7 8 9 "
        "F1 F2 F3 F4 F5 F6 F7 F8 F9 F10 F11 F12 MOUSE1 MOUSE2 MOUSE3 MWHEELUP MWHEELDOWN KP_INS KP_END "
        "UPARROW DOWNARROW CTRL SHIFT ALT , . / ; [ ] \\ ` - =").split()

BIND_COMMANDS = ["+attack", "+attack2", "+forward", "+back", "+moveleft", "+moveright", "+movedown",
                 "+moveup", "+prone", "+sprint", "+leanleft", "+leanright", "+zoom", "+scores", "+stats",
                 "weaponbank 1", "weaponbank 2", "weaponbank 3", "weapalt", "reload", "kill",
                 "toggleconsole", "screenshotJPEG", "mp_QuickMessage", "openlimbomenu", "vote yes",
                 "vote no", "messagemode", "messagemode2", "say ^1gg", "say_team ^3need a medic",
                 "vsay_team FTFireInTheHole", "vstr w1", "vstr w2", "vstr fov1", "exec autoexec"]


def weighted(rng, pairs):
    return rng.choices([p for p, _ in pairs], weights=[w for _, w in pairs])[0]


def cvar_name(rng):
    """A name shaped like a game cvar: prefix + one to three words, camelCase or all lower."""
    words = [rng.choice(WORDS) for _ in range(rng.choices([1, 2, 3], weights=[3, 5, 2])[0])]
    if rng.random() < 0.55:
        body = words[0] + "".join(w.capitalize() for w in words[1:])
    else:
        body = "".join(words)
    if rng.random() < 0.06:
        body += str(rng.randint(0, 9))
    prefix = weighted(rng, PREFIXES)
    return (prefix + body) if rng.random() < 0.97 else body


def unique_names(rng, count, taken=()):
    taken = set(taken)
    names = []
    while len(names) < count:
        n = cvar_name(rng)
        if n not in taken:
            taken.add(n)
            names.append(n)
    return names


def make_list(rng, count):
    """Distinct names, plus the oddities a hand-kept list has: a few duplicates and a name with a
    trailing space (both count, as separate entries)."""
    names = unique_names(rng, count - 3)
    names.insert(rng.randrange(len(names)), names[rng.randrange(len(names))])
    names.insert(rng.randrange(len(names)), names[rng.randrange(len(names))])
    names.insert(rng.randrange(len(names)), names[rng.randrange(len(names))] + " ")
    return names


def value(rng):
    r = rng.random()
    if r < 0.5:
        return str(rng.randint(0, 2))
    if r < 0.8:
        return str(rng.choice([8, 16, 25, 32, 90, 100, 125, 333, 1000, 8000, 25000]))
    if r < 0.9:
        return f"{rng.randint(0, 200)}.{rng.randint(0, 9)}"
    return rng.choice(["GL_LINEAR_MIPMAP_LINEAR", "^1Player^7Name", "95.216.97.89:27960", "", "en"])


def near_miss(rng, name):
    """The listed name, but not between single spaces: case, a suffix, a prefix, quotes, a tab."""
    r = rng.random()
    if r < 0.25:
        return name.upper() if name.lower() == name else name.lower()
    if r < 0.45:
        return name + rng.choice(["2", "x", "_old", "s"])
    if r < 0.6:
        return "x" + name
    if r < 0.8:
        return '"' + name + '"'
    return name + "\t"


def cvar_line(rng, cvar):
    r = rng.random()
    if r < 0.82:
        return f'seta {cvar} "{value(rng)}"'
    if r < 0.9:
        return f'set {cvar} "{value(rng)}"'
    if r < 0.95:
        return f'bind {rng.choice(KEYS)} "set {cvar} {value(rng)}; vstr w{rng.randint(1, 9)}"'
    return f'set toggle{rng.randint(1, 99)} "set {cvar} {value(rng)}; set cg_fovch vstr fov{rng.randint(1, 3)}"'


def other_line(rng):
    r = rng.random()
    if r < 0.6:
        return f'bind {rng.choice(KEYS)} "{rng.choice(BIND_COMMANDS)}"'
    if r < 0.75:
        return "// " + " ".join(rng.choice(WORDS) for _ in range(rng.randint(2, 8)))
    if r < 0.85:
        return f"vstr {rng.choice(WORDS)}{rng.randint(1, 9)}"
    if r < 0.92:
        return f"exec {rng.choice(WORDS)}.cfg"
    return "unbindall" if r < 0.96 else ""


class LineMaker:
    """Config lines from pools: about 2% hits (a listed name set on the line), 3% near misses, and
    the rest cvars that are not listed or commands without any cvar."""

    def __init__(self, rng, listed):
        self.rng = rng
        usable = [n for n in listed if not n.endswith(" ")]
        unlisted = unique_names(rng, 6000, taken=listed)
        self.plain = [cvar_line(rng, c) for c in unlisted for _ in range(6)]
        self.plain += [other_line(rng) for _ in range(len(self.plain) // 3)]
        self.hits = [cvar_line(rng, rng.choice(usable)) for _ in range(20000)]
        self.misses = [cvar_line(rng, near_miss(rng, rng.choice(usable))) for _ in range(20000)]

    def lines(self, count):
        rng = self.rng
        pools = rng.choices([0, 1, 2], weights=[95, 2, 3], k=count)
        src = (self.plain, self.hits, self.misses)
        return [rng.choice(src[p]) for p in pools]

    def text(self, size, eol):
        out, total = [], 0
        per_block = min(4096, size // 25 + 8)
        while total < size:
            block = eol.join(self.lines(per_block)) + eol
            out.append(block)
            total += len(block)
        data = "".join(out)
        cut = data.rfind(eol, 0, size)
        return data[: cut + len(eol)] if cut > 0 else data[:size]


def write(path, text):
    with open(path, "wb") as f:
        f.write(text.encode("latin-1") if isinstance(text, str) else text)


def write_big(path, maker, size, eol):
    with open(path, "wb") as f:
        written = 0
        while written < size:
            block = maker.text(min(8 * MIB, size - written), eol).encode("latin-1")
            f.write(block)
            written += len(block)


def single_line(rng, listed, size):
    """One line: seta commands joined by "; ", listed names only as near misses, and a handful of
    real hits (one of them twice) spread through it."""
    usable = [n for n in listed if not n.endswith(" ")]
    unlisted = unique_names(rng, 4000, taken=listed)
    parts, total = [], 0
    while total < size:
        cvar = near_miss(rng, rng.choice(usable)) if rng.random() < 0.1 else rng.choice(unlisted)
        part = f'seta {cvar} "{value(rng)}";'
        parts.append(part)
        total += len(part) + 1
    hits = rng.sample(usable, 6)
    for name in hits + hits[:1]:
        parts.insert(rng.randrange(len(parts)), f"seta {name} 1;")
    return " ".join(parts).encode("latin-1")


def hostile_lists(rng, listed):
    """Lists whose names a scan could stumble on, by the name of their file."""
    prefix = "cg_" + "".join(rng.choice("abcdefghijklmnopqrstuvwxyz_") for _ in range(57))
    variants = [n + " " if i % 3 == 0 else n + " 1" if i % 3 == 1 else "seta " + n + "  "
                for i, n in enumerate(listed)]
    return {
        "spaces": listed + [" " * n for n in range(1, 101)],
        "inner": listed + variants,
        "prefix": listed + [prefix + n for n in unique_names(rng, 5000)],
        "long": listed + ["".join(rng.choice("abcdefghijklmnopqrstuvwxyz_") for _ in range(100000))],
        "staircase": [" ".join(["a"] * n) for n in range(1, 1001)],
    }


def write_list(out, name, names):
    write(out(f"names-{name}.ini"), "Forbidden cvars 3.14-06-2007\r\n" + "\r\n".join(names) + "\r\n")
    write(out(f"patterns-{name}.txt"), "".join(f" {n} \n" for n in names))


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    here = os.path.dirname(os.path.abspath(__file__))
    ap.add_argument("out", nargs="?", default=os.path.join(here, "corpus"))
    ap.add_argument("--seed", type=int, default=2007)
    ap.add_argument("--only", default="",
                    help="comma-separated subset of: lists,52k,200m,line,spaces,dense,tiny,dir,hostile")
    args = ap.parse_args()
    only = set(filter(None, args.only.split(",")))
    want = lambda what: not only or what in only
    os.makedirs(args.out, exist_ok=True)
    out = lambda name: os.path.join(args.out, name)

    lists = {}
    for count in (550, 10000, 100000):
        names = make_list(random.Random(args.seed * 1000 + count), count)
        lists[count] = names
        if want("lists"):
            write_list(out, count, names)
            print(f"names-{count}.ini", file=sys.stderr)

    listed = lists[550]
    if want("hostile"):
        for name, names in hostile_lists(random.Random(args.seed + 3), listed).items():
            write_list(out, f"hostile-{name}", names)
        write(out("line-400k.cfg"), "set " + "a " * 200000)
        print("names-hostile-*.ini", file=sys.stderr)
    rng = random.Random(args.seed)
    maker = LineMaker(rng, listed)
    if want("52k"):
        write(out("config-52k.cfg"), maker.text(52 * 1000, "\r\n"))
    if want("tiny"):
        write(out("tiny.cfg"), f"seta {listed[0]} 1\n")
    if want("200m"):
        write_big(out("config-200m.cfg"), maker, 200 * MIB, "\n")
        print("config-200m.cfg", file=sys.stderr)
    if want("line"):
        write(out("line-100m.cfg"), single_line(random.Random(args.seed + 1), listed, 100 * MIB))
        print("line-100m.cfg", file=sys.stderr)
    if want("spaces"):
        write(out("spaces-100m.cfg"), b"set" + b" " * (100 * MIB))
    if want("dense"):
        usable = [n for n in listed if not n.endswith(" ") and listed.count(n) == 1]
        drng = random.Random(args.seed + 2)
        with open(out("dense-1m.cfg"), "wb") as f:
            for start in range(0, 1000000, 10000):
                f.write("".join(f'seta {drng.choice(usable)} "{drng.randint(0, 9)}"\n'
                                for _ in range(10000)).encode("latin-1"))
        print("dense-1m.cfg", file=sys.stderr)
    if want("dir"):
        folder = out("dir-10k")
        os.makedirs(folder, exist_ok=True)
        for i in range(10000):
            sub = os.path.join(folder, f"team{i % 50:02d}")
            os.makedirs(sub, exist_ok=True)
            eol = "\r\n" if i % 3 == 0 else "\n"
            write(os.path.join(sub, f"player{i:05d}.cfg"), maker.text(20 * 1000 + rng.randint(-2000, 2000), eol))
        print("dir-10k/", file=sys.stderr)


if __name__ == "__main__":
    main()
