#!/usr/bin/env python3
"""Renders the manual's Markdown to HTML or to a man(7) page.

Usage: render.py html|man SOURCE OUTPUT [TITLE SECTION]

Only the Markdown the manual uses is understood: headings (#, ##, ###),
paragraphs, fenced code blocks, "-" lists (with indented continuation lines),
pipe tables and the inline forms `code`, **bold** and *italic*. The standard
library is enough, so the build needs nothing beyond python3.
"""
import html
import re
import sys

INLINE = re.compile(r"`([^`]+)`|\*\*([^*]+)\*\*|\*([^*\s][^*]*)\*")


def parse(text):
    """Splits the source into blocks: (kind, payload)."""
    lines = text.split("\n")
    blocks = []
    i = 0
    while i < len(lines):
        line = lines[i]
        if not line.strip():
            i += 1
        elif line.startswith("```"):
            i += 1
            body = []
            while i < len(lines) and not lines[i].startswith("```"):
                body.append(lines[i])
                i += 1
            i += 1
            blocks.append(("code", body))
        elif re.match(r"#{1,3} ", line):
            level = len(line) - len(line.lstrip("#"))
            blocks.append(("h%d" % level, line[level:].strip()))
            i += 1
        elif line.lstrip().startswith("|"):
            rows = []
            while i < len(lines) and lines[i].lstrip().startswith("|"):
                cells = [c.strip() for c in lines[i].strip().strip("|").split("|")]
                if not all(re.fullmatch(r":?-+:?", c) for c in cells):
                    rows.append(cells)
                i += 1
            blocks.append(("table", rows))
        elif line.startswith("- "):
            items = []
            while i < len(lines) and (
                lines[i].startswith("- ") or (lines[i].startswith("  ") and not lines[i].lstrip().startswith("|"))
            ):
                if lines[i].startswith("- "):
                    items.append(lines[i][2:].strip())
                else:
                    items[-1] += " " + lines[i].strip()
                i += 1
            blocks.append(("list", items))
        else:
            para = []
            while i < len(lines) and lines[i].strip() and not re.match(r"(#{1,3} |```|\s*\||- )", lines[i]):
                para.append(lines[i].strip())
                i += 1
            blocks.append(("p", " ".join(para)))
    return blocks


def html_inline(text):
    out, pos = [], 0
    for m in INLINE.finditer(text):
        out.append(html.escape(text[pos : m.start()], quote=False))
        if m.group(1) is not None:
            out.append("<code>%s</code>" % html.escape(m.group(1), quote=False))
        elif m.group(2) is not None:
            out.append("<strong>%s</strong>" % html.escape(m.group(2), quote=False))
        else:
            out.append("<em>%s</em>" % html.escape(m.group(3), quote=False))
        pos = m.end()
    out.append(html.escape(text[pos:], quote=False))
    return "".join(out)


def to_html(blocks, title):
    out = [
        "<!DOCTYPE html>",
        '<html><head><meta charset="utf-8"><title>%s</title>' % html.escape(title),
        "<style>body{max-width:50em;margin:auto;font-family:sans-serif;line-height:1.4}"
        "pre{background:#f4f4f4;padding:.5em;overflow:auto}"
        "table{border-collapse:collapse}td,th{border:1px solid #ccc;padding:.2em .5em;vertical-align:top}"
        "</style></head><body>",
    ]
    for kind, payload in blocks:
        if kind == "code":
            out.append("<pre><code>%s</code></pre>" % html.escape("\n".join(payload), quote=False))
        elif kind.startswith("h"):
            anchor = re.sub(r"[^a-z0-9]+", "-", payload.lower()).strip("-")
            out.append('<%s id="%s">%s</%s>' % (kind, anchor, html_inline(payload), kind))
        elif kind == "table":
            out.append("<table>")
            for n, row in enumerate(payload):
                cell = "th" if n == 0 else "td"
                out.append("<tr>%s</tr>" % "".join("<%s>%s</%s>" % (cell, html_inline(c), cell) for c in row))
            out.append("</table>")
        elif kind == "list":
            out.append("<ul>%s</ul>" % "".join("<li>%s</li>" % html_inline(item) for item in payload))
        else:
            out.append("<p>%s</p>" % html_inline(payload))
    out.append("</body></html>")
    return "\n".join(out) + "\n"


def man_escape(text):
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return text


def man_line(text):
    """A text line that troff will not take for a request."""
    text = man_escape(text)
    if text.startswith((".", "'")):
        text = "\\&" + text
    return text


def man_inline(text):
    out, pos = [], 0
    for m in INLINE.finditer(text):
        out.append(man_escape(text[pos : m.start()]))
        if m.group(1) is not None:
            out.append("\\fB%s\\fR" % man_escape(m.group(1)))
        elif m.group(2) is not None:
            out.append("\\fB%s\\fR" % man_escape(m.group(2)))
        else:
            out.append("\\fI%s\\fR" % man_escape(m.group(3)))
        pos = m.end()
    out.append(man_escape(text[pos:]))
    result = "".join(out)
    if result.startswith((".", "'")):
        result = "\\&" + result
    return result


def to_man(blocks, title, section):
    # The first line asks man(1) to run the page through tbl(1).
    out = ["'\\\" t", '.TH %s %s "" "RexxKTDB" "RexxKTDB manual"' % (title.upper(), section)]
    for kind, payload in blocks:
        if kind == "code":
            out.append(".PP\n.RS 4\n.nf")
            out.extend(man_line(line) for line in payload)
            out.append(".fi\n.RE")
        elif kind == "h1":
            out.append('.SH "%s"' % man_inline(payload).upper().replace('"', ""))
        elif kind in ("h2", "h3"):
            out.append('.SS "%s"' % man_inline(payload).replace('"', ""))
        elif kind == "table":
            # A tbl(1) table; every cell is a text block so that long cells wrap.
            width = len(payload[0])
            # Narrow cells are set ragged-right: justified, they could not be adjusted.
            out.append(".PP\n.ad l\n.TS\nbox;")
            out.append(" ".join(["lb"] * width))
            out.append(" ".join(["l"] * (width - 1) + ["lx"]) + " .")
            for n, row in enumerate(payload):
                row = (row + [""] * width)[:width]
                out.append("\t".join("T{\n%s\nT}" % man_inline(c) for c in row))
                if n == 0:
                    out.append("_")
            out.append(".TE\n.ad b")
        elif kind == "list":
            for item in payload:
                out.append('.IP "\\(bu" 2\n%s' % man_inline(item))
        else:
            out.append(".PP\n%s" % man_inline(payload))
    return "\n".join(out) + "\n"


def main():
    if len(sys.argv) < 4 or sys.argv[1] not in ("html", "man"):
        sys.exit("usage: render.py html|man SOURCE OUTPUT [TITLE SECTION]")
    mode, source, output = sys.argv[1:4]
    title = sys.argv[4] if len(sys.argv) > 4 else "rexxktdb"
    section = sys.argv[5] if len(sys.argv) > 5 else "3"
    with open(source, encoding="utf-8") as f:
        blocks = parse(f.read())
    text = to_html(blocks, title) if mode == "html" else to_man(blocks, title, section)
    with open(output, "w", encoding="utf-8") as f:
        f.write(text)


if __name__ == "__main__":
    main()
