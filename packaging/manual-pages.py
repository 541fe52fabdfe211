#!/usr/bin/env python3
"""Manual pages made from the tools' own --help, so that a page and the help cannot drift.

    manual-pages.py cli  KALVORA-CLI  VERSION OUT     kalvora-cli(1), every command
    manual-pages.py conf KALVORA-CLI  VERSION OUT     kalvora.conf(5), the options of `log`
    manual-pages.py plot KALVORA-PLOT VERSION OUT     kalvora-plot(1), the chart and its commands
    manual-pages.py options PAGE                      the options a page documents, one a line

A help text has a usage line, paragraphs of description, and blocks headed by a line that ends
in ":" ("Options:", "Exit status:", "Commands:"). An option entry starts with "  -", its names
and value stand apart from its description by two spaces or more, or on a line of their own.
"""
import os
import re
import subprocess
import sys


def run_help(program, *arguments):
    environment = dict(os.environ, QT_QPA_PLATFORM="offscreen", LC_ALL="C.UTF-8")
    return subprocess.run([program, *arguments, "--help"], check=True, capture_output=True,
                          text=True, env=environment).stdout


def roff(text):
    """Escapes running text for roff."""
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return re.sub(r"^([.'])", r"\\&\1", text, flags=re.M)


class Help:
    def __init__(self, text):
        lines = text.rstrip("\n").split("\n")
        self.usage = lines[0].removeprefix("Usage: ").strip()
        self.description = []  # paragraphs, each a list of lines
        self.blocks = {}        # heading -> lines
        self.options = []       # (names as written, value, description)
        heading = None
        paragraph = []
        for line in lines[1:]:
            if re.fullmatch(r"[A-Z][A-Za-z ]*:", line):
                heading = line[:-1]
                self.blocks[heading] = []
                continue
            if heading is None:
                if line.strip():
                    paragraph.append(line)
                elif paragraph:
                    self.description.append(paragraph)
                    paragraph = []
            elif line.strip() or self.blocks[heading]:
                self.blocks[heading].append(line)
        if paragraph:
            self.description.append(paragraph)
        for heading, block in list(self.blocks.items()):
            while block and not block[-1].strip():
                block.pop()
            # A paragraph after a block belongs to the description's end.
            if "" in block:
                cut = block.index("")
                self.description.extend(
                    p.split("\n") for p in "\n".join(block[cut + 1:]).split("\n\n") if p.strip())
                del block[cut:]
        for heading in ("Options", "Options of every command"):
            self.options += parse_options(self.blocks.get(heading, []))


def parse_options(block):
    options = []
    for line in block:
        if line.startswith("  -"):
            head, _, rest = line.strip().partition("  ")
            names = []
            value = ""
            for part in head.split(", "):
                name, _, part_value = part.partition(" ")
                names.append(name)
                value = part_value.strip() or value
            options.append([names, value, rest.strip()])
        elif options and line.startswith("    "):
            options[-1][2] = (options[-1][2] + " " + line.strip()).strip()
    return options


def paragraph_roff(lines):
    # Indented lines (lists, examples) keep their breaks; the rest is running text.
    if any(line.startswith(" ") for line in lines):
        return ".PP\n.nf\n" + roff("\n".join(lines)) + "\n.fi\n"
    return ".PP\n" + roff(" ".join(line.strip() for line in lines)) + "\n"


def option_roff(names, value, description, as_key=False):
    if as_key:
        tag = "\\fB%s\\fR" % roff(names[-1].lstrip("-"))
        if value:
            tag += "=\\fI%s\\fR" % roff(value)
    else:
        tag = ", ".join("\\fB%s\\fR" % roff(name) for name in names)
        if value:
            tag += " \\fI%s\\fR" % roff(value)
    return ".TP\n%s\n%s\n" % (tag, roff(description))


def header(name, section, version, summary):
    return ('.TH %s %s "" "Kalvora %s" "%s"\n.SH NAME\n%s \\- %s\n'
            % (name.upper(), section, version,
               "File Formats" if section == "5" else "User Commands", roff(name), roff(summary)))


