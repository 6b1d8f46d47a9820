#!/usr/bin/env python3
"""Renders the user guide (Markdown) into one HTML page for the package.

    render-guide.py GUIDE.md OUT.html VERSION

Pictures stay where the guide names them (images/NAME.png, relative), so the
package carries docs/images as images/ beside the page. A picture the guide
names but the folder lacks is an error: the package would show a hole.
"""
import html
import os
import re
import sys

import markdown

STYLE = """
body { font-family: Tahoma, Verdana, sans-serif; max-width: 52em; margin: 2em auto;
       padding: 0 1em; line-height: 1.45; color: #222; }
h1, h2, h3 { color: #1d3f73; }
h2 { border-bottom: 1px solid #ccd; padding-bottom: .2em; margin-top: 2em; }
table { border-collapse: collapse; margin: 1em 0; }
th, td { border: 1px solid #bbc; padding: .3em .6em; vertical-align: top; text-align: left; }
th { background: #eef1f7; }
code { background: #f3f3f3; padding: 0 .2em; }
pre { background: #f3f3f3; padding: .6em; overflow-x: auto; }
img { max-width: 100%; border: 1px solid #ccd; margin: .5em 0; }
.toc { background: #f7f8fb; border: 1px solid #dde; padding: .5em 1.5em; }
"""


def main():
    if len(sys.argv) != 4:
        sys.exit("usage: render-guide.py GUIDE.md OUT.html VERSION")
    source, out, version = sys.argv[1:]
    with open(source, encoding="utf-8") as f:
        text = f.read()
    base = os.path.dirname(os.path.abspath(source))
    missing = [p for p in re.findall(r"!\[[^\]]*\]\(([^)\s]+)", text)
               if not os.path.isfile(os.path.join(base, p))]
    if missing:
        sys.exit("render-guide: pictures missing: " + ", ".join(missing))
    text = text.replace("@VERSION@", version)
    md = markdown.Markdown(extensions=["tables", "toc", "fenced_code"],
                           extension_configs={"toc": {"title": "Contents"}})
    body = md.convert(text)
    title_match = re.search(r"^# (.+)$", text, re.M)
    title = title_match.group(1) if title_match else "User guide"
    page = ("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
            "<title>{}</title>\n<style>{}</style>\n</head>\n<body>\n{}\n</body>\n</html>\n"
            ).format(html.escape(title), STYLE, body)
    with open(out, "w", encoding="utf-8", newline="\r\n") as f:
        f.write(page)


if __name__ == "__main__":
    main()
