#!/usr/bin/python3
"""The manual pages and the programs' own help agree.

Arguments, one group per page:
  @page FILE [@commands] @run PROGRAM ARG... [@run PROGRAM ARG...] ...
Every option the help prints must be in the page and every option of the page in the help (a page that
keeps an option the program dropped misleads as much as one that misses a new one); options written after
another program's name on a line (an example running kestctl in kest-sim's page) are that program's. With @commands the
page's command list (tags of the КОМАНДЫ section) and the commands the help names must be the same.
"""
import re
import subprocess
import sys

OPTION = re.compile(r"(?<![\w-])--[a-z0-9][a-z0-9-]*")
WORD = r"[a-z][a-z0-9]*(?:-[a-z0-9]+)*"


def roff_to_text(line):
    """What a reader sees of one roff line, fonts and escapes gone."""
    line = re.sub(r"\\f(\(..|\[[^\]]*\]|.)", "", line)
    line = re.sub(r"\\\(..", " ", line)
    return line.replace("\\-", "-").replace("\\&", "").replace("\\e", "\\")


PROGRAM = re.compile(r"(?<![\w/-])(kestmanager|kestctl|kest-sim|xvfb-run)(?![\w-])")


def own_options(text, program):
    """The options a line gives its page's program: those after another program's name are that program's."""
    found = set()
    for line in text.splitlines():
        owner, at = program, 0
        for m in PROGRAM.finditer(line):
            if owner == program:
                found.update(OPTION.findall(line[at : m.start()]))
            owner, at = m.group(1), m.end()
        if owner == program:
            found.update(OPTION.findall(line[at:]))
    return found


def page_options_and_commands(path):
    program = re.sub(r"\.\d$", "", path.rsplit("/", 1)[-1])
    lines = open(path, encoding="utf-8").read().splitlines()
    text, section, tags = [], None, []
    for i, line in enumerate(lines):
        if line.startswith(".SH"):
            section = line[3:].strip().strip('"')
        if line.startswith(".\\\""):
            continue
        text.append(roff_to_text(line))
        if section == "КОМАНДЫ" and i > 0 and lines[i - 1].strip() == ".TP":
            tags.append(line)
    commands = set()
    for tag in tags:
        # The bold runs of a tag: ".B name" or "\fBname ...\fR"; a command is its leading plain words.
        runs = [tag[3:]] if tag.startswith(".B ") else re.findall(r"\\fB(.*?)\\f[RPI]", tag)
        for run in runs:
            m = re.match(r"\s*(%s(?: %s)*)" % (WORD, WORD), roff_to_text(run))
            if m:
                commands.add(m.group(1))
    return own_options("\n".join(text), program), commands, "\n".join(roff_to_text(t) for t in tags)


def help_commands(text):
    """Commands the help names: the "Команды:" list, "kestctl WORD [WORD]" usage lines, "WORD --option" lines."""
    found, in_list = set(), False
    for line in text.splitlines():
        if line.startswith("Команды:"):
            in_list = True
            continue
        if in_list and line and not line.startswith(" "):
            in_list = False
        m = re.match(r"  (%s)(?: |$)" % WORD, line)
        if in_list and m:
            found.add(m.group(1))
        for m in re.finditer(r"kestctl[ \t]+(?:\[[^\]]*\][ \t]+)*(%s)(?:[ \t]+(%s))?" % (WORD, WORD), line):
            found.add(m.group(1) + (" " + m.group(2) if m.group(2) else ""))
        m = re.match(r"\s+(%s) --" % WORD, line)
        if m:
            found.add(m.group(1))
    return found


def main(argv):
    groups, current = [], None
    for arg in argv:
        if arg == "@page":
            current = {"page": None, "commands": False, "runs": []}
            groups.append(current)
        elif current is None:
            sys.exit("arguments must start with @page")
        elif arg == "@commands":
            current["commands"] = True
        elif arg == "@run":
            current["runs"].append([])
        elif current["page"] is None:
            current["page"] = arg
        else:
            current["runs"][-1].append(arg)
    failures = []
    for g in groups:
        page = g["page"]
        help_text = ""
        for run in g["runs"]:
            done = subprocess.run(run, capture_output=True, text=True, timeout=60)
            if done.returncode != 0:
                failures.append("%s: exit %d from %s" % (page, done.returncode, " ".join(run)))
            help_text += done.stdout + "\n"
        in_help = set(OPTION.findall(help_text))
        # A program that answered --help has that option whether or not its text lists it.
        if any("--help" in run for run in g["runs"]):
            in_help.add("--help")
        in_page, page_commands, tag_text = page_options_and_commands(page)
        if len(in_help) < 2:
            failures.append("%s: the help printed %d options; is it the help at all?" % (page, len(in_help)))
        for o in sorted(in_help - in_page):
            failures.append("%s: option %s is in the help but not in the page" % (page, o))
        for o in sorted(in_page - in_help):
            failures.append("%s: option %s is in the page but not in the help" % (page, o))
        if g["commands"]:
            named = help_commands(help_text)
            if len(named) < 8:
                failures.append("%s: the help names only %s as commands" % (page, sorted(named)))
            for c in sorted(named):
                if not re.search(r"(?<![\w-])%s(?![\w-])" % re.escape(c), tag_text):
                    failures.append("%s: command '%s' is in the help but not in КОМАНДЫ" % (page, c))
            for c in sorted(page_commands):
                if c not in named and not any(n.startswith(c + " ") for n in named):
                    failures.append("%s: command '%s' is in КОМАНДЫ but not in the help" % (page, c))
        print("%s: %d options, %s commands" % (page, len(in_help), len(page_commands) if g["commands"] else "no"))
    for f in failures:
        print("FAIL " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