def block_roff(lines):
    return ".nf\n" + roff("\n".join(line[2:] if line.startswith("  ") else line
                                    for line in lines)) + "\n.fi\n"


def command_names(top):
    names = []
    for line in top.blocks.get("Commands", []):
        match = re.match(r"^  ([a-z][a-z-]+)", line)
        if match and match.group(1) not in names:
            names.append(match.group(1))
    return names


def cli_page(program, version):
    top = Help(run_help(program))
    page = header("kalvora-cli", "1", version,
                  "log and control climatic test chambers from the command line")
    page += ".SH SYNOPSIS\n.B kalvora\\-cli\n\\fICOMMAND\\fR [\\fIoptions\\fR] [\\fIarguments\\fR]\n"
    page += ".SH DESCRIPTION\n" + "".join(paragraph_roff(p) for p in top.description)
    page += ".SH COMMANDS\n"
    for command in command_names(top):
        sub = Help(run_help(program, command))
        page += ".SS %s\n" % roff(sub.usage)
        page += "".join(paragraph_roff(p) for p in sub.description)
        for heading, block in sub.blocks.items():
            if heading != "Options":
                page += ".PP\n%s:\n%s" % (roff(heading), block_roff(block))
        page += ".PP\nOptions:\n.RS\n"
        page += "".join(option_roff(*option) for option in sub.options)
        page += ".RE\n"
    page += ".SH OPTIONS\n" + "".join(option_roff(*option) for option in top.options)
    page += ".SH EXIT STATUS\n" + paragraph_roff(
        [line.strip() for line in top.blocks.get("Exit status", [])])
    page += """.SH ENVIRONMENT
.TP
\\fBKALVORA_COM\\fIn\\fR
The device that port COM\\fIn\\fR opens, before the mappings of the files below.
.TP
\\fBQT_LOGGING_RULES\\fR
"kalvora.line.debug=true" traces every frame on the line to standard error.
.SH FILES
.TP
.I /etc/kalvora/\\fIinstance\\fP.conf
The options of \\fBkalvora\\-cli log\\fR for the unit \\fBkalvora\\-log@\\fIinstance\\fR; see
\\fBkalvora.conf\\fR(5).
.TP
.I ~/.config/kalvora/ports.conf, /etc/kalvora/ports.conf
Port mappings, lines COM\\fIn\\fR=\\fIDEVICE\\fR.
.TP
.I /etc/kalvora/audit.conf
The lab's audit trail of writes (audit=on, audit\\-reason=required, audit\\-dir=); see
.I /usr/share/doc/kalvora/audit.md.
.TP
.I /usr/share/doc/kalvora/quickstart.md
From the package to a running logging service.
.SH SEE ALSO
.BR kalvora.conf (5),
.BR kalvora (1),
.BR kalvora\\-plot (1),
.BR kalvora\\-chamber\\-sim (1)
"""
    return page


