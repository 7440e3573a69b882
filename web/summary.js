// The status line after a conversion: as it was when every file converted, in a warning colour with a summary of
// the failures when some failed (the gallery shows them first, and "failures only" alone).
import {$} from "./dom.js";
import {count} from "./log.js";
import {state} from "./state.js";

const NAMED = 3;

export function showSummary(counts) {
    const status = $("status");
    if (counts.failures === 0) {
        if (status.className === "warning") {
            status.className = "ready";
            status.textContent = `${state.setName}: every file converted.`;
        }
        return;
    }
    const named = [...state.failures].slice(0, NAMED).map(([name, reason]) => `${name} (${reason})`);
    const more = state.failures.size - named.length;
    status.className = "warning";
    status.textContent = `${counts.failures} of ${count(counts.total, "file")} failed: ${named.join("; ")}`
        + `${more > 0 ? `; and ${more} more` : ""}. Tick “failures only” to see them alone.`;
}

// The name a file of the set was picked as, when Files… put it elsewhere (a palette placed under pal/).
export const pickedAs = (path) => state.picked.get(path) ?? path;
