// Small helpers for the document: elements made with text (never markup), links to blobs, and saving a file.

export const $ = (id) => document.getElementById(id);

export function element(tag, className, text) {
    const node = document.createElement(tag);
    if (className) node.className = className;
    if (text !== undefined) node.textContent = text;
    return node;
}

export function downloadLink(label, name, url) {
    const link = element("a", "download", label);
    link.href = url;
    link.download = name;
    return link;
}

const urls = new Map();  // element -> blob URLs it shows, released when it goes
// A URL of DATA (a Blob, or bytes of TYPE) that lives as long as OWNER.
export function blobUrl(owner, data, type) {
    const url = URL.createObjectURL(data instanceof Blob ? data : new Blob([data], {type}));
    if (!urls.has(owner)) urls.set(owner, []);
    urls.get(owner).push(url);
    return url;
}

// The blob URLs NODE shows are revoked.
export function revoke(node) {
    for (const url of urls.get(node) || []) URL.revokeObjectURL(url);
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
