// The benchmark's analyses with Polars (npm nodejs-polars) for bench/run; the
// same work as peer_pandas.py (see its header), with readCSV and expressions.
// Prints one JSON object.
//
//   node peer_polars.mjs univariate FILE FIELD
//   node peer_polars.mjs outlier FILE FIELD std|tmean PARM
//   node peer_polars.mjs bivariate FILE PREDICTOR TARGET BINS numeric|text
import pl from 'nodejs-polars';

const a = process.argv.slice(2);
const num = (df) => Object.fromEntries(Object.entries(df.toRecords()[0]).map(([k, v]) => [k, Number(v)]));
let out;
if (a[0] === 'univariate' || a[0] === 'outlier') {
  const f = a[2];
  const df = pl.readCSV(a[1], { columns: [f] }).select(pl.col(f).alias('v'));
  const v = pl.col('v');
  out = num(df.select(v.count().alias('N'), v.nullCount().alias('Missing'), v.sum().alias('Sum'),
    v.mean().alias('Mean'), v.var().alias('Variance'), v.std().alias('Stdev'), v.min().alias('Min'),
    v.max().alias('Max'), v.quantile(0.25).alias('Q1'), v.median().alias('Median'), v.quantile(0.75).alias('Q3'),
    v.skew(false).alias('Skewness'), v.kurtosis(true, false).alias('Kurtosis')));
  const counts = df.filter(v.isNotNull()).groupBy('v').agg(pl.col('v').count().alias('n')).sort('v');
  const n = pl.col('n');
  Object.assign(out, num(counts.select(pl.lit(counts.height).alias('Cardinality'),
    n.eq(1).sum().alias('Uniques'), pl.col('v').sortBy(n, true).first().alias('Mode'))));
  if (a[0] === 'outlier') {
    const parm = Number(a[4]);
    let lo, hi;
    if (a[3] === 'std') {
      [lo, hi] = [out.Mean - parm * out.Stdev, out.Mean + parm * out.Stdev];
    } else {
      const t = (out.N * parm) / 100 / 2;
      const s = counts.withColumns(n.cumSum().alias('up'), n.cumSum(true).alias('down'));
      const first = num(s.filter(pl.col('up').gtEq(t)).select(pl.col('v').min().alias('x'))).x;
      const last = num(s.filter(pl.col('down').gtEq(t)).select(pl.col('v').max().alias('x'))).x;
      const tm = num(s.filter(pl.col('v').gt(first).and(pl.col('v').lt(last)))
        .select(pl.col('v').mul(n).sum().div(n.sum()).alias('tm'))).tm;
      out.TrimmedMean = tm;
      [lo, hi] = [(1 - parm / 200) * tm, (1 + parm / 200) * tm];
    }
    const table = counts.withColumns(pl.col('v').lt(lo).or(pl.col('v').gt(hi)).alias('Outlier'));
    out.OutlierCountN = num(table.filter(pl.col('Outlier')).select(n.sum().alias('k'))).k || 0;
  }
} else {
  const [p, t, bins] = [a[2], a[3], Number(a[4])];
  const df = pl.readCSV(a[1], { columns: [p, t] }).filter(pl.col(p).isNotNull().and(pl.col(t).isNotNull()));
  const g = df.groupBy(p).agg(pl.col(t).count().alias('n'), pl.col(t).sum().alias('s')).sort(p);
  out = num(g.select(pl.col('n').sum().alias('N'), pl.col('s').sum().div(pl.col('n').sum()).alias('TargetMean'),
    pl.lit(g.height).alias('Cardinality')));
  let table;
  if (a[5] === 'numeric' && g.height > bins) {
    const bin = pl.col('n').cumSum().sub(1).mul(bins).div(out.N).floor().clip(0, bins - 1).alias('bin');
    table = g.withColumns(bin).groupBy('bin').agg(pl.col('n').sum().alias('n'), pl.col(p).min().alias('lo'),
      pl.col(p).max().alias('hi'), pl.col('s').sum().alias('s'));
  } else {
    table = g;
  }
  table = table.withColumns(pl.col('s').div(pl.col('n')).round(5).alias('mean'))
    .withColumns(pl.col('mean').div(out.TargetMean).mul(100).round(0).alias('index'));
  out.Bins = table.height;
}
console.log(JSON.stringify(out));
