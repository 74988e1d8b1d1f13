// The benchmark's analyses with DuckDB (npm @duckdb/node-api) for bench/run;
// the same work as peer_pandas.py (see its header), in SQL over read_csv.
// Prints one JSON object.
//
//   node peer_duckdb.mjs univariate FILE FIELD
//   node peer_duckdb.mjs outlier FILE FIELD std|tmean PARM
//   node peer_duckdb.mjs bivariate FILE PREDICTOR TARGET BINS numeric|text
import { DuckDBInstance } from '@duckdb/node-api';

const a = process.argv.slice(2);
const db = await DuckDBInstance.create(':memory:');
const conn = await db.connect();
const q = (s) => s.replace(/'/g, "''");
const id = (s) => '"' + s.replace(/"/g, '""') + '"';
async function rows(sql) {
  const reader = await conn.runAndReadAll(sql);
  return reader.getRowObjects().map((r) =>
    Object.fromEntries(Object.entries(r).map(([k, v]) => [k, typeof v === 'bigint' ? Number(v) : v])));
}
const src = (cols) => `read_csv('${q(a[1])}', header = true)`;

let out;
if (a[0] === 'univariate' || a[0] === 'outlier') {
  const f = id(a[2]);
  // The column once, then the value counts and the moments over it.
  await conn.run(`create temp table x as select ${f} as v from ${src()}`);
  await conn.run(`create temp table c as select v, count(*) as n from x where v is not null group by v order by v`);
  [out] = await rows(`select count(v) as "N", count(*) - count(v) as "Missing", sum(v) as "Sum", avg(v) as "Mean",
      var_samp(v) as "Variance", stddev_samp(v) as "Stdev", min(v) as "Min", max(v) as "Max",
      quantile_disc(v, 0.25) as "Q1", median(v) as "Median", quantile_disc(v, 0.75) as "Q3",
      skewness(v) as "Skewness", kurtosis(v) as "Kurtosis" from x`);
  const [c] = await rows(`select count(*) as "Cardinality", count(*) filter (where n = 1) as "Uniques",
      arg_max(v, n) as "Mode" from c`);
  Object.assign(out, c);
  if (a[0] === 'outlier') {
    const parm = Number(a[4]);
    let flag;
    if (a[3] === 'std') {
      flag = `v < ${out.Mean} - ${parm} * ${out.Stdev} or v > ${out.Mean} + ${parm} * ${out.Stdev}`;
    } else {
      const t = (out.N * parm) / 100 / 2;
      const [tm] = await rows(`with s as (select v, n, sum(n) over (order by v) as up,
            sum(n) over (order by v desc) as down from c),
          lo as (select min(v) as v from s where up >= ${t}), hi as (select max(v) as v from s where down >= ${t})
        select sum(v * n) / sum(n) as tm from s where v > (select v from lo) and v < (select v from hi)`);
      out.TrimmedMean = tm.tm;
      flag = `v < ${(1 - parm / 200) * tm.tm} or v > ${(1 + parm / 200) * tm.tm}`;
    }
    await conn.run(`create temp table r as select v as "Value", n as "N", (${flag}) as "Outlier" from c order by v`);
    const [k] = await rows(`select coalesce(sum("N"), 0) as k from r where "Outlier"`);
    out.OutlierCountN = k.k;
  }
} else {
  const [p, t, bins] = [id(a[2]), id(a[3]), Number(a[4])];
  await conn.run(`create temp table g as select ${p} as p, count(*) as n, sum(${t}) as s from ${src()}
      where ${p} is not null and ${t} is not null group by ${p} order by ${p}`);
  const [tot] = await rows(`select sum(n) as "N", sum(s) / sum(n) as "TargetMean", count(*) as "Cardinality" from g`);
  out = tot;
  let table;
  if (a[5] === 'numeric' && tot.Cardinality > bins) {
    table = `select least((sum(n) over (order by p) - 1) * ${bins} // ${tot.N}, ${bins - 1}) as bin, p, n, s from g`;
    table = `select bin, sum(n) as n, min(p) as lo, max(p) as hi, sum(s) as s from (${table}) group by bin`;
  } else {
    table = `select p as bin, n, p as lo, p as hi, s from g`;
  }
  const [b] = await rows(`select count(*) as "Bins", sum(round(round(s / n, 5) / ${tot.TargetMean} * 100)) as idx
      from (${table})`);
  out.Bins = b.Bins;
}
console.log(JSON.stringify(out));
