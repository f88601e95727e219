// Reads a GeoParquet output with two independent readers, DuckDB and hyparquet, and checks it
// against the GeoJSON output of the same features: row count, column types, every value and every
// coordinate (decoded from the WKB here, 1e-9 degrees), the bbox covering column, the row groups and
// their statistics, zstd compression, dictionary pages and the `geo` metadata.
//   node check_geoparquet.mjs OUT.parquet OUT.geojson ROWS_PER_GROUP geographic|local [INTEGER,COLUMNS]
// Prints "ok: N rows in G row groups" and exits 0, or prints every fault and exits 1.
import { readFileSync } from 'node:fs';
import { DuckDBInstance } from '@duckdb/node-api';
import { asyncBufferFromFile, parquetReadObjects } from 'hyparquet';
import { compressors } from 'hyparquet-compressors';

const [parquetPath, geojsonPath, groupRowsText, coordinates, integerText] = process.argv.slice(2);
const integerColumns = new Set((integerText ?? '').split(',').filter((n) => n !== ''));
const groupRows = Number(groupRowsText);
const faults = [];
const fault = (what) => {
    if (faults.length < 50) faults.push(what);
};
const close = (a, b, tolerance) => typeof a === 'number' && typeof b === 'number' && Math.abs(a - b) <= tolerance;

const features = JSON.parse(readFileSync(geojsonPath, 'utf8')).features;
const names = features.length > 0 ? Object.keys(features[0].properties) : [];
const keyOf = (p) => JSON.stringify([p['地図名'], p['筆ID'], p['地番']]);
const expected = new Map();
for (const f of features) {
    const key = keyOf(f.properties);
    if (expected.has(key)) fault(`two GeoJSON features share the key ${key}`);
    expected.set(key, f);
}

// WKB MultiPolygon (little-endian) as GeoJSON coordinates.
function decodeWkb(bytes) {
    const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
    let at = 0;
    const u8 = () => view.getUint8(at++);
    const u32 = () => {
        const v = view.getUint32(at, true);
        at += 4;
        return v;
    };
    const f64 = () => {
        const v = view.getFloat64(at, true);
        at += 8;
        return v;
    };
    if (u8() !== 1 || u32() !== 6) throw new Error('not a little-endian WKB MultiPolygon');
    const polygons = [];
    for (let p = u32(); p > 0; --p) {
        if (u8() !== 1 || u32() !== 3) throw new Error('a part is not a little-endian WKB Polygon');
        const rings = [];
        for (let r = u32(); r > 0; --r) {
            const ring = [];
            for (let n = u32(); n > 0; --n) ring.push([f64(), f64()]);
            rings.push(ring);
        }
        polygons.push(rings);
    }
    if (at !== bytes.length) throw new Error(`${bytes.length - at} bytes after the WKB geometry`);
    return polygons;
}

function signedArea(ring) {
    let sum = 0;
    for (let i = 0; i + 1 < ring.length; ++i) sum += ring[i][0] * ring[i + 1][1] - ring[i + 1][0] * ring[i][1];
    return sum / 2;
}

function compareCoordinates(where, got, want) {
    if (want === null || got === null) {
        if (want !== got) fault(`${where}: geometry ${got === null ? 'null' : 'present'}, GeoJSON has ${want === null ? 'none' : 'one'}`);
        return;
    }
    if (got.length !== want.length) return fault(`${where}: ${got.length} polygons, GeoJSON has ${want.length}`);
    got.forEach((rings, p) => {
        if (rings.length !== want[p].length) return fault(`${where}: polygon ${p} has ${rings.length} rings, GeoJSON ${want[p].length}`);
        rings.forEach((ring, r) => {
            if (ring.length !== want[p][r].length) return fault(`${where}: ring ${p}/${r} has ${ring.length} points, GeoJSON ${want[p][r].length}`);
            ring.forEach((pt, i) => {
                const w = want[p][r][i];
                if (!close(pt[0], w[0], 1e-9) || !close(pt[1], w[1], 1e-9)) fault(`${where}: point ${p}/${r}/${i} ${pt} against ${w}`);
            });
            const area = signedArea(ring);
            if (r === 0 ? !(area > 0) : !(area < 0)) fault(`${where}: ring ${p}/${r} wound the wrong way`);
        });
    });
}

function compareValue(where, got, want) {
    if (typeof want === 'number') {
        if (!close(got, want, 1e-9 * Math.max(1, Math.abs(want)))) fault(`${where}: ${got} against ${want}`);
    } else if (got !== want) {
        fault(`${where}: ${JSON.stringify(got)} against ${JSON.stringify(want)}`);
    }
}

const instance = await DuckDBInstance.create(':memory:');
const db = await instance.connect();
const query = async (sql) => (await db.runAndReadAll(sql)).getRowObjects();
const quoted = `'${parquetPath.replaceAll("'", "''")}'`;
await db.run('SET enable_geoparquet_conversion = false');

