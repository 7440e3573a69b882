// Small helpers for the document: elements made with text (never markup), links to blobs, and saving a file.

export const $ = (id) => document.getElementById(id);

export function element(tag, className, text) {
    const node = document.createElement(tag);
    if (className) node.className = className;
    if (text !== undefined) node.textContent = text;
    return node;
}

// NODE named LABEL for a screen reader, where its text alone would not say what it is for.
export const labelled = (node, label) => {
    node.setAttribute("aria-label", label);
    return node;
};

export function downloadLink(label, name, url) {
    const link = element("a", "download", label);
    link.href = url;
    link.download = name;
    return link;
}

const urls = new Map();  // element -> how to revoke each blob URL it shows, called when it goes
function own(owner, drop) {
    if (!urls.has(owner)) urls.set(owner, []);
    urls.get(owner).push(drop);
}

// A URL of DATA (a Blob, or bytes of TYPE) that lives as long as OWNER.
export function blobUrl(owner, data, type) {
    const url = URL.createObjectURL(data instanceof Blob ? data : new Blob([data], {type}));
    own(owner, () => URL.revokeObjectURL(url));
    return url;
}

// BYTES of TYPE as a blob URL made when first asked for (get) and revoked by drop, or when OWNER goes: a gallery of
// thousands keeps its PNGs as bytes in the page and hands the browser Blobs only of those it shows or saves.
export function lazyBlobUrl(owner, bytes, type) {
    let url = null;
    const drop = () => {
        if (url) URL.revokeObjectURL(url);
        url = null;
    };
    own(owner, drop);
    return {get: () => (url ||= URL.createObjectURL(new Blob([bytes], {type}))), drop};
}

// A download link for a lazy blob URL (lazyBlobUrl): it points at the URL once shown (near) and makes it when
// focused or clicked, before the browser follows it.
export function lazyDownloadLink(label, name, lazy) {
    const link = downloadLink(label, name, "#");
    const ensure = () => {
        if (!link.href.startsWith("blob:")) link.href = lazy.get();
    };
    link.addEventListener("focus", ensure);
    link.addEventListener("click", ensure);
    link.near = (near) => {
        if (near) ensure();
        else link.href = "#";
    };
    return link;
}

// The blob URLs NODE shows are revoked.
export function revoke(node) {
    for (const drop of urls.get(node) || []) drop();
    urls.delete(node);
}

export function release(node) {
    revoke(node);
    node.remove();
}

// One line of a result list (art back in, made palettes): a name, a text and perhaps a link.
export function showResult(list, className, label, text, download) {
    const item = element("li", className);
    item.append(element("span", "name", label), element("span", "reason", text));
    if (download) item.append(download);
    $(list).append(item);
    return item;
}

export function save(name, data, type) {
    const link = document.createElement("a");
    link.href = URL.createObjectURL(data instanceof Blob ? data : new Blob([data], {type}));
    link.download = name;
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 60000);  // the download reads the blob after click returns
}
