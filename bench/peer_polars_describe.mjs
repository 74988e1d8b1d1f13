// Polars' describe() over every column of a CSV (npm nodejs-polars), for
// bench/describe.sh: reads the file and summarises it, prints the row count.
// The package is found beside this script or in NODE_PATH.
//
//   node peer_polars_describe.mjs FILE
import { createRequire } from 'module';
import path from 'path';
import { fileURLToPath } from 'url';

const here = path.dirname(fileURLToPath(import.meta.url));
const base = process.env.NODE_PATH ? path.join(process.env.NODE_PATH, 'x.js') : path.join(here, 'x.js');
const pl = createRequire(base)('nodejs-polars');

const df = pl.readCSV(process.argv[2]);
const d = df.describe();
console.log(JSON.stringify({ rows: df.height, statistics: d.height, columns: d.width }));