// Types: texts VARCHAR, numbers DOUBLE (from the GeoJSON values) or INTEGER (the columns named so,
// their GeoJSON values whole numbers), the WKB a BLOB, the covering a struct.
const types = new Map((await query(`DESCRIBE SELECT * FROM read_parquet(${quoted})`)).map((r) => [r.column_name, r.column_type]));
for (const name of names) {
    const values = features.map((f) => f.properties[name]).filter((v) => v !== null);
    if (values.length === 0) continue;  // no value tells the type
    const want = typeof values[0] !== 'number' ? 'VARCHAR' : integerColumns.has(name) ? 'INTEGER' : 'DOUBLE';
    if (want === 'INTEGER' && !values.every((v) => Number.isInteger(v))) fault(`column ${name} has fractions in the GeoJSON`);
    if (types.get(name) !== want) fault(`column ${name} is ${types.get(name)}, expected ${want}`);
}
if (types.get('geometry') !== 'BLOB') fault(`geometry is ${types.get('geometry')}`);
if (types.get('bbox') !== 'STRUCT(xmin DOUBLE, ymin DOUBLE, xmax DOUBLE, ymax DOUBLE)') fault(`bbox is ${types.get('bbox')}`);
if (types.size !== names.length + 2) fault(`${types.size} columns for ${names.length} properties, the geometry and bbox`);

// Every row against its GeoJSON feature; the covering box against the decoded points.
const rows = await query(`SELECT * FROM read_parquet(${quoted})`);
if (rows.length !== features.length) fault(`DuckDB reads ${rows.length} rows, GeoJSON has ${features.length}`);
const seen = new Set();
const extent = [Infinity, Infinity, -Infinity, -Infinity];
const boxes = [];
rows.forEach((row, i) => {
    const key = keyOf(row);
    const feature = expected.get(key);
    if (feature === undefined) return fault(`row ${i} ${key} is not in the GeoJSON`);
    if (seen.has(key)) fault(`row ${i} ${key} comes twice`);
    seen.add(key);
    for (const name of names) compareValue(`${key} ${name}`, row[name], feature.properties[name]);
    const polygons = row.geometry === null ? null : decodeWkb(row.geometry.bytes);
    compareCoordinates(key, polygons, feature.geometry === null ? null : feature.geometry.coordinates);
    let box = null;
    if (polygons !== null) {
        const points = polygons.flat(2);
        box = [Math.min(...points.map((p) => p[0])), Math.min(...points.map((p) => p[1])),
               Math.max(...points.map((p) => p[0])), Math.max(...points.map((p) => p[1]))];
        for (let c = 0; c < 4; ++c) extent[c] = (c < 2 ? Math.min : Math.max)(extent[c], box[c]);
    }
    boxes.push(box);
    const covering = row.bbox === null ? null : ['xmin', 'ymin', 'xmax', 'ymax'].map((c) => row.bbox.entries[c]);
    if (JSON.stringify(covering) !== JSON.stringify(box)) fault(`${key}: bbox ${covering} against the points' ${box}`);
});

// Row groups of groupRows rows, every chunk zstd, statistics true to the rows of their group.
const chunks = await query(`SELECT * FROM parquet_metadata(${quoted})`);
const groupCount = Math.ceil(rows.length / groupRows);
const groups = new Set(chunks.map((c) => Number(c.row_group_id)));
if (groups.size !== groupCount) fault(`${groups.size} row groups, expected ${groupCount}`);
const columnNames = [...names, 'geometry', 'bbox, xmin', 'bbox, ymin', 'bbox, xmax', 'bbox, ymax'];
for (const c of chunks) {
    const g = Number(c.row_group_id);
    const first = g * groupRows;
    const groupOf = rows.slice(first, first + groupRows);
    if (Number(c.row_group_num_rows) !== groupOf.length) fault(`row group ${g} has ${c.row_group_num_rows} rows`);
    if (c.compression !== 'ZSTD') fault(`${c.path_in_schema} of group ${g} is ${c.compression}`);
    const column = columnNames.indexOf(c.path_in_schema);
    if (column < 0) {
        fault(`unexpected column ${c.path_in_schema}`);
        continue;
    }
    const values = groupOf.map((row, k) => {
        if (column >= names.length + 1) return boxes[first + k] === null ? null : boxes[first + k][column - names.length - 1];
        return column === names.length ? row.geometry : row[names[column]];
    });
    const present = values.filter((v) => v !== null);
    if (Number(c.stats_null_count) !== values.length - present.length) fault(`${c.path_in_schema} of group ${g}: null count ${c.stats_null_count}`);
    if (column === names.length || present.length === 0) continue;
    let lo = present[0];
    let hi = present[0];
    for (const v of present) {
        if (typeof v === 'number' ? v < lo : Buffer.compare(Buffer.from(v), Buffer.from(lo)) < 0) lo = v;
        if (typeof v === 'number' ? v > hi : Buffer.compare(Buffer.from(v), Buffer.from(hi)) > 0) hi = v;
    }
    const same = (stat, v) => (typeof v === 'number' ? Number(stat) === v : stat === v);
    if (!same(c.stats_min_value, lo) || !same(c.stats_max_value, hi)) {
        fault(`${c.path_in_schema} of group ${g}: statistics ${c.stats_min_value} .. ${c.stats_max_value}, rows ${lo} .. ${hi}`);
    }
    // A text that repeats in every row is dictionary-encoded.
    if (typeof present[0] === 'string' && present.length >= 2 && new Set(present).size === 1 && !c.encodings.includes('RLE_DICTIONARY')) {
        fault(`${c.path_in_schema} of group ${g} is not dictionary-encoded (${c.encodings})`);
    }
}
// Rows in the Hilbert order of their box centres on a 65536 x 65536 grid over the extent, the rows
// without shape last: the order that makes the row groups' statistics prune.
function hilbert(x, y) {
    const n = 65536;
    let d = 0;
    for (let s = n / 2; s >= 1; s /= 2) {
        const rx = (x & s) !== 0 ? 1 : 0;
        const ry = (y & s) !== 0 ? 1 : 0;
        d += s * s * ((3 * rx) ^ ry);
        if (ry === 0) {
            if (rx === 1) {
                x = n - 1 - x;
                y = n - 1 - y;
            }
            [x, y] = [y, x];
        }
    }
    return d;
}
const cell = (v, min, span) => (span > 0 ? Math.min(65535, Math.max(0, Math.floor(((v - min) / span) * 65535))) : 0);
const keys = boxes.map((b) => (b === null ? 2 ** 32
    : hilbert(cell((b[0] + b[2]) / 2, extent[0], extent[2] - extent[0]), cell((b[1] + b[3]) / 2, extent[1], extent[3] - extent[1]))));
