// Zip archives of stored entries (PNG and MAT files gain nothing from deflate here), written in memory.

const encoder = new TextEncoder();

const CRC_TABLE = (() => {
    const table = new Uint32Array(256);
    for (let n = 0; n < 256; n++) {
        let c = n;
        for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
        table[n] = c >>> 0;
    }
    return table;
})();

export function crc32(bytes) {
    let crc = 0xffffffff;
    for (let i = 0; i < bytes.length; i++) crc = CRC_TABLE[(crc ^ bytes[i]) & 0xff] ^ (crc >>> 8);
    return (crc ^ 0xffffffff) >>> 0;
}

// DOS date and time of NOW, as a zip entry holds them.
export function dosTime(now) {
    return {
        time: (now.getHours() << 11) | (now.getMinutes() << 5) | (now.getSeconds() >> 1),
        date: ((now.getFullYear() - 1980) << 9) | ((now.getMonth() + 1) << 5) | now.getDate(),
    };
}

// The parts of a zip of ENTRIES ([path, bytes]), names in UTF-8, dated NOW; past 65,535 entries zip64's end records
// give the count. The parts are what a Blob is made of.
export function zipParts(entries, now = new Date()) {
    const {time, date} = dosTime(now);
    const parts = [];
    const central = [];
    let offset = 0;
    for (const [path, bytes] of entries) {
        const name = encoder.encode(path);
        const local = new DataView(new ArrayBuffer(30));
        local.setUint32(0, 0x04034b50, true);
        local.setUint16(4, 20, true);       // version needed: 2.0
        local.setUint16(6, 0x0800, true);   // names in UTF-8; method 0: stored
        local.setUint16(10, time, true);
        local.setUint16(12, date, true);
        local.setUint32(14, crc32(bytes), true);
        local.setUint32(18, bytes.length, true);
        local.setUint32(22, bytes.length, true);
        local.setUint16(26, name.length, true);
        const entry = new DataView(new ArrayBuffer(46));
        entry.setUint32(0, 0x02014b50, true);
        entry.setUint16(4, 20, true);       // made by: 2.0
        new Uint8Array(entry.buffer).set(new Uint8Array(local.buffer, 4, 26), 6);  // the same fields as the local header
        entry.setUint32(42, offset, true);
        parts.push(local, name, bytes);
        central.push(entry, name);
        offset += 30 + name.length + bytes.length;
    }
    const size = central.reduce((sum, part) => sum + part.byteLength, 0);
    if (offset + size > 0xffffffff) throw new Error("the files come to more than 4 GB, more than a zip here holds");
    const records = [];
    if (entries.length > 0xffff) {
        const record = new DataView(new ArrayBuffer(76));
        record.setUint32(0, 0x06064b50, true);       // zip64 end of central directory
        record.setBigUint64(4, 44n, true);
        record.setUint16(12, 45, true);
        record.setUint16(14, 45, true);
        record.setBigUint64(24, BigInt(entries.length), true);
        record.setBigUint64(32, BigInt(entries.length), true);
        record.setBigUint64(40, BigInt(size), true);
        record.setBigUint64(48, BigInt(offset), true);
        record.setUint32(56, 0x07064b50, true);      // its locator
        record.setBigUint64(64, BigInt(offset + size), true);
        record.setUint32(72, 1, true);
        records.push(record);
    }
    const end = new DataView(new ArrayBuffer(22));
    end.setUint32(0, 0x06054b50, true);
    end.setUint16(8, Math.min(entries.length, 0xffff), true);
    end.setUint16(10, Math.min(entries.length, 0xffff), true);
    end.setUint32(12, size, true);
    end.setUint32(16, offset, true);
    return [...parts, ...central, ...records, end];
}

export const zip = (entries, now) => new Blob(zipParts(entries, now), {type: "application/zip"});
