// The log: the programs' console lines and the page's own, shown once per frame and bounded.

const LOG_LINES = 3000;  // enough to read back; a long run must not grow the page without end
const logged = [];

// Lines are added once per frame: thousands of files print thousands of lines, each would lay the page out again.
export function log(stream, line) {
    if (logged.length === 0) requestAnimationFrame(showLog);
    logged.push([stream, line]);
}

function showLog() {
    const box = document.getElementById("log-lines");
    for (const [stream, line] of logged.splice(0).slice(-LOG_LINES)) {
        const entry = document.createElement("span");
        entry.className = stream;
        entry.textContent = line + "\n";
        box.append(entry);
    }
    while (box.childElementCount > LOG_LINES) box.firstElementChild.remove();
}

export const say = (line) => log("page", line);
export const count = (n, one, many = `${one}s`) => `${n} ${n === 1 ? one : many}`;
