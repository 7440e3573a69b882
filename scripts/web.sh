#!/usr/bin/env bash
# Builds the page: the programs' core as WebAssembly (em++) and build-web/mat2png.html, one file that
# holds the page's HTML, CSS and scripts with the core inside, and works when opened from disk.
set -euo pipefail
cd "$(dirname "$0")/.."
# Debian's emscripten (its node modules come with it); zlib's inflate is built from third_party/; nothing else is fetched
scripts/install-deps.sh emscripten
# a node from elsewhere on PATH does not search Debian's module folder, where emscripten's acorn lives
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
emcmake cmake -S . -B build-web -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build-web --target mat2png_web -j"$(nproc)"
/usr/bin/python3 - <<'PY'
import json, pathlib, re, sys

build, web = pathlib.Path("build-web"), pathlib.Path("web")
# the worker's source: the core module, then web/worker.js; "</" escaped so that no "</script>" ends the page's script
worker = (build / "src/web/core.js").read_text() + "\n" + (web / "worker.js").read_text()
tools = "const MAT_TOOLS_WORKER_SOURCE = " + json.dumps(worker).replace("</", "<\\/") + ";\n" + (web / "tools.js").read_text()
(build / "tools.js").write_text(tools)

def script(match):
    name = match.group(1)
    source = (build / name) if (build / name).exists() and name == "tools.js" else (web / name)
    text = source.read_text()
    if re.search(r"</script", text, re.I):
        sys.exit(f"web.sh: {source} holds '</script', which would end its script element")
    return "<script>\n" + text + "</script>"

page = (web / "index.html").read_text()
style = '<link rel="stylesheet" href="style.css">'
if style in page:
    page = page.replace(style, "<style>\n" + (web / "style.css").read_text() + "</style>")
page = re.sub(r'<script src="([A-Za-z0-9_-]+\.js)"></script>', script, page)
if re.search(r'<script src=|<link rel="stylesheet"', page):
    sys.exit("web.sh: web/index.html names a file that is not inlined")
out = build / "mat2png.html"
out.write_text(page)
size = out.stat().st_size
if size > 3 * 1024 * 1024:
    sys.exit(f"web.sh: {out} is {size} bytes, more than 3 MB")
print(f"{out}: {size} bytes")
PY