def conf_page(program, version):
    log = Help(run_help(program, "log"))
    page = header("kalvora.conf", "5", version,
                  "options file of the Kalvora logging service (kalvora-cli log)")
    page += ".SH SYNOPSIS\n/etc/kalvora/\\fIinstance\\fR.conf\n"
    page += """.SH DESCRIPTION
The logging service \\fBkalvora\\-log@\\fIinstance\\fR runs \\fBkalvora\\-cli log \\-\\-config
/etc/kalvora/\\fIinstance\\fB.conf\\fR. The file holds the options of \\fBkalvora\\-cli log\\fR,
one a line, with or without the leading dashes: \\fBperiod=4\\fR, \\fB\\-\\-period 4\\fR. A flag
stands alone or takes yes/no, true/false or 1/0 (\\fBcsv\\fR, \\fBcsv=no\\fR). A line starting
with "#" is a comment. \\fBchambers=\\fR gives the list of chambers. Options given on the
command line win over the file's. A value the option refuses, and an unknown option, stop the
start with exit status 2, naming the file and the line.
.PP
\\fBport=\\fR and \\fBchambers=\\fR must be set: without \\fBport=\\fR the logger opens COM1,
which is /dev/ttyS0. Name a USB adapter by its /dev/serial/by\\-id/ path, which survives a
replug.
.SH THE LOGGER
"""
    page += "".join(paragraph_roff(p) for p in log.description)
    page += ".SH OPTIONS\n"
    page += "".join(option_roff(*option, as_key=True) for option in log.options
                    if option[0][-1] not in ("--help", "--config"))
    page += """.SH EXAMPLE
.nf
# chambers on the first bus
port=/dev/serial/by\\-id/usb\\-FTDI_USB\\-RS485_Cable_XXXXXXXX\\-if00\\-port0
chambers=1,3,5\\-8
period=4
record\\-every=60
csv
http=127.0.0.1:9731
alarm=* silent 5m
alarm=1,3 high 60 delay=2m
alarm\\-mail=duty@example.org
smtp=smtp://mail.example.org:587
smtp\\-auth=/etc/kalvora/smtp\\-auth
.fi
.SH FILES
.TP
.I /etc/kalvora/example.conf
A commented example.
.TP
.I /var/lib/kalvora/\\fIinstance\\fP/
The logs, readings CSV files and events journal of the service, readable by the group
\\fBkalvora\\fR.
.SH SEE ALSO
.BR kalvora\\-cli (1),
.BR systemctl (1),
.BR journalctl (1)
"""
    return page


def plot_page(program, version):
    top = Help(run_help(program))
    page = header("kalvora-plot", "1", version,
                  "chart the temperature logs of climatic test chambers, and test reports")
    page += ".SH SYNOPSIS\n.B kalvora\\-plot\n[\\fIoptions\\fR] [\\fIFILE\\fR...]\n"
    for command in re.findall(r"kalvora-plot ([a-z]+) --help", run_help(program)):
        page += ".br\n.B kalvora\\-plot %s\n[\\fIoptions\\fR] ...\n" % roff(command)
    page += ".SH DESCRIPTION\n" + "".join(paragraph_roff(p) for p in top.description)
    page += ".SH OPTIONS\n" + "".join(option_roff(*option) for option in top.options)
    for heading, block in top.blocks.items():
        if heading not in ("Options", "Exit status"):
            page += ".SH %s\n%s" % (roff(heading.upper()), block_roff(block))
    commands = sorted(set(re.findall(r"kalvora-plot ([a-z]+) --help", run_help(program))))
    if commands:
        page += ".SH COMMANDS\n"
    for command in commands:
        sub = Help(run_help(program, command))
        page += ".SS %s\n" % roff(sub.usage)
        page += "".join(paragraph_roff(p) for p in sub.description)
        page += ".PP\nOptions:\n.RS\n" + "".join(option_roff(*o) for o in sub.options) + ".RE\n"
    if "Exit status" in top.blocks:
        page += ".SH EXIT STATUS\n" + paragraph_roff(
            [line.strip() for line in top.blocks["Exit status"]])
    page += ".SH SEE ALSO\n.BR kalvora\\-cli (1),\n.BR kalvora (1)\n"
    return page


def documented_options(path):
    """The option names a page documents: --name in a .TP tag, or name= in kalvora.conf(5)."""
    text = open(path, encoding="utf-8").read()
    names = set()
    for tag in re.findall(r"^\.TP\n(.*)$", text, flags=re.M):
        for match in re.finditer(r"\\fB((?:\\-)*[a-z][a-z0-9\\-]*)\\fR", tag):
            name = match.group(1).replace("\\-", "-")
            names.add(name if name.startswith("-") else "--" + name)
    return sorted(names)


def main():
    kind = sys.argv[1]
    if kind == "options":
        print("\n".join(documented_options(sys.argv[2])))
        return
    program, version, out = sys.argv[2:5]
    make = {"cli": cli_page, "conf": conf_page, "plot": plot_page}[kind]
    with open(out, "w", encoding="utf-8") as page:
        page.write(make(program, version))


if __name__ == "__main__":
    main()
