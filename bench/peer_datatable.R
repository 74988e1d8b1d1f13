# The benchmark's analyses with R data.table (bench/run); the same work as
# peer_pandas.py (see its header). Prints one JSON object.
#
#   Rscript peer_datatable.R univariate FILE FIELD
#   Rscript peer_datatable.R outlier FILE FIELD std|tmean PARM
#   Rscript peer_datatable.R bivariate FILE PREDICTOR TARGET BINS numeric|text
suppressPackageStartupMessages(library(data.table))
setDTthreads(0)
a <- commandArgs(trailingOnly = TRUE)
num <- function(x) format(x, digits = 17)
json <- function(l) cat("{", paste0('"', names(l), '": ', unlist(lapply(l, num)), collapse = ", "), "}\n")

moments <- function(v) {
  n <- length(v); m <- mean(v); d <- v - m
  s2 <- sum(d^2) / (n - 1); s <- sqrt(s2)
  skew <- n / ((n - 1) * (n - 2)) * sum((d / s)^3)
  kurt <- n * (n + 1) / ((n - 1) * (n - 2) * (n - 3)) * sum((d / s)^4) - 3 * (n - 1)^2 / ((n - 2) * (n - 3))
  list(m = m, s2 = s2, s = s, skew = skew, kurt = kurt)
}

if (a[1] == "univariate") {
  x <- fread(a[2], select = a[3])[[1]]
  v <- x[!is.na(x)]
  mo <- moments(v)
  counts <- data.table(v = v)[, .N, keyby = v]
  q <- quantile(v, c(0.25, 0.5, 0.75), names = FALSE)
  json(list(N = length(v), Missing = length(x) - length(v), Sum = sum(v), Mean = mo$m, Variance = mo$s2,
            Stdev = mo$s, Min = counts$v[1], Max = counts$v[nrow(counts)], Cardinality = nrow(counts),
            Uniques = sum(counts$N == 1), Mode = counts$v[which.max(counts$N)], Q1 = q[1], Median = q[2], Q3 = q[3],
            Skewness = mo$skew, Kurtosis = mo$kurt))
} else if (a[1] == "outlier") {
  parm <- as.numeric(a[5])
  x <- fread(a[2], select = a[3])[[1]]
  v <- x[!is.na(x)]
  mo <- moments(v)
  counts <- data.table(v = v)[, .N, keyby = v]
  q <- quantile(v, c(0.25, 0.5, 0.75), names = FALSE)
  total <- sum(counts$N)
  out <- list(N = total, Mean = mo$m, Stdev = mo$s, Cardinality = nrow(counts), Q1 = q[1], Median = q[2], Q3 = q[3])
  if (a[4] == "std") {
    counts[, Outlier := v < mo$m - parm * mo$s | v > mo$m + parm * mo$s]
  } else {
    t <- total * parm / 100 / 2
    lo <- which(cumsum(counts$N) >= t)[1]
    hi <- nrow(counts) + 1 - which(cumsum(rev(counts$N)) >= t)[1]
    kept <- seq_len(nrow(counts)) > lo & seq_len(nrow(counts)) < hi
    tm <- sum(counts$v[kept] * counts$N[kept]) / sum(counts$N[kept])
    out$TrimmedMean <- tm
    counts[, Outlier := v < (1 - parm / 200) * tm | v > (1 + parm / 200) * tm]
  }
  out$OutlierCountN <- counts[Outlier == TRUE, sum(N)]
  json(out)
} else {
  bins <- as.integer(a[5])
  dt <- fread(a[2], select = c(a[3], a[4]))
  setnames(dt, c("p", "t"))
  dt <- dt[!is.na(p) & !is.na(t)]
  g <- dt[, .(N = .N, S = sum(t)), keyby = p]
  total <- sum(g$N)
  tmean <- sum(g$S) / total
  if (a[6] == "numeric" && nrow(g) > bins) {
    g[, bin := pmin(((cumsum(N) - 1) * bins) %/% total, bins - 1)]
    tab <- g[, .(N = sum(N), Min = min(p), Max = max(p), S = sum(S)), keyby = bin]
  } else {
    tab <- g
  }
  tab[, Mean := round(S / N, 5)]
  tab[, Index := round(Mean / tmean * 100)]
  json(list(N = total, TargetMean = tmean, Cardinality = nrow(g), Bins = nrow(tab)))
}
