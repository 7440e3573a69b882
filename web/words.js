// The programs' messages as the page says them: options named by the page's own controls, no advice to read a
// program's --help. The programs' own lines stay as they are in the log.

const CONTROLS = {
    "colours": "“Colours”", "keep": "“Keep entries”", "from": "“from”", "force": "“replace an existing one”",
    "palette": "a palette for new textures", "type": "“type”", "embed-palette": "“embedded”", "match": "“Matching”",
    "dither": "“dithering”",
};

export function pageWords(text) {
    return text.split("\n")
        .filter((line) => !/^Try '.*--help' for more information\.?$/.test(line))
        .map((line) => line
            .replace(/; --force replaces it, keeping it as \S+/, ": tick “replace an existing one” to replace it")
            .replace(/--palette=NAME creates one/, "choose a palette for new textures to make one")
            .replace(/(?:option )?'--([a-z-]+)(?:=[^']*)?'/g, (all, name) => CONTROLS[name] || all)
            .replace(/--([a-z-]+)(?:=\S*)?/g, (all, name) => CONTROLS[name] || all))
        .join(" ").trim();
}
