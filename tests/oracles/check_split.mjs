// Reads a folder of GeoParquet outputs split by prefecture as one dataset through DuckDB's Hive
// partitioning, and checks it against the single GeoJSON output of the same run: the same rows,
// every value and coordinate, 縮尺分母 an INTEGER, each row under the prefecture of its 市区町村コード.
//   node check_split.mjs FOLDER OUT.geojson
// Prints "ok: N rows in P partitions" and exits 0, or prints every fault and exits 1.
import { readFileSync } from 'node:fs';
import { DuckDBInstance } from '@duckdb/node-api';

const [folder, geojsonPath] = process.argv.slice(2);
const faults = [];
const fault = (what) => {
    if (faults.length < 50) faults.push(what);
};

const features = JSON.parse(readFileSync(geojsonPath, 'utf8')).features;
const names = features.length > 0 ? Object.keys(features[0].properties) : [];
const keyOf = (p) => JSON.stringify([p['市区町村コード'], p['地図名'], p['筆ID'], p['地番']]);
const expected = new Map(features.map((f) => [keyOf(f.properties), f]));
if (expected.size !== features.length) fault('GeoJSON features share a key');

const instance = await DuckDBInstance.create(':memory:');
const db = await instance.connect();
await db.run('SET enable_geoparquet_conversion = false');
const source = `read_parquet('${folder.replaceAll("'", "''")}/prefecture=*/*.parquet', hive_partitioning = true)`;
const types = new Map((await (await db.runAndReadAll(`DESCRIBE SELECT * FROM ${source}`)).getRowObjects())
    .map((r) => [r.column_name, r.column_type]));
if (types.get('縮尺分母') !== 'INTEGER') fault(`縮尺分母 is ${types.get('縮尺分母')}`);
if (!types.has('prefecture')) fault('no prefecture column from the folder names');
const rows = (await db.runAndReadAll(`SELECT * FROM ${source}`)).getRowObjects();
if (rows.length !== features.length) fault(`${rows.length} rows, the GeoJSON has ${features.length}`);

function wkbPoints(bytes) {
    const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
    const points = [];
    let at = 9;
    for (let p = view.getUint32(5, true); p > 0; --p) {
        const rings = view.getUint32(at + 5, true);
        at += 9;
        for (let r = 0; r < rings; ++r) {
            const n = view.getUint32(at, true);
            at += 4;
            for (let i = 0; i < n; ++i, at += 16) points.push([view.getFloat64(at, true), view.getFloat64(at + 8, true)]);
        }
    }
    return points;
}

const seen = new Set();
const partitions = new Set();
for (const row of rows) {
    const key = keyOf(row);
    const feature = expected.get(key);
    if (feature === undefined) {
        fault(`row ${key} is not in the GeoJSON`);
        continue;
    }
    if (seen.has(key)) fault(`row ${key} comes twice`);
    seen.add(key);
    partitions.add(String(row.prefecture));
    if (String(row.prefecture).padStart(2, '0') !== row['市区町村コード'].slice(0, 2)) {
        fault(`${key} is under prefecture=${row.prefecture}`);
    }
    for (const name of names) {
        const got = row[name];
        const want = feature.properties[name];
        const same = typeof want === 'number' ? Math.abs(got - want) <= 1e-9 * Math.max(1, Math.abs(want)) : got === want;
        if (!same) fault(`${key} ${name}: ${JSON.stringify(got)} against ${JSON.stringify(want)}`);
    }
    const want = feature.geometry === null ? [] : feature.geometry.coordinates.flat(2);
    const got = row.geometry === null ? [] : wkbPoints(row.geometry.bytes);
    if (got.length !== want.length) fault(`${key}: ${got.length} points, the GeoJSON has ${want.length}`);
    got.forEach((p, i) => {
        if (i < want.length && (Math.abs(p[0] - want[i][0]) > 1e-9 || Math.abs(p[1] - want[i][1]) > 1e-9)) {
            fault(`${key}: point ${i} ${p} against ${want[i]}`);
        }
    });
}

if (faults.length > 0) {
    for (const f of faults) console.log(f);
    process.exit(1);
}
console.log(`ok: ${rows.length} rows in ${partitions.size} partitions`);