for (let i = 1; i < keys.length; ++i) if (keys[i] < keys[i - 1]) fault(`row ${i} comes before row ${i - 1} in Hilbert order`);

// The geo metadata, as GeoParquet 1.1 defines it.
const kv = await query(`SELECT decode(key) AS key, decode(value) AS value FROM parquet_kv_metadata(${quoted})`);
const geoRow = kv.find((r) => r.key === 'geo');
if (geoRow === undefined) {
    fault('no geo metadata');
} else {
    const geo = JSON.parse(geoRow.value);
    const column = geo.columns?.geometry ?? {};
    const want = {
        version: geo.version === '1.1.0',
        primary_column: geo.primary_column === 'geometry',
        columns: Object.keys(geo.columns ?? {}).join() === 'geometry',
        encoding: column.encoding === 'WKB',
        geometry_types: JSON.stringify(column.geometry_types) === JSON.stringify(rows.length > 0 ? ['MultiPolygon'] : []),
        orientation: column.orientation === 'counterclockwise',
        crs: coordinates === 'local' ? column.crs === null
                                     : column.crs?.id?.authority === 'EPSG' && column.crs?.id?.code === 6668 &&
                                           column.crs?.type === 'GeographicCRS',
        bbox: rows.length === 0 ? column.bbox === undefined : JSON.stringify(column.bbox) === JSON.stringify(extent),
        covering: JSON.stringify(column.covering) ===
                      JSON.stringify({ bbox: { xmin: ['bbox', 'xmin'], ymin: ['bbox', 'ymin'], xmax: ['bbox', 'xmax'], ymax: ['bbox', 'ymax'] } }),
    };
    for (const [name, good] of Object.entries(want)) if (!good) fault(`geo metadata: ${name} is wrong in ${geoRow.value.slice(0, 400)}`);
}

// hyparquet, the second reader: the same rows in the same order, its own WKB decoding included.
const file = await asyncBufferFromFile(parquetPath);
const second = await parquetReadObjects({ file, compressors });
if (second.length !== rows.length) fault(`hyparquet reads ${second.length} rows, DuckDB ${rows.length}`);
second.forEach((row, i) => {
    if (i >= rows.length) return;
    const key = keyOf(row);
    if (key !== keyOf(rows[i])) return fault(`hyparquet row ${i} is ${key}, DuckDB's ${keyOf(rows[i])}`);
    const feature = expected.get(key);
    if (feature === undefined) return;
    for (const name of names) compareValue(`hyparquet ${key} ${name}`, row[name], feature.properties[name]);
    const geometry = row.geometry;
    const coordinatesOf = geometry === null || geometry === undefined ? null
                        : geometry instanceof Uint8Array ? decodeWkb(geometry) : geometry.coordinates;
    compareCoordinates(`hyparquet ${key}`, coordinatesOf, feature.geometry === null ? null : feature.geometry.coordinates);
});

if (faults.length > 0) {
    for (const f of faults) console.log(f);
    process.exit(1);
}
console.log(`ok: ${rows.length} rows in ${groupCount} row groups`);
