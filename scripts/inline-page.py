#!/usr/bin/env python3
"""Makes build-web/mat2png.html, one file that works when opened from disk: web/index.html with its style sheet and
its script element replaced by the bundles esbuild made (the worker's source, the core module and the worker bundle,
as a string the page's bundle starts workers from)."""
import base64
import hashlib
import json
import pathlib
import re
import sys

LIMIT = 3 * 1024 * 1024


def no_end_tag(text, what):
    if re.search(r"</(script|style)", text, re.I):
        sys.exit(f"inline-page.py: {what} holds '</script' or '</style', which would end its element")
    return text


def source_hash(text):
    return "'sha256-" + base64.b64encode(hashlib.sha256(text.encode()).digest()).decode() + "'"


def policy(script, style):
    """What the page may load: its own script and style (by their hashes), WebAssembly, workers and pictures from
    blob: URLs it makes; nothing else, and no request to anywhere."""
    return "; ".join([
        "default-src 'none'",
        f"script-src {source_hash(script)} 'wasm-unsafe-eval'",
        f"style-src {source_hash(style)}",
        "worker-src blob:",
        "img-src blob:",
        "connect-src 'none'",
        "base-uri 'none'",
        "form-action 'none'",
    ])


def main(build, web):
    # the worker's source: the core module, then the worker bundle; "</" escaped so that no "</script>" ends the page's script
    worker = (build / "src/web/core.js").read_text() + "\n" + (build / "worker.bundle.js").read_text()
    script = ("const MAT_TOOLS_WORKER_SOURCE = " + json.dumps(worker).replace("</", "<\\/") + ";\n"
              + no_end_tag((build / "page.bundle.js").read_text(), "the page's bundle"))
    page = (web / "index.html").read_text()
    style = '<link rel="stylesheet" href="style.css">'
    entry = '<script type="module" src="main.js"></script>'
    if page.count(style) != 1 or page.count(entry) != 1:
        sys.exit(f"inline-page.py: web/index.html must name style.css and main.js once each, as {style} and {entry}")
    css = "\n" + no_end_tag((web / "style.css").read_text(), "style.css")
    script = "\n" + script
    charset = '<meta charset="utf-8">'
    if page.count(charset) != 1:
        sys.exit(f"inline-page.py: web/index.html must start its head with {charset}")
    page = page.replace(charset, charset + '\n<meta http-equiv="Content-Security-Policy" content="' + policy(script, css) + '">')
    page = page.replace(style, "<style>" + css + "</style>")
    page = page.replace(entry, "<script>" + script + "</script>")
    out = build / "mat2png.html"
    out.write_text(page)
    size = out.stat().st_size
    if size > LIMIT:
        sys.exit(f"inline-page.py: {out} is {size} bytes, more than 3 MB")
    print(f"{out}: {size} bytes")


if __name__ == "__main__":
    main(pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "build-web"), pathlib.Path(sys.argv[2] if len(sys.argv) > 2 else "web"))
